#include "model/BaseFunction.h"
#include "model/GlobalData.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QScopedArrayPointer>
#include <QTemporaryDir>
#include <QtTest>
#include <cstring>

namespace {

QByteArray scrambled(const QByteArray &text)
{
    char buffer[BaseFunction::kCodecBufferSize] = {};
    std::memcpy(buffer, text.constData(), size_t(qMin(text.size(), int(sizeof buffer))));
    return QByteArray(BaseFunction::crypPasswd(buffer));
}

QByteArray restored(const QByteArray &text)
{
    char buffer[BaseFunction::kCodecBufferSize] = {};
    std::memcpy(buffer, text.constData(), size_t(qMin(text.size(), int(sizeof buffer))));
    return QByteArray(BaseFunction::deCrypPasswd(buffer));
}

// The codec says in the log when it leaves a password empty.
void expectLeftEmpty()
{
    QTest::ignoreMessage(
        QtWarningMsg, "a character of this text cannot be scrambled; the text is left empty");
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

} // namespace

class TestBaseFunction : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void formatDateTime_data();
    void formatDateTime();
    void calcSize_data();
    void calcSize();
    void readableRate_data();
    void readableRate();

    void codec_data();
    void codec();
    void codecRoundTripsEveryCarriableText();
    void codecStaysInsideItsBuffer();
    void codecReadsAShortLabelBuffer();

    void md5_data();
    void md5();
    void md5OfMissingFileIsEmpty();
    void md5EndsWhenTheFileIsShorterThanItsSize();

    void deleteFileOrFolder_data();
    void deleteFileOrFolder();

    void findVkgapinfo();

private:
    QTemporaryDir m_dir;
};

void TestBaseFunction::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(QDir::setCurrent(m_dir.path()));
}

void TestBaseFunction::formatDateTime_data()
{
    QTest::addColumn<qint64>("secs");
    QTest::addColumn<QString>("text");

    QTest::newRow("zero") << qint64(0) << "00:00:00";
    QTest::newRow("nine seconds") << qint64(9) << "00:00:09";
    QTest::newRow("ten minutes") << qint64(600) << "00:10:00";
    QTest::newRow("hour, minutes, seconds") << qint64(3725) << "01:02:05";
    QTest::newRow("ten hours") << qint64(36000) << "10:00:00";
    QTest::newRow("last second of a day") << qint64(86399) << "23:59:59";
    QTest::newRow("one day") << qint64(86400) << "1天:00:00:00";
    QTest::newRow("day and more") << qint64(90061) << "1天:01:01:01";
    QTest::newRow("many days") << qint64(100 * 86400 + 45296) << "100天:12:34:56";
    QTest::newRow("negative") << qint64(-5) << "00:00:00";
}

void TestBaseFunction::formatDateTime()
{
    QFETCH(qint64, secs);
    QFETCH(QString, text);
    QCOMPARE(BaseFunction::formatDateTime(secs), text);
}

void TestBaseFunction::calcSize_data()
{
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<QString>("text");

    QTest::newRow("zero") << qint64(0) << "0 bytes";
    QTest::newRow("1024") << qint64(1024) << "1024 bytes";
    QTest::newRow("1025") << qint64(1025) << "1.00KB";
    QTest::newRow("1.5 KiB") << qint64(1536) << "1.50KB";
    QTest::newRow("1 MiB") << qint64(1048576) << "1024.00KB";
    QTest::newRow("1 MiB + 1") << qint64(1048577) << "1.00MB";
    QTest::newRow("1 GiB") << qint64(1073741824) << "1024.00MB";
    QTest::newRow("1 GiB + 1") << qint64(1073741825) << "1.00GB";
    QTest::newRow("5 TiB") << qint64(5) * 1024 * 1073741824 << "5120.00GB";
}

void TestBaseFunction::calcSize()
{
    QFETCH(qint64, bytes);
    QFETCH(QString, text);
    QCOMPARE(BaseFunction::calcSize(bytes), text);
}

void TestBaseFunction::readableRate_data()
{
    QTest::addColumn<quint64>("rate");
    QTest::addColumn<QString>("text");

    QTest::newRow("zero") << quint64(0) << "0 byte/s";
    QTest::newRow("1023") << quint64(1023) << "1023 byte/s";
    QTest::newRow("1024") << quint64(1024) << "1 KB/s";
    QTest::newRow("1536") << quint64(1536) << "1.5 KB/s";
    QTest::newRow("1048575") << quint64(1048575) << "1024 KB/s";
    QTest::newRow("1048576") << quint64(1048576) << "1 MB/s";
    QTest::newRow("third of a MiB over") << quint64(1048576 + 349525) << "1.33333 MB/s";
    QTest::newRow("1073741823") << quint64(1073741823) << "1024 MB/s";
    QTest::newRow("1073741824") << quint64(1073741824) << "1 GB/s";
}

void TestBaseFunction::readableRate()
{
    QFETCH(quint64, rate);
    QFETCH(QString, text);
    QCOMPARE(BaseFunction::readableRate(rate), text);
}

void TestBaseFunction::codec_data()
{
    QTest::addColumn<QByteArray>("plain");
    QTest::addColumn<QByteArray>("scrambled");
    QTest::addColumn<QByteArray>("restored");

    QTest::newRow("empty") << QByteArray() << QByteArray() << QByteArray();
    QTest::newRow("one char shifted by 2") << QByteArray("a") << QByteArray("c") << QByteArray("a");
    QTest::newRow("two chars swapped, +1")
        << QByteArray("ab") << QByteArray("cb") << QByteArray("ab");
    QTest::newRow("three chars, k = 0")
        << QByteArray("abc") << QByteArray("cba") << QByteArray("abc");
    QTest::newRow("four chars, k = 7")
        << QByteArray("abcd") << QByteArray("jkih") << QByteArray("abcd");
    QTest::newRow("19 chars, k = 16")
        << QByteArray("abcdefghijklmnopqrs") << QByteArray("stuvwxyz{|}~\x7f\x80\x81\x82\x83rq")
        << QByteArray("abcdefghijklmnopqrs");
    QTest::newRow("longer input cut at 19")
        << QByteArray("abcdefghijklmnopqrsTUV") << QByteArray("stuvwxyz{|}~\x7f\x80\x81\x82\x83rq")
        << QByteArray("abcdefghijklmnopqrs");
    QTest::newRow("latin-1 wraps past 255")
        << QByteArray("\xfa\xfb\xfe\xf0") << QByteArray("\x05\xf7\x02\x01")
        << QByteArray("\xfa\xfb\xfe\xf0");
    // 0xfc + 4 wraps to NUL: the scrambled text would end early and restore to another
    // password, so the password is left empty instead.
    QTest::newRow("a byte would become NUL")
        << QByteArray("pass\xfcrd") << QByteArray() << QByteArray();
}

void TestBaseFunction::codec()
{
    QFETCH(QByteArray, plain);
    QFETCH(QByteArray, scrambled);
    QFETCH(QByteArray, restored);

    if (!plain.isEmpty() && scrambled.isEmpty())
        expectLeftEmpty();
    QCOMPARE(::scrambled(plain), scrambled);
    QCOMPARE(::restored(scrambled), restored);
    QCOMPARE(BaseFunction::canScramble(plain), restored == plain);
}

void TestBaseFunction::codecRoundTripsEveryCarriableText()
{
    // Every length and every byte value in every place of the reordering.
    for (int n = 1; n <= BaseFunction::kCodecMaxLength; ++n) {
        for (int position = 0; position < n; ++position) {
            for (int value = 1; value < 256; ++value) {
                QByteArray text(n, 'x');
                text[position] = char(value);
                const bool carried = BaseFunction::canScramble(text);
                if (!carried)
                    expectLeftEmpty();
                QCOMPARE(restored(scrambled(text)), carried ? text : QByteArray());
            }
        }
    }
}

void TestBaseFunction::codecStaysInsideItsBuffer()
{
    // A 20-byte field without any terminator, followed by bytes the codec must never touch.
    char memory[BaseFunction::kCodecBufferSize + 4];
    std::memset(memory, 'z', sizeof memory);
    BaseFunction::crypPasswd(memory);
    QCOMPARE(memory[BaseFunction::kCodecMaxLength], '\0');
    QCOMPARE(QByteArray(memory + BaseFunction::kCodecBufferSize, 4), QByteArray(4, 'z'));

    std::memset(memory, 'z', sizeof memory);
    BaseFunction::deCrypPasswd(memory);
    QCOMPARE(memory[BaseFunction::kCodecMaxLength], '\0');
    QCOMPARE(QByteArray(memory + BaseFunction::kCodecBufferSize, 4), QByteArray(4, 'z'));
}

void TestBaseFunction::codecReadsAShortLabelBuffer()
{
    // A file's security label is restored in a zeroed 6-byte buffer; a heap buffer of exactly
    // that size lets the address sanitizer see any access past it.
    QScopedArrayPointer<char> label(new char[6]());
    std::memcpy(label.data(), "rrukn", 5);
    QCOMPARE(QByteArray(BaseFunction::deCrypPasswd(label.data())), QByteArray("hello"));
    QCOMPARE(scrambled("hello"), QByteArray("rrukn"));
}

void TestBaseFunction::md5_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QByteArray>("digest");

    QTest::newRow("empty") << QByteArray() << QByteArray("D41D8CD98F00B204E9800998ECF8427E");
    QTest::newRow("known text") << QByteArray("The quick brown fox jumps over the lazy dog")
                                << QByteArray("9E107D9D372BB6826BD81D3542A419D6");
    // Several chunks and a partial last one; the digest of a million 'a' is a published value.
    QTest::newRow("a million a") << QByteArray(1000000, 'a')
                                 << QByteArray("7707D6AE4E027C70EEA2A935C2296F21");
}

void TestBaseFunction::md5()
{
    QFETCH(QByteArray, content);
    QFETCH(QByteArray, digest);
    const QString path = m_dir.filePath(QStringLiteral("hashed.bin"));
    QVERIFY(writeFile(path, content));
    QCOMPARE(BaseFunction::getFileMd5(path), digest);
}

void TestBaseFunction::md5OfMissingFileIsEmpty()
{
    QTest::ignoreMessage(QtDebugMsg, "MD5 file open error.");
    QCOMPARE(BaseFunction::getFileMd5(m_dir.filePath(QStringLiteral("missing"))), QByteArray());
}

void TestBaseFunction::md5EndsWhenTheFileIsShorterThanItsSize()
{
    // A sysfs attribute reports a size of a page but yields only a few bytes, exactly as a file
    // that shrinks while it is hashed: the loop must end, and with no digest.
    const QString path = QStringLiteral("/sys/devices/system/cpu/online");
    const QFileInfo info(path);
    if (!info.exists() || info.size() <= 16)
        QSKIP("no sysfs attribute with a page-sized report here");
    QCOMPARE(BaseFunction::getFileMd5(path), QByteArray());
}

void TestBaseFunction::deleteFileOrFolder_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("result");
    QTest::addColumn<bool>("existsAfter");

    QTest::newRow("empty path") << QString() << false << false;
    QTest::newRow("missing") << "missing.txt" << false << false;
    QTest::newRow("relative file") << "file.txt" << true << false;
    QTest::newRow("absolute file") << "ABS/file.txt" << true << false;
    QTest::newRow("directory stays") << "folder" << true << true;
}

void TestBaseFunction::deleteFileOrFolder()
{
    QFETCH(QString, path);
    QFETCH(bool, result);
    QFETCH(bool, existsAfter);

    QVERIFY(writeFile(m_dir.filePath(QStringLiteral("file.txt")), "x"));
    QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("folder")));
    path.replace(QStringLiteral("ABS"), m_dir.path());

    QCOMPARE(BaseFunction::DeleteFileOrFolder(path), result);
    QCOMPARE(!path.isEmpty() && QFileInfo::exists(path), existsAfter);
}

void TestBaseFunction::findVkgapinfo()
{
    auto *v4 = new _VKGAPIP_CONF;
    auto *v6 = new _VKGAPIP_CONF;
    auto *twin = new _VKGAPIP_CONF;
    copyToField(v4->HostIP, kHostIPSize, "192.0.2.7");
    copyToField(v6->HostIP, kHostIPSize, "fe80::1");
    copyToField(twin->HostIP, kHostIPSize, "192.0.2.7");
    g_GapInfoList.append(v4);
    g_GapInfoList.append(v6);
    g_GapInfoList.append(twin);

    QCOMPARE(BaseFunction::findVkgapinfo(QStringLiteral("192.0.2.7")), v4); // first match
    QCOMPARE(BaseFunction::findVkgapinfo(QStringLiteral("fe80::1")), v6);
    QCOMPARE(BaseFunction::findVkgapinfo(QStringLiteral("FE80::1")), nullptr);
    QCOMPARE(BaseFunction::findVkgapinfo(QStringLiteral("192.0.2.7 ")), nullptr);
    QCOMPARE(BaseFunction::findVkgapinfo(QStringLiteral("192.0.2.")), nullptr);
    QCOMPARE(BaseFunction::findVkgapinfo(QString()), nullptr);

    QVERIFY(g_GapInfoList.removeOne(v6));
    QCOMPARE(BaseFunction::findVkgapinfo(QStringLiteral("fe80::1")), nullptr);
    QVERIFY(g_GapInfoList.removeOne(v4));
    QCOMPARE(BaseFunction::findVkgapinfo(QStringLiteral("192.0.2.7")), twin);

    g_GapInfoList.clear();
    delete v4;
    delete v6;
    delete twin;
}

QTEST_GUILESS_MAIN(TestBaseFunction)
#include "tst_basefunction.moc"
