// The receiving worker over real sockets against a receive directory that holds links, long
// names and taken names. Whatever the row: nothing outside the receive directory appears or
// changes, no entry that was there changes, and each file is either refused at its descriptor or
// lands under a new name inside the receive directory.

#include "model/GlobalData.h"
#include "receive/ReceiverFiles.h"
#include "receive/ReceiverFixture.h"
#include "support/TestSupport.h"
#include "tools/gapsim/GapWire.h"

#include <QDirIterator>
#include <QFileInfo>
#include <QMap>
#include <QTemporaryDir>
#include <QtTest>

using namespace GapWire;
using namespace ReceiverFiles;

namespace {

using Snapshot = QMap<QString, QString>;

// Every entry below root, links included and not followed, with what it is: a directory, a link
// and its target, or a file with its digest and modification time.
Snapshot snapshot(const QString &root)
{
    Snapshot entries;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
        QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        QString what = QStringLiteral("dir");
        if (info.isSymLink())
            what = QStringLiteral("link to ") + info.symLinkTarget();
        else if (info.isFile())
            what = QStringLiteral("file %1 %2")
                       .arg(QString::fromLatin1(md5Of(readFile(info.filePath()))),
                           QString::number(info.lastModified().toMSecsSinceEpoch()));
        entries.insert(QDir(root).relativeFilePath(info.filePath()), what);
    }
    return entries;
}

// A receive directory "recv" and a directory "outside" beside it, set up from lines
// "dir:PATH", "file:PATH" (holding "old") and "link:PATH->TARGET", paths relative to the root.
bool setUp(const QString &root, const QStringList &setup)
{
    bool ok
        = QDir(root).mkpath(QStringLiteral("recv")) && QDir(root).mkpath(QStringLiteral("outside"));
    for (const QString &line : setup) {
        const QString kind = line.section(':', 0, 0);
        const QString rest = line.section(':', 1);
        const QString path = root + '/' + rest.section(QStringLiteral("->"), 0, 0);
        if (kind == QLatin1String("dir")) {
            ok = ok && QDir().mkpath(path);
        } else if (kind == QLatin1String("file")) {
            QFile file(path);
            ok = ok && file.open(QIODevice::WriteOnly) && file.write("old") == 3;
        } else {
            ok = ok && QFile::link(rest.section(QStringLiteral("->"), 1), path);
        }
    }
    return ok;
}

QString fileEntry(const QString &line) { return QStringLiteral("file:recv/") + line; }

} // namespace

class TestRecvHostileFs : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(TestSupport::enterDir(m_workDir)); }
    void hostileFileSystem_data();
    void hostileFileSystem();
    void nameTakenBeforeCommit_data();
    void nameTakenBeforeCommit();

private:
    QTemporaryDir m_workDir; // the audit store lands here
};

void TestRecvHostileFs::hostileFileSystem_data()
{
    QTest::addColumn<QStringList>("setup");
    QTest::addColumn<QByteArrayList>("deliveries");
    QTest::addColumn<bool>("refused");

    // Taken names that leave no room for a stamp of 14 bytes: the stamped name gives up the end
    // of the name, not the file.
    const QByteArray longName(245, 'x');
    const QByteArray longNameWithSuffix = QByteArray(240, 'y') + ".txt";
    QTest::newRow("linked sub-directory") << QStringList { "link:recv/linkdir->../outside" }
                                          << QByteArrayList { "linkdir/x/evil.txt" } << true;
    QTest::newRow("dangling link at the final name")
        << QStringList { "link:recv/dangle.txt->../outside/planted.txt" }
        << QByteArrayList { "dangle.txt" } << false;
    QTest::newRow("link to a file outside at the final name")
        << QStringList { "file:outside/target.txt", "link:recv/t.txt->../outside/target.txt" }
        << QByteArrayList { "t.txt" } << false;
    QTest::newRow("dangling link at the final name of a sub-directory")
        << QStringList { "dir:recv/s", "link:recv/s/f.txt->../../outside/p.txt" }
        << QByteArrayList { "s/f.txt" } << false;
    QTest::newRow("link at a middle element")
        << QStringList { "dir:recv/a", "link:recv/a/mid->../../outside" }
        << QByteArrayList { "a/mid/b/c.txt" } << true;
    QTest::newRow("link at a middle element that stays inside")
        << QStringList { "dir:recv/a", "dir:recv/b", "link:recv/a/in->../b" }
        << QByteArrayList { "a/in/c.txt" } << true;
    QTest::newRow("existing 245-byte name")
        << QStringList { fileEntry(QString::fromLatin1(longName)) } << QByteArrayList { longName }
        << false;
    QTest::newRow("existing 244-byte name with a suffix, twice")
        << QStringList { fileEntry(QString::fromLatin1(longNameWithSuffix)) }
        << QByteArrayList { longNameWithSuffix, longNameWithSuffix } << false;
    QTest::newRow("200-byte invalid UTF-8 name")
        << QStringList() << QByteArrayList { QByteArray(200, '\xff') } << true;
    QTest::newRow("name that collides twice in one minute")
        << QStringList { "file:recv/c.txt" } << QByteArrayList { "c.txt", "c.txt" } << false;
}

void TestRecvHostileFs::hostileFileSystem()
{
    QFETCH(QStringList, setup);
    QFETCH(QByteArrayList, deliveries);
    QFETCH(bool, refused);

    QTemporaryDir root(m_workDir.filePath("world-XXXXXX"));
    QVERIFY(setUp(root.path(), setup));
    const QString recvDir = root.filePath("recv");
    const Snapshot before = snapshot(root.path());
    ReceiverFixture fixture(recvDir);
    QByteArrayList contents;
    for (const QByteArray &relativePath : deliveries) {
        const QByteArray content = contentOfSize(3000 + contents.size(), contents.size());
        contents.append(content);
        QTcpSocket gap;
        QVERIFY(fixture.connectGap(gap));
        QVERIFY(send(gap,
            descriptor(content.size(), ReceiverFixture::kRuleKey, relativePath, md5Of(content))));
        const quint64 response = u64(readBytes(gap, kPacket), 0);
        if (refused) {
            QCOMPARE(response, quint64(13));
            QVERIFY(waitForClose(gap));
        } else {
            QCOMPARE(response, quint64(9));
            QVERIFY(send(gap, contentPackets(content)));
            QCOMPARE(u64(readBytes(gap, kPacket), 0), quint64(5));
        }
        QVERIFY(fixture.waitForWorkers());
    }
    const Snapshot after = snapshot(root.path());

    for (auto it = before.cbegin(); it != before.cend(); ++it)
        QCOMPARE(after.value(it.key()), it.value());
    QByteArrayList landed;
    for (auto it = after.cbegin(); it != after.cend(); ++it) {
        if (before.contains(it.key()) || it.value() == QLatin1String("dir"))
            continue;
        QVERIFY2(it.key().startsWith(QLatin1String("recv/")), qPrintable(it.key()));
        QVERIFY2(it.value().startsWith(QLatin1String("file ")), qPrintable(it.value()));
        landed.append(readFile(root.filePath(it.key())));
    }
    std::sort(landed.begin(), landed.end());
    std::sort(contents.begin(), contents.end());
    QCOMPARE(landed, refused ? QByteArrayList() : contents);
    QCOMPARE(partFilesUnder(recvDir), QStringList());
    QCOMPARE(fixture.rule()->useCount.load(), 0);
}

void TestRecvHostileFs::nameTakenBeforeCommit_data()
{
    QTest::addColumn<QString>("entry"); // what appears at the name while the content arrives
    QTest::newRow("a file") << "file:recv/race/r.txt";
    QTest::newRow("a dangling link") << "link:recv/race/r.txt->../../outside/planted.txt";
    QTest::newRow("a link to a file outside") << "link:recv/race/r.txt->../../outside/target.txt";
    QTest::newRow("a directory") << "dir:recv/race/r.txt";
}

// The name was free when the descriptor chose it and is taken by the time the content is
// verified: the commit never replaces what took it, and the file takes a stamped name instead.
void TestRecvHostileFs::nameTakenBeforeCommit()
{
    QFETCH(QString, entry);

    QTemporaryDir root(m_workDir.filePath("world-XXXXXX"));
    QVERIFY(setUp(root.path(), { "file:outside/target.txt", "dir:recv/race" }));
    const QString recvDir = root.filePath("recv");
    ReceiverFixture fixture(recvDir);
    const QByteArray content = contentOfSize(kPayload * 150 + 7);
    QTcpSocket gap;
    QVERIFY(fixture.connectGap(gap));
    QVERIFY(send(
        gap, descriptor(content.size(), ReceiverFixture::kRuleKey, "race/r.txt", md5Of(content))));
    QCOMPARE(u64(readBytes(gap, kPacket), 0), quint64(9));
    QVERIFY(setUp(root.path(), { entry }));
    const Snapshot before = snapshot(root.path());
    QVERIFY(send(gap, contentPackets(content)));
    QCOMPARE(u64(readBytes(gap, kPacket), 0), quint64(5));
    QVERIFY(fixture.waitForWorkers());
    const Snapshot after = snapshot(root.path());

    Snapshot added;
    for (auto it = after.cbegin(); it != after.cend(); ++it) {
        if (!it.key().contains(QLatin1String(".gaprecv-")))
            QCOMPARE(before.value(it.key(), it.value()), it.value());
        if (!before.contains(it.key()))
            added.insert(it.key(), it.value());
    }
    QCOMPARE(added.size(), 1);
    const QString stamped = added.firstKey();
    QVERIFY2(QRegularExpression(QStringLiteral("^recv/\\d{8}_\\d{4}_r\\.txt$"))
                 .match(stamped)
                 .hasMatch(),
        qPrintable(stamped));
    QCOMPARE(readFile(root.filePath(stamped)), content);
    QCOMPARE(fixture.lastReport().at(0), stamped.mid(5));
    QCOMPARE(partFilesUnder(recvDir), QStringList());
}

QTEST_MAIN(TestRecvHostileFs)
#include "tst_recvhostilefs.moc"
