// One file end to end through the gap simulator: a raw-packet sender on one side, the receiving
// worker on the other, the gap relaying between them from its own address.

#include "model/GlobalData.h"
#include "receive/ReceiverFixture.h"
#include "support/TestSupport.h"
#include "tools/gapsim/GapWire.h"
#include "tools/gapsim/GapsimProcess.h"

#include <QCryptographicHash>
#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

using namespace GapWire;

namespace {

const QByteArray kPathKey = "ALICE-TO-BOB";
constexpr int kMarkerOffset = 200000; // after the first block is on disk

QByteArray contentOfSize(int size)
{
    QByteArray content(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        content[i] = char((i * 151 + 3) % 253);
    return content;
}

} // namespace

class TestRecvWorkThreadGapsim : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(TestSupport::enterDir(m_workDir)); }
    void deliversThroughGap_data();
    void deliversThroughGap();

private:
    QTemporaryDir m_workDir; // the audit store lands here
};

void TestRecvWorkThreadGapsim::deliversThroughGap_data()
{
    QTest::addColumn<QStringList>("faults");
    QTest::addColumn<QByteArray>("marker"); // written into the content at kMarkerOffset
    QTest::addColumn<quint64>("answer"); // what the sender gets after the content
    QTest::addColumn<QString>("status"); // how the receiving row ends
    QTest::newRow("clean relay") << QStringList() << QByteArray() << quint64(5)
                                 << QStringLiteral("接收完毕");
    QTest::newRow("content changed on the way")
        << QStringList { "--fault", "flip,offset=200000" } << QByteArray() << quint64(15)
        << QStringLiteral("文件校验错误|稍后重传");
    // The gap tells the receiver why it stops, in the words the sender shows.
    QTest::newRow("filtered keyword") << QStringList() << QByteArray("TOPSECRET") << quint64(10)
                                      << QStringLiteral("文件存在过滤关键字");
    QTest::newRow("virus") << QStringList() << QByteArray("X5O-TEST-VIRUS") << quint64(11)
                           << QStringLiteral("文件存在病毒");
}

void TestRecvWorkThreadGapsim::deliversThroughGap()
{
    QFETCH(QStringList, faults);
    QFETCH(QByteArray, marker);
    QFETCH(quint64, answer);
    QFETCH(QString, status);

    QTemporaryDir dir(m_workDir.filePath("XXXXXX"));
    QVERIFY(dir.isValid());
    const QString recvDir = dir.filePath("recv");
    QVERIFY(QDir().mkpath(recvDir));
    ReceiverFixture fixture(recvDir);
    _RECVPATH_LISTDATA *rule = fixture.addRule(kPathKey, ReceiverFixture::kGapAddress, recvDir);
    GapsimProcess gapsim(dir.path());
    QVERIFY(gapsim.start(QStringLiteral("[user.alice]\npassword = a\n"
                                        "[user.bob]\npassword = b\naddress = 127.0.0.1\n"
                                        "file_port = %1\n"
                                        "[path.ALICE-TO-BOB]\nfrom = alice\nto = bob\n"
                                        "[policy]\nkeywords = TOPSECRET\n"
                                        "virus_signature = X5O-TEST-VIRUS\n")
                             .arg(fixture.port()),
        faults));

    QByteArray content = contentOfSize(3 * 100 * kPayload + 123);
    content.replace(kMarkerOffset, marker.size(), marker);
    const QByteArray md5
        = QCryptographicHash::hash(content, QCryptographicHash::Md5).toHex().toUpper();
    QTcpSocket sender;
    sender.connectToHost(QHostAddress::LocalHost, gapsim.port());
    QVERIFY(sender.waitForConnected(kWaitMs));
    QVERIFY(send(sender, descriptor(content.size(), kPathKey, "in/e2e.bin", md5)));
    QCOMPARE(u64(readBytes(sender, kPacket), 0), quint64(3));
    // The gap has connected to the receiver before it accepted the type.
    QVERIFY(fixture.acceptGap(kWaitMs));
    const QByteArray response = readBytes(sender, kPacket);
    QCOMPARE(u64(response, 0), quint64(9));
    QCOMPARE(text(response, 100, 40), kPathKey);
    QVERIFY(send(sender, contentPackets(content)));
    QCOMPARE(u64(readBytes(sender, kPacket), 0), answer);
    QVERIFY(fixture.waitForWorkers());

    const QString written = recvDir + "/in/e2e.bin";
    if (answer == 5) {
        QFile file(written);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), content);
    } else {
        QVERIFY(QDir(recvDir + "/in").entryList(QDir::Files | QDir::Hidden).isEmpty());
    }
    const TransferStateInfo last = fixture.lastReport();
    QCOMPARE(last.at(7), status);
    QCOMPARE(last.at(1), QStringLiteral("0 Mbps"));
    QVERIFY(!last.at(6).isEmpty());
    QCOMPARE(rule->useCount.load(), 0);
    QCOMPARE(fixture.gap()->recvFileNum.load(), answer == 5 ? 1 : 0);
    QVERIFY(!gapsim.waitForEvent(QStringLiteral("^relay-end ")).isEmpty());
    QCOMPARE(gapsim.stop(), 0);
}

QTEST_MAIN(TestRecvWorkThreadGapsim)
#include "tst_recvworkthread_gapsim.moc"
