// A hostile gap against the real receiving client. Bob's client runs as a site runs it (logged in
// to gapsim, its rules imported, an open-file limit of 1024 it cannot raise); the test then speaks
// the gap's side of bob's file port itself, from the gap's address, and tries each attack of the
// table. After every attack bob is still running, clean under his sanitizer, has no part file
// left, and still takes a plain file.
//
// GAP_HOSTILE_FAULTS puts file-system faults into bob (ReceiveFaults.h): "no-tmpfile" for a file
// system without unnamed files, "dir-fsync-einval" for one that cannot sync a directory.

#include "GapSite.h"
#include "TestFiles.h"
#include "TmpfsMount.h"
#include "receive/ReceiveFaultsPreload.h"
#include "receive/ReceiverFiles.h"
#include "tools/gapsim/GapWire.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <sys/resource.h>
#include <vector>

using namespace GapWire;

namespace {

const QString kKey = QStringLiteral("HOSTILE");
const QString kSmall = QStringLiteral("SMALL"); // its receive directory is a small disk
constexpr int kSmallKiB = 1024;
constexpr int kBlock = 100 * kPayload;
constexpr int kStalledConnections = 300;
constexpr int kDeepLevels = 100;
constexpr int kDeliveryWaitMs = 120000;

enum Attack {
    PartFileNames,
    StalledDeepPaths,
    SlowTrickle,
    BeyondFreeSpace,
    LongName,
    LongNameStamped,
    KilledClient,
};

QByteArray md5Of(const QByteArray &content)
{
    return QCryptographicHash::hash(content, QCryptographicHash::Md5).toHex().toUpper();
}

bool containsLine(const QStringList &lines, const QString &text)
{
    for (const QString &line : lines) {
        if (line.contains(text))
            return true;
    }
    return false;
}

} // namespace

class TestRecvHostileGap : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void hostileGap_data();
    void hostileGap();

private:
    QString recvDir() const { return m_site->recvDir(kKey); }
    QString recvPath(const QByteArray &relativePath) const
    {
        return recvDir() + '/' + QString::fromUtf8(relativePath);
    }
    // Connects to bob's file port as the gap.
    bool connectAsGap(QTcpSocket &socket);
    // One whole file as the gap sends it; true when bob accepted (9) and confirmed (5) it.
    bool deliver(
        const QByteArray &relativePath, const QByteArray &content, const QString &key = kKey);
    // deliver(), again and again while bob turns the connection away, until the time is up.
    bool deliverPersistently(const QByteArray &relativePath, const QByteArray &content);
    void checkBobIsWell(const QString &probe);

    void partFileNames();
    void stalledDeepPaths();
    void slowTrickle();
    void beyondFreeSpace();
    void longName(bool taken);
    void killedClient();

    QTemporaryDir m_root;
    std::unique_ptr<GapSite> m_site;
    TmpfsMount m_tmpfs;
    bool m_tmpfsMounted = false;
    QString m_faults;
};

void TestRecvHostileGap::initTestCase()
{
    QVERIFY(m_root.isValid());
    // The test holds hundreds of connections itself.
    rlimit files {};
    ::getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &files);

    m_faults = qEnvironmentVariable("GAP_HOSTILE_FAULTS");
    m_site = std::make_unique<GapSite>(m_root.path(), QStringList { kKey, kSmall });
    if (!m_faults.isEmpty())
        preloadReceiveFaults(m_site->bob().environment(), m_faults);
    GapSite::Layout layout;
    // The usual limit of a desktop session, which bob cannot raise.
    layout.bobLauncher = QStringList { "prlimit", "--nofile=1024:1024", "--" };
    QVERIFY2(m_site->start(layout, QString(), QStringList()), qPrintable(m_site->error()));
    m_tmpfsMounted = m_tmpfs.mount(m_site->recvDir(kSmall), kSmallKiB);
}

void TestRecvHostileGap::cleanupTestCase()
{
    if (!m_site)
        return;
    m_site->alice().stop();
    m_site->bob().stop();
    QCOMPARE(m_site->gap().stop(), 0);
}

bool TestRecvHostileGap::connectAsGap(QTcpSocket &socket)
{
    socket.connectToHost(QHostAddress::LocalHost, m_site->bobFilePort());
    return socket.waitForConnected(kWaitMs);
}

bool TestRecvHostileGap::deliver(
    const QByteArray &relativePath, const QByteArray &content, const QString &key)
{
    QTcpSocket gap;
    return connectAsGap(gap)
        && send(gap, descriptor(content.size(), key.toUtf8(), relativePath, md5Of(content)))
        && u64(readBytes(gap, kPacket), 0) == 9 && send(gap, contentPackets(content))
        && u64(readBytes(gap, kPacket), 0) == 5;
}

bool TestRecvHostileGap::deliverPersistently(
    const QByteArray &relativePath, const QByteArray &content)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < kDeliveryWaitMs) {
        if (deliver(relativePath, content))
            return true;
        QTest::qWait(500);
    }
    return false;
}

void TestRecvHostileGap::checkBobIsWell(const QString &probe)
{
    ClientProcess &bob = m_site->bob();
    QVERIFY2(bob.isRunning(), "bob ended");
    QVERIFY2(bob.sanitizerReports().isEmpty(), qPrintable(bob.sanitizerReports()));
    const QByteArray content = TestFiles::contentOfSize(3 * kBlock + 5, probe.size());
    const QByteArray path = "probe/" + probe.toUtf8() + ".bin";
    QVERIFY(deliverPersistently(path, content));
    QCOMPARE(ReceiverFiles::readFile(recvPath(path)), content);
    QCOMPARE(ReceiverFiles::partFilesUnder(recvDir()), QStringList());
}

void TestRecvHostileGap::hostileGap_data()
{
    QTest::addColumn<int>("attack");
    QTest::newRow("delivered files named like part files") << int(PartFileNames);
    QTest::newRow("300 stalled connections with 100-level paths") << int(StalledDeepPaths);
    QTest::newRow("a peer that trickles") << int(SlowTrickle);
    QTest::newRow("a size beyond the free space") << int(BeyondFreeSpace);
    QTest::newRow("a name of 254 bytes") << int(LongName);
    QTest::newRow("a name of 250 bytes that needs a stamp") << int(LongNameStamped);
    QTest::newRow("a client killed mid-file") << int(KilledClient);
}

void TestRecvHostileGap::hostileGap()
{
    QFETCH(int, attack);
    switch (Attack(attack)) {
    case PartFileNames:
        partFileNames();
        break;
    case StalledDeepPaths:
        stalledDeepPaths();
        break;
    case SlowTrickle:
        slowTrickle();
        break;
    case BeyondFreeSpace:
        beyondFreeSpace();
        break;
    case LongName:
    case LongNameStamped:
        longName(attack == LongNameStamped);
        break;
    case KilledClient:
        killedClient();
        break;
    }
    if (!QTest::currentTestFailed())
        checkBobIsWell(QString::fromLatin1(QTest::currentDataTag()).left(20));
}

// Names of the receiver's part files of old are names like any other to a peer: files delivered
// under them stay, however many transfers into the same directories follow.
void TestRecvHostileGap::partFileNames()
{
    const QByteArrayList names { ".gaprecv-1.part", "parts/.gaprecv-1.part", ".gaprecv-7.part" };
    for (const QByteArray &name : names)
        QVERIFY(deliver(name, TestFiles::contentOfSize(5000, name.size())));
    for (int i = 0; i < 10; ++i) {
        const QByteArray name
            = (i % 2 ? "parts/" : "") + QByteArray("more-") + QByteArray::number(i);
        QVERIFY(deliver(name, TestFiles::contentOfSize(2000 + i, i)));
    }
    for (const QByteArray &name : names)
        QCOMPARE(
            ReceiverFiles::readFile(recvPath(name)), TestFiles::contentOfSize(5000, name.size()));
    // A file system that cannot sync directories is said once in the log, and files still arrive.
    if (m_faults.contains(QLatin1String("dir-fsync-einval")))
        QCOMPARE(
            m_site->bob().logLines().filter(QStringLiteral("directories cannot be synced")).size(),
            1);
}

// Connections that each announce a file 100 directories deep and then send nothing more: bob
// takes as many as his descriptors allow, turns the rest away at once, and takes a plain file
// again as soon as he has room; no directory of the stalled paths appears.
void TestRecvHostileGap::stalledDeepPaths()
{
    const QByteArray deep = "deep/" + QByteArray("d/").repeated(kDeepLevels) + "f.bin";
    std::vector<std::unique_ptr<QTcpSocket>> stalled;
    for (int i = 0; i < kStalledConnections; ++i) {
        stalled.push_back(std::make_unique<QTcpSocket>());
        QVERIFY(connectAsGap(*stalled.back()));
        // Bob may have closed it already: he takes no more than he has descriptors for.
        send(*stalled.back(), descriptor(10 * kBlock, kKey.toUtf8(), deep));
    }
    QTest::qWait(2000);
    QVERIFY2(m_site->bob().isRunning(), "bob ended");
    int held = 0;
    for (const auto &connection : stalled)
        held += connection->state() == QAbstractSocket::ConnectedState ? 1 : 0;
    qInfo() << "bob holds" << held << "of" << kStalledConnections << "stalled connections";
    const QByteArray content = TestFiles::contentOfSize(kBlock + 1, 3);
    QVERIFY(deliverPersistently("plain.bin", content));
    stalled.clear();
    QCOMPARE(ReceiverFiles::readFile(recvPath("plain.bin")), content);
    QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(recvPath("deep")), kWaitMs);
}

// A byte every ten seconds keeps a connection from the 30 s time-out, but moves no file: bob ends
// it once a minute has passed and says so.
void TestRecvHostileGap::slowTrickle()
{
    const QByteArray content = TestFiles::contentOfSize(3 * kBlock, 9);
    QTcpSocket gap;
    QVERIFY(connectAsGap(gap));
    QVERIFY(send(gap, descriptor(content.size(), kKey.toUtf8(), "trickle/t.bin", md5Of(content))));
    QCOMPARE(u64(readBytes(gap, kPacket), 0), quint64(9));
    const QByteArray stream = contentPackets(content);
    QElapsedTimer clock;
    clock.start();
    for (int at = 0; gap.state() == QAbstractSocket::ConnectedState && clock.elapsed() < 3 * 60000;
         ++at) {
        gap.write(stream.mid(at, 1));
        gap.waitForBytesWritten(1000);
        QTest::qWait(10000);
        gap.waitForReadyRead(10);
    }
    QCOMPARE(gap.state(), QAbstractSocket::UnconnectedState);
    QTRY_VERIFY(containsLine(m_site->bob().logLines(), QStringLiteral("moved ")));
    QVERIFY(!QFileInfo::exists(recvPath("trickle")));
}

// A file larger than the free space of bob's small disk is turned away before any content and
// unanswered, so a sender keeps it (a refusal would make it delete it); bob's audit says why.
void TestRecvHostileGap::beyondFreeSpace()
{
    if (!m_tmpfsMounted)
        QSKIP(qPrintable(QStringLiteral("no small disk: ") + m_tmpfs.error()));
    const QByteArray content = TestFiles::contentOfSize(2 * kSmallKiB * 1024, 5);
    QTcpSocket gap;
    QVERIFY(connectAsGap(gap));
    QVERIFY(send(gap, descriptor(content.size(), kSmall.toUtf8(), "big.bin", md5Of(content))));
    QCOMPARE(readBytes(gap, kPacket), QByteArray());
    QVERIFY(waitForClose(gap));
    QCOMPARE(TestFiles::filesUnder(m_site->recvDir(kSmall)).size(), 0);
    QTRY_VERIFY(
        GapSite::auditEvents(m_site->bob(), "CLIENT_RECV")
            .contains(QStringLiteral("0 '127.0.0.1', 'big.bin', 'alice', '接收目录空间不足'")));
}

// The longest names a relative path may carry arrive; a taken one still takes a stamped name,
// which gives up the end of the name rather than the file.
void TestRecvHostileGap::longName(bool taken)
{
    const QByteArray name = taken ? QByteArray(246, 's') + ".txt" : QByteArray(250, 'n') + ".txt";
    const QByteArray content = TestFiles::contentOfSize(3000, name.size());
    QVERIFY(deliver(name, content));
    QCOMPARE(ReceiverFiles::readFile(recvPath(name)), content);
    if (!taken)
        return;
    const QByteArray second = TestFiles::contentOfSize(4000, 1);
    QVERIFY(deliver(name, second));
    const QStringList stamped = QDir(recvDir()).entryList({ QStringLiteral("*_ssss*.txt") });
    QCOMPARE(stamped.size(), 1);
    QVERIFY(stamped.first().toUtf8().size() <= 255);
    QCOMPARE(ReceiverFiles::readFile(recvDir() + '/' + stamped.first()), second);
    QCOMPARE(ReceiverFiles::readFile(recvPath(name)), content);
}

// Bob dies while he writes a file: nothing of it is left once he runs again, neither the content
// nor the directory it was to go to.
void TestRecvHostileGap::killedClient()
{
    ClientProcess &bob = m_site->bob();
    const QByteArray content = TestFiles::contentOfSize(5 * kBlock, 11);
    QTcpSocket gap;
    QVERIFY(connectAsGap(gap));
    QVERIFY(send(gap, descriptor(content.size(), kKey.toUtf8(), "killed/k.bin", md5Of(content))));
    QCOMPARE(u64(readBytes(gap, kPacket), 0), quint64(9));
    QVERIFY(send(gap, contentPackets(content).left(250 * kPacket)));
    QTRY_VERIFY_WITH_TIMEOUT(
        ReceiverFiles::largestOpenFileIn(bob.processId(), recvDir()) >= 2 * kBlock, kWaitMs);
    // Only a file system without unnamed files shows the content under a name meanwhile.
    QCOMPARE(ReceiverFiles::partFilesUnder(recvDir()).size(),
        m_faults.contains(QLatin1String("no-tmpfile")) ? 1 : 0);
    bob.kill();
    QVERIFY2(m_site->restart(bob), qPrintable(m_site->error()));
    QTRY_COMPARE_WITH_TIMEOUT(ReceiverFiles::partFilesUnder(recvDir()), QStringList(), kWaitMs);
    QVERIFY(!QFileInfo::exists(recvPath("killed")));
}

QTEST_GUILESS_MAIN(TestRecvHostileGap)
#include "tst_recvhostilegap.moc"
