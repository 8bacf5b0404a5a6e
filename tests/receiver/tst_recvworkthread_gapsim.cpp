// One file end to end through the gap simulator: a raw-packet sender on one side, the receiving
// worker on the other, the gap relaying between them from its own address.

#include "gapsim/GapWire.h"
#include "gapsim/GapsimProcess.h"
#include "model/GlobalData.h"
#include "receiver/ReceiverFixture.h"
#include "support/TestSupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

using namespace GapWire;

namespace {

const QByteArray kPathKey = "ALICE-TO-BOB";

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
    QTest::addColumn<quint64>("confirmation");
    QTest::newRow("clean relay") << QStringList() << quint64(5);
    QTest::newRow("content changed on the way")
        << QStringList { "--fault", "flip,offset=200000" } << quint64(15);
}

void TestRecvWorkThreadGapsim::deliversThroughGap()
{
    QFETCH(QStringList, faults);
    QFETCH(quint64, confirmation);

    QTemporaryDir dir(m_workDir.filePath("XXXXXX"));
    QVERIFY(dir.isValid());
    const QString recvDir = dir.filePath("recv");
    QVERIFY(QDir().mkpath(recvDir));
    ReceiverFixture fixture(recvDir);
    fixture.addRule(kPathKey, ReceiverFixture::kGapAddress, recvDir);
    GapsimProcess gapsim(dir.path());
    QVERIFY(gapsim.start(QStringLiteral("[user.alice]\npassword = a\n"
                                        "[user.bob]\npassword = b\naddress = 127.0.0.1\n"
                                        "file_port = %1\n"
                                        "[path.ALICE-TO-BOB]\nfrom = alice\nto = bob\n")
                             .arg(fixture.port()),
        faults));

    const QByteArray content = contentOfSize(3 * 100 * kPayload + 123);
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
    QCOMPARE(u64(readBytes(sender, kPacket), 0), confirmation);
    QVERIFY(fixture.waitForWorkers());

    const QString written = recvDir + "/in/e2e.bin";
    if (confirmation == 5) {
        QFile file(written);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), content);
        QCOMPARE(fixture.statuses().last(), QStringLiteral("接收完毕"));
    } else {
        QVERIFY(QDir(recvDir + "/in").entryList(QDir::Files | QDir::Hidden).isEmpty());
        QCOMPARE(fixture.statuses().last(), QStringLiteral("文件校验错误|稍后重传"));
    }
    QCOMPARE(fixture.gap()->recvFileNum.load(), confirmation == 5 ? 1 : 0);
    QVERIFY(!gapsim.waitForEvent(QStringLiteral("^relay-end ")).isEmpty());
    QCOMPARE(gapsim.stop(), 0);
}

QTEST_MAIN(TestRecvWorkThreadGapsim)
#include "tst_recvworkthread_gapsim.moc"
