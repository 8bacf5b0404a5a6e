// The security label at the end of a file and the filter that holds it against the sending and
// the receiving user's levels.

#include "SenderFixture.h"
#include "model/BaseFunction.h"
#include "send/SendWorkThread.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString kSenderRefused = QStringLiteral("传输失败,发送方没有权限发送该文件");
const QString kReceiverRefused = QStringLiteral("接收方没有权限接收该文件");

// A text as the label stores it: scrambled with the password codec.
QByteArray scrambled(const char *text)
{
    char buffer[BaseFunction::kCodecBufferSize] = {};
    qstrncpy(buffer, text, sizeof buffer);
    return QByteArray(BaseFunction::crypPasswd(buffer));
}

QByteArray label(const char *word) { return scrambled("hello") + scrambled(word); }

} // namespace

class tst_SecurityFilter : public QObject
{
    Q_OBJECT

private slots:
    void filter_data();
    void filter();
};

void tst_SecurityFilter::filter_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("senderLevel");
    QTest::addColumn<int>("receiverLevel");
    QTest::addColumn<int>("fileLevel");
    QTest::addColumn<QString>("refusal"); // empty: the file passes

    const QByteArray body("quarterly figures\n");
    QTest::newRow("9 bytes are never inspected") << label("high") << 2 << 2 << 3 << QString();
    QTest::newRow("10 bytes carry a label") << "x" + label("high") << 0 << 0 << 0 << QString();
    QTest::newRow("no label") << body << 0 << 0 << 3 << QString();
    QTest::newRow("mark not hello")
        << body + scrambled("hellx") + scrambled("high") << 2 << 2 << 3 << QString();
    QTest::newRow("unknown level word") << body + label("tops") << 2 << 2 << 3 << QString();
    QTest::newRow("midd, sender 1, receiver 0") << body + label("midd") << 1 << 0 << 1 << QString();
    QTest::newRow("high, sender 1, receiver 0")
        << body + label("high") << 1 << 0 << 0 << kSenderRefused;
    QTest::newRow("midd, sender 0, receiver 2")
        << body + label("midd") << 0 << 2 << 1 << kReceiverRefused;
    QTest::newRow("loww, sender 0, receiver 2") << body + label("loww") << 0 << 2 << 2 << QString();
    QTest::newRow("both too strict: the sender is named")
        << body + label("loww") << 3 << 3 << 2 << kSenderRefused;
}

void tst_SecurityFilter::filter()
{
    QFETCH(QByteArray, content);
    QFETCH(int, senderLevel);
    QFETCH(int, receiverLevel);
    QFETCH(int, fileLevel);
    QFETCH(QString, refusal);

    QTemporaryDir dir;
    SenderFixture fixture(dir.path());
    _FINDFILEINFO *record = fixture.addFile(QStringLiteral("labelled.txt"), content);
    QVERIFY(record);
    fixture.gap.rightLevel = senderLevel;
    fixture.rule.RecviverLevel = receiverLevel;
    auto *worker = new SendWorkThread(&fixture.rule, record);
    QScopedPointer<SendWorkThread> owner(worker);
    fixture.watch(worker);

    QFile file(record->filePath);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.seek(3));
    QCOMPARE(worker->getSecurityByFileName(&file), fileLevel);
    QCOMPARE(file.pos(), qint64(0));

    TransferStateInfo info;
    QCOMPARE(worker->fileSecurityFilter(&file, &fixture.rule, &fixture.gap, info),
        refusal.isEmpty() ? 0 : 1);
    // Reading for the transfer starts at the first byte either way.
    QCOMPARE(file.pos(), qint64(0));
    QCOMPARE(file.read(content.size() + 1), content);
    if (refusal.isEmpty()) {
        QVERIFY(fixture.rows.isEmpty());
        return;
    }
    QCOMPARE(fixture.rows.size(), 1);
    const TransferStateInfo row = fixture.rows.last();
    QCOMPARE(row.at(7), refusal);
    QVERIFY(!row.at(5).isEmpty());
    QCOMPARE(row.at(6), row.at(5));
}

QTEST_GUILESS_MAIN(tst_SecurityFilter)
#include "tst_securityfilter.moc"
