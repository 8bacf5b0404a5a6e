// What a receiver leaves behind when it dies mid-file, and what the sweep removes: where the file
// system holds unnamed files nothing is left at all; where it does not, the part file of the dead
// transfer goes with the sweep while a running transfer's stays, and no file a peer delivered is
// ever taken for a part file, whatever its name. And the order in which a file is put on disk
// before its confirmation, with unnamed files and without.

#include "model/GlobalData.h"
#include "receive/ReceiveFaults.h"
#include "receive/ReceiveFaultsPreload.h"
#include "receive/ReceiverFiles.h"
#include "receive/ReceiverFixture.h"
#include "receive/RecvContentFile.h"
#include "receive/RecvPartFiles.h"
#include "receive/RecvWorkThread.h"
#include "support/TestSupport.h"
#include "tools/gapsim/GapWire.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using namespace GapWire;
using namespace ReceiverFiles;

namespace {

constexpr int kBlock = 100 * kPayload;

QRegularExpression removalLine(const QString &dir)
{
    return QRegularExpression(QStringLiteral("^removed a part file no transfer holds: %1/")
                                  .arg(QRegularExpression::escape(dir)));
}

// File-system faults of this process for as long as it exists.
class Faults
{
public:
    Faults(bool noUnnamedFiles, bool noLocks)
    {
        ReceiveFaults::setNoUnnamedFiles(noUnnamedFiles);
        ReceiveFaults::setLocksRefused(noLocks);
    }
    ~Faults()
    {
        ReceiveFaults::setNoUnnamedFiles(false);
        ReceiveFaults::setLocksRefused(false);
    }
    Faults(const Faults &) = delete;
    Faults &operator=(const Faults &) = delete;
};

// The gap's side of one connection, played from a script; each answer of the worker is marked in
// the trace of calls where it is written.
class ScriptedGap : public QIODevice
{
public:
    explicit ScriptedGap(const QByteArray &script)
        : m_script(script)
    {
        open(QIODevice::ReadWrite | QIODevice::Unbuffered);
    }
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override
    {
        return m_script.size() - m_at + QIODevice::bytesAvailable();
    }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        const qint64 n = qMin(maxSize, qint64(m_script.size() - m_at));
        std::memcpy(data, m_script.constData() + m_at, size_t(n));
        m_at += int(n);
        return n;
    }
    qint64 writeData(const char *data, qint64 size) override
    {
        const QByteArray answer = "answer " + QByteArray::number(u64(QByteArray(data, 8), 0));
        ReceiveFaults::mark(answer.constData());
        return size;
    }

private:
    QByteArray m_script;
    int m_at = 0;
};

} // namespace

class TestRecvPartFiles : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(TestSupport::enterDir(m_workDir)); }
    void killedReceiverLeavesOnlyStaleParts_data();
    void killedReceiverLeavesOnlyStaleParts();
    void deliveredLookalikesStay();
    void withoutLocksNothingIsSwept();
    void syncedAndNamedBeforeConfirmed_data();
    void syncedAndNamedBeforeConfirmed();
    void failedFlushOnTheWayFailsTheSync();

private:
    QTemporaryDir m_workDir; // the audit store lands here
};

void TestRecvPartFiles::killedReceiverLeavesOnlyStaleParts_data()
{
    QTest::addColumn<bool>("unnamed");
    QTest::newRow("file system with unnamed files") << true;
    QTest::newRow("file system without them") << false;
}

// A receiving process killed while it writes a file, beside a transfer of this process that is
// still running: what the dead one leaves, and what the sweep at the next start makes of it.
void TestRecvPartFiles::killedReceiverLeavesOnlyStaleParts()
{
    QFETCH(bool, unnamed);
    const Faults faults(!unnamed, false);

    QTemporaryDir root(m_workDir.filePath("world-XXXXXX"));
    const QString recvDir = root.filePath("recv");
    QVERIFY(QDir().mkpath(recvDir + "/sub"));
    const QByteArray content = contentOfSize(3 * kBlock);
    const QByteArray stream = contentPackets(content);

    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (!unnamed)
        preloadReceiveFaults(environment, QStringLiteral("no-tmpfile"));
    child.setProcessEnvironment(environment);
    child.setWorkingDirectory(root.path());
    child.start(QCoreApplication::applicationDirPath() + "/recv_child", { recvDir });
    QVERIFY(child.waitForReadyRead(kWaitMs));
    const quint16 port = child.readLine().trimmed().toUShort();
    QTcpSocket dying;
    dying.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(dying.waitForConnected(kWaitMs));
    QVERIFY(send(dying,
        descriptor(content.size(), ReceiverFixture::kRuleKey, "sub/dead.bin", md5Of(content))));
    QCOMPARE(u64(readBytes(dying, kPacket), 0), quint64(9));
    QVERIFY(send(dying, stream.left(150 * kPacket))); // the 101st writes a block
    QTRY_COMPARE_WITH_TIMEOUT(
        largestOpenFileIn(child.processId(), recvDir), qint64(kBlock), kWaitMs);

    ReceiverFixture fixture(recvDir);
    QTcpSocket live;
    QVERIFY(fixture.connectGap(live));
    QVERIFY(send(live,
        descriptor(content.size(), ReceiverFixture::kRuleKey, "sub/live.bin", md5Of(content))));
    QCOMPARE(u64(readBytes(live, kPacket), 0), quint64(9));
    child.kill();
    QVERIFY(child.waitForFinished(kWaitMs));
    // Qt's file classes cannot even list part files (their names are no UTF-8): the bytes tell.
    QCOMPARE(partFilesUnder(recvDir).size(), unnamed ? 0 : 2);
    QCOMPARE(filesUnder(recvDir), QStringList());

    // What the main window does when it starts.
    if (!unnamed)
        QTest::ignoreMessage(QtWarningMsg, removalLine(recvDir + "/sub"));
    QCOMPARE(RecvPartFiles::sweepNow(recvDir), unnamed ? 0 : 1);
    QCOMPARE(partFilesUnder(recvDir).size(), unnamed ? 0 : 1);

    QVERIFY(send(live, stream));
    QCOMPARE(u64(readBytes(live, kPacket), 0), quint64(5));
    QVERIFY(fixture.waitForWorkers());
    QCOMPARE(filesUnder(recvDir), QStringList { "sub/live.bin" });
    QCOMPARE(readFile(recvDir + "/sub/live.bin"), content);
}

// Files named as part files were once, delivered by a peer, are files like any other: the sweep
// and later transfers into the same directories leave them, while part files no transfer holds
// go and take no name from anyone.
void TestRecvPartFiles::deliveredLookalikesStay()
{
    const Faults faults(true, false);
    QTemporaryDir root(m_workDir.filePath("world-XXXXXX"));
    const QString recvDir = root.filePath("recv");
    QVERIFY(QDir().mkpath(recvDir + "/d"));
    for (quint64 tag : { 1ull, 2ull, 0xffffffffffffffffull })
        QVERIFY(writeRawFile(QFile::encodeName(recvDir) + '/' + RecvPartFiles::partName(tag), "x"));

    ReceiverFixture fixture(recvDir);
    const QByteArrayList lookalikes { ".gaprecv-7.part", "d/.gaprecv-2.part", ".gaprecv-1.part" };
    for (const QByteArray &name : lookalikes)
        QVERIFY(fixture.deliver(name, contentOfSize(100 + name.size())));
    for (int i = 0; i < 10; ++i)
        QVERIFY(fixture.deliver(i % 2 ? "d/more.txt" : "more.txt", contentOfSize(3000, i)));
    QTest::ignoreMessage(QtWarningMsg, removalLine(recvDir));
    QTest::ignoreMessage(QtWarningMsg, removalLine(recvDir));
    QTest::ignoreMessage(QtWarningMsg, removalLine(recvDir));
    QCOMPARE(RecvPartFiles::sweepNow(recvDir), 3);

    QCOMPARE(partFilesUnder(recvDir), QStringList());
    for (const QByteArray &name : lookalikes)
        QCOMPARE(
            readFile(recvDir + '/' + QString::fromLatin1(name)), contentOfSize(100 + name.size()));
    QCOMPARE(filesUnder(recvDir).size(), lookalikes.size() + 10);
}

// A file system without locks: the part file is written unlocked, so no sweep can tell it from a
// stale one, and none removes it; the transfer itself leaves nothing behind.
void TestRecvPartFiles::withoutLocksNothingIsSwept()
{
    const Faults faults(true, true);
    QTemporaryDir root(m_workDir.filePath("world-XXXXXX"));
    const QString recvDir = root.filePath("recv");
    QVERIFY(QDir().mkpath(recvDir));
    ReceiverFixture fixture(recvDir);
    const QByteArray content = contentOfSize(2 * kBlock + 3);
    QTcpSocket gap;
    QVERIFY(fixture.connectGap(gap));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^file locks are not available in "));
    QVERIFY(
        send(gap, descriptor(content.size(), ReceiverFixture::kRuleKey, "n.bin", md5Of(content))));
    QCOMPARE(u64(readBytes(gap, kPacket), 0), quint64(9));
    QCOMPARE(partFilesUnder(recvDir).size(), 1);
    QCOMPARE(RecvPartFiles::sweepNow(recvDir), 0);
    QCOMPARE(partFilesUnder(recvDir).size(), 1);

    QVERIFY(send(gap, contentPackets(content)));
    QCOMPARE(u64(readBytes(gap, kPacket), 0), quint64(5));
    QVERIFY(fixture.waitForWorkers());
    QCOMPARE(filesUnder(recvDir), QStringList { "n.bin" });
    QCOMPARE(readFile(recvDir + "/n.bin"), content);
}

void TestRecvPartFiles::syncedAndNamedBeforeConfirmed_data()
{
    QTest::addColumn<bool>("unnamed");
    QTest::addColumn<QByteArray>("relativePath");
    QTest::addColumn<QByteArray>("calls");
    QTest::newRow("unnamed, existing directory")
        << true << QByteArray("sub/a.bin") << QByteArray("fdatasync,linkat,fsync dir");
    QTest::newRow("unnamed, new directory")
        << true << QByteArray("new/a.bin") << QByteArray("fdatasync,fsync dir,linkat,fsync dir");
    QTest::newRow("part file, existing directory")
        << false << QByteArray("sub/a.bin") << QByteArray("fdatasync,renameat2,fsync dir");
    QTest::newRow("part file, new directory")
        << false << QByteArray("new/a.bin")
        << QByteArray("fdatasync,fsync dir,renameat2,fsync dir");
}

// The sender deletes its copy on the confirmation: by then the content is on disk, named without
// replacing anything, and the name (with any directory made for it) is on disk too.
void TestRecvPartFiles::syncedAndNamedBeforeConfirmed()
{
    QFETCH(bool, unnamed);
    QFETCH(QByteArray, relativePath);
    QFETCH(QByteArray, calls);
    const Faults faults(!unnamed, false);
    QTemporaryDir root(m_workDir.filePath("world-XXXXXX"));
    const QString recvDir = root.filePath("recv");
    QVERIFY(QDir().mkpath(recvDir + "/sub"));
    ReceiverFixture fixture(recvDir);
    const QByteArray content = contentOfSize(2 * kBlock + 3);
    ScriptedGap gap(
        descriptor(content.size(), ReceiverFixture::kRuleKey, relativePath, md5Of(content))
        + contentPackets(content));

    ReceiveFaults::startTrace();
    RecvWorkThread worker(0);
    QCOMPARE(worker.receive(&gap, ReceiverFixture::kGapAddress, ReceiverFixture::kGapAddress),
        int(RecvWorkThread::FileEnded));
    const QByteArray trace = QByteArray::fromStdString(ReceiveFaults::trace());
    QVERIFY2(trace.startsWith("answer 9," + calls + ",answer 5"), trace.constData());
    QCOMPARE(readFile(recvDir + '/' + QString::fromUtf8(relativePath)), content);
    QCOMPARE(partFilesUnder(recvDir), QStringList());
}

// A large content is flushed to the disk beside the loop. The kernel reports a write error to one
// fdatasync only: when that was the flush's, the sync at the end must fail all the same.
void TestRecvPartFiles::failedFlushOnTheWayFailsTheSync()
{
    QTemporaryDir dir(m_workDir.filePath("flush-XXXXXX"));
    const UniqueFd dirFd(
        ::open(QFile::encodeName(dir.path()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    QVERIFY(dirFd.isValid());
    const QByteArray block(4096, 'x');
    RecvContentFile file(block.size());
    const auto writeBlock = [&] {
        return ::write(file.fd(), block.constData(), size_t(block.size())) == block.size();
    };

    ReceiveFaults::startTrace();
    ReceiveFaults::failDataSyncs(1);
    QVERIFY(file.create(dirFd.get(), dir.path()));
    QVERIFY(writeBlock());
    file.appended(block.size());
    QVERIFY(!file.sync());
    QCOMPARE(errno, EIO);
    QVERIFY(!file.sync());
    QCOMPARE(QByteArray::fromStdString(ReceiveFaults::trace()), QByteArray("fdatasync"));
    file.discard();

    // The next content starts clean.
    ReceiveFaults::startTrace();
    QVERIFY(file.create(dirFd.get(), dir.path()));
    QVERIFY(writeBlock());
    file.appended(block.size());
    QVERIFY(file.sync());
    QCOMPARE(QByteArray::fromStdString(ReceiveFaults::trace()), QByteArray("fdatasync,fdatasync"));
    file.stopFlushing();
}

QTEST_MAIN(TestRecvPartFiles)
#include "tst_recvpartfiles.moc"
