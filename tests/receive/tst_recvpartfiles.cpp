// Part files left behind: a receiving process killed mid-file leaves its part file, which the
// sweep at start removes while a running transfer's part file stays; stale part files never keep
// a new transfer from a name.

#include "model/GlobalData.h"
#include "receive/ReceiverFiles.h"
#include "receive/ReceiverFixture.h"
#include "receive/RecvPartFiles.h"
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

QRegularExpression removalLine(const QString &partPath)
{
    return QRegularExpression(QStringLiteral("^removed a part file no transfer holds: %1 ")
                                  .arg(QRegularExpression::escape(partPath)));
}

} // namespace

class TestRecvPartFiles : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(TestSupport::enterDir(m_workDir)); }
    void killedReceiverLeavesItToTheSweep();
    void staleFilesTakeNoName();

private:
    QTemporaryDir m_workDir; // the audit store lands here
};

void TestRecvPartFiles::killedReceiverLeavesItToTheSweep()
{
    QTemporaryDir root(m_workDir.filePath("world-XXXXXX"));
    const QString recvDir = root.filePath("recv");
    QVERIFY(QDir().mkpath(recvDir + "/sub"));
    const QByteArray content = contentOfSize(3 * kBlock);
    const QByteArray stream = contentPackets(content);

    QProcess child;
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
    const QString deadPart = recvDir + "/sub/.gaprecv-1.part";
    QTRY_COMPARE_WITH_TIMEOUT(QFileInfo(deadPart).size(), qint64(kBlock), kWaitMs);

    ReceiverFixture fixture(recvDir);
    QTcpSocket live;
    QVERIFY(fixture.connectGap(live));
    QVERIFY(send(live,
        descriptor(content.size(), ReceiverFixture::kRuleKey, "sub/live.bin", md5Of(content))));
    QCOMPARE(u64(readBytes(live, kPacket), 0), quint64(9));
    child.kill();
    QVERIFY(child.waitForFinished(kWaitMs));
    QCOMPARE(
        partFilesUnder(recvDir), (QStringList { "sub/.gaprecv-1.part", "sub/.gaprecv-2.part" }));

    // What the main window does when it starts.
    QTest::ignoreMessage(QtWarningMsg, removalLine(deadPart));
    QCOMPARE(RecvPartFiles::sweepRules(), 1);
    QCOMPARE(partFilesUnder(recvDir), QStringList { "sub/.gaprecv-2.part" });

    QVERIFY(send(live, stream));
    QCOMPARE(u64(readBytes(live, kPacket), 0), quint64(5));
    QVERIFY(fixture.waitForWorkers());
    QCOMPARE(filesUnder(recvDir), QStringList { "sub/live.bin" });
    QCOMPARE(readFile(recvDir + "/sub/live.bin"), content);
}

// As many stale part files as there are part names: the first one a transfer needs is removed
// and reused, the others wait for the next sweep.
void TestRecvPartFiles::staleFilesTakeNoName()
{
    QTemporaryDir root(m_workDir.filePath("world-XXXXXX"));
    const QString recvDir = root.filePath("recv");
    QVERIFY(QDir().mkpath(recvDir));
    for (int attempt = 1; attempt < 1000; ++attempt) {
        QFile stale(recvDir + "/" + QString::fromLatin1(RecvPartFiles::partName(attempt)));
        QVERIFY(stale.open(QIODevice::WriteOnly));
    }

    ReceiverFixture fixture(recvDir);
    const QByteArray content = contentOfSize(5000);
    QTest::ignoreMessage(QtWarningMsg, removalLine(recvDir + "/.gaprecv-1.part"));
    QVERIFY(fixture.deliver("n.txt", content));
    QCOMPARE(readFile(recvDir + "/n.txt"), content);
    QCOMPARE(partFilesUnder(recvDir).size(), 998);
}

QTEST_MAIN(TestRecvPartFiles)
#include "tst_recvpartfiles.moc"
