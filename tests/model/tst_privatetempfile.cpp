// Private temporary files: where they go, and that nobody but their owner can read them.

#include "model/PrivateTempFile.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QtTest>
#include <sys/stat.h>

class TestPrivateTempFile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void directory_data();
    void directory();
    void ownerOnlyWhateverTheUmask();

private:
    QTemporaryDir m_runtime;
    QTemporaryDir m_temp;
};

void TestPrivateTempFile::initTestCase()
{
    QVERIFY(m_runtime.isValid());
    QVERIFY(m_temp.isValid());
    qputenv("TMPDIR", QFile::encodeName(m_temp.path()));
    QCOMPARE(QDir::tempPath(), QDir(m_temp.path()).canonicalPath());
}

void TestPrivateTempFile::cleanup() { qunsetenv("XDG_RUNTIME_DIR"); }

void TestPrivateTempFile::directory_data()
{
    QTest::addColumn<QString>("runtime"); // empty: not set
    QTest::addColumn<bool>("inRuntime");

    QTest::newRow("runtime directory") << m_runtime.path() << true;
    QTest::newRow("not set") << QString() << false;
    QTest::newRow("missing") << m_runtime.filePath("gone") << false;
    QTest::newRow("relative") << QStringLiteral("run/user") << false;
    QTest::newRow("a file") << m_runtime.filePath("plain") << false;
}

void TestPrivateTempFile::directory()
{
    QFETCH(QString, runtime);
    QFETCH(bool, inRuntime);
    QFile plain(m_runtime.filePath("plain"));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();
    if (!runtime.isEmpty())
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));

    const QString expected = inRuntime ? m_runtime.path() : QDir::tempPath();
    QCOMPARE(PrivateTempFile::preferredDirectory(), expected);
    QTemporaryFile file;
    QVERIFY(PrivateTempFile::open(&file, QStringLiteral("stem")));
    QCOMPARE(QFileInfo(file.fileName()).absolutePath(), expected);
    QVERIFY(QFileInfo(file.fileName()).fileName().startsWith(QLatin1String("stem-")));
    QCOMPARE(file.write("data"), qint64(4));
}

void TestPrivateTempFile::ownerOnlyWhateverTheUmask()
{
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime.path()));
    const mode_t previous = ::umask(0);
    QTemporaryFile file;
    const bool opened = PrivateTempFile::open(&file, QStringLiteral("key"));
    ::umask(previous);
    QVERIFY(opened);
    struct stat st;
    QCOMPARE(::stat(QFile::encodeName(file.fileName()).constData(), &st), 0);
    QCOMPARE(st.st_mode & 07777, mode_t(0600));
    // Two files never share a name.
    QTemporaryFile other;
    QVERIFY(PrivateTempFile::open(&other, QStringLiteral("key")));
    QVERIFY(other.fileName() != file.fileName());
}

QTEST_GUILESS_MAIN(TestPrivateTempFile)
#include "tst_privatetempfile.moc"
