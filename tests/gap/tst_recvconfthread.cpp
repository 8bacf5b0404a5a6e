// Configuration pushes: one packet from a gap, merged into its record without emptying it.

#include "GapTestSupport.h"
#include "gap/RecvConfThread.h"
#include "model/BaseFunction.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

using namespace GapTest;

namespace {

QStringList sendEntries(const _VKGAPIP_CONF &gap)
{
    QMutexLocker lock(&g_Mutex);
    QStringList entries;
    for (int i = 0; i < gap.sendPathCount; ++i)
        entries.append(gap.sendPaths[i].toUser + ":" + gap.sendPaths[i].pathID);
    return entries;
}

} // namespace

class TestRecvConfThread : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void recvConf_data();
    void recvConf();
    void pushThroughListener();
    void unusableDescriptor();

private:
    std::unique_ptr<_VKGAPIP_CONF> m_gap;
    _SENDPATH_LISTDATA m_rule;
};

void TestRecvConfThread::init()
{
    m_gap = makeGap("127.0.0.1");
    // The paths of the login, as a rules answer left them.
    const _PACKET_CONF_DATA login = buildConfData({ { "bob", "S1", 1 } }, { { "dave", "R1" } });
    BaseFunction::DealWithConfData(m_gap.get(), &login);
    g_GapInfoList.append(m_gap.get());
    copyToField(m_rule.GapIP, kHostIPSize, "127.0.0.1");
    copyToField(m_rule.ToUser, kUserNameSize, "bob");
    m_rule.RecviverLevel = 1;
    g_SendPathList.append(&m_rule);
}

void TestRecvConfThread::cleanup()
{
    g_SendPathList.clear();
    g_GapInfoList.clear();
}

void TestRecvConfThread::recvConf_data()
{
    QTest::addColumn<QByteArray>("gapHost");
    QTest::addColumn<QByteArray>("payload"); // empty: the gap connects and hangs up
    QTest::addColumn<int>("result");
    QTest::addColumn<QStringList>("send");
    QTest::addColumn<QStringList>("recv");
    QTest::addColumn<int>("level");

    const QByteArray local("127.0.0.1");
    const QStringList send { "bob:S1" };
    const QStringList recv { "R1" };
    QTest::newRow("new send path") << local << confAnswer({ { "bob", "S2", 2 } }, {}) << 0
                                   << QStringList { "bob:S1", "bob:S2" } << recv << 2;
    QTest::newRow("new receive path") << local << confAnswer({}, { { "erin", "R2" } }) << 0 << send
                                      << QStringList { "R1", "R2" } << 1;
    QTest::newRow("login paths again")
        << local << confAnswer({ { "bob", "S1", 0 } }, { { "dave", "R1" } }) << 0 << send << recv
        << 1;
    QTest::newRow("both counts 0") << local << confAnswer({}, {}) << 0 << send << recv << 1;
    QTest::newRow("wrong type") << local << loginAnswer(101) << 1 << send << recv << 1;
    QTest::newRow("no data") << local << QByteArray() << 1 << send << recv << 1;
    QTest::newRow("not a logged-in gap")
        << QByteArray("127.0.0.2") << confAnswer({ { "bob", "S2", 2 } }, {}) << 1 << send << recv
        << 1;
}

void TestRecvConfThread::recvConf()
{
    QFETCH(QByteArray, gapHost);
    QFETCH(QByteArray, payload);
    QFETCH(int, result);
    QFETCH(QStringList, send);
    QFETCH(QStringList, recv);
    QFETCH(int, level);

    copyToField(m_gap->HostIP, kHostIPSize, gapHost);
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    QTcpSocket gapSide;
    gapSide.connectToHost(QHostAddress::LocalHost, server.serverPort());
    QVERIFY(gapSide.waitForConnected(5000));
    if (payload.isEmpty()) {
        gapSide.disconnectFromHost();
    } else {
        gapSide.write(payload);
        QVERIFY(gapSide.waitForBytesWritten(5000));
    }
    QVERIFY(server.waitForNewConnection(5000));
    std::unique_ptr<QTcpSocket> clientSide(server.nextPendingConnection());

    QCOMPARE(RecvConfThread(0).recvConf(clientSide.get()), result);
    QCOMPARE(clientSide->state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(sendEntries(*m_gap), send);
    QCOMPARE(recvPathIDs(*m_gap), recv);
    QCOMPARE(int(m_rule.RecviverLevel), level);
}

void TestRecvConfThread::pushThroughListener()
{
    PushListener listener;
    QVERIFY(listener.listen(QHostAddress::LocalHost, 0));
    QTcpSocket gapSide;
    gapSide.connectToHost(QHostAddress::LocalHost, listener.serverPort());
    QVERIFY(gapSide.waitForConnected(5000));
    gapSide.write(confAnswer({ { "bob", "S2", 0 } }, { { "erin", "R2" } }));
    QVERIFY(gapSide.waitForBytesWritten(5000));
    QVERIFY(listener.waitForNewConnection(5000));
    QCOMPARE(listener.threads.size(), 1);
    QVERIFY(listener.threads.first()->wait(30000));
    // The push thread closed the connection after its single read.
    QVERIFY(
        gapSide.state() == QAbstractSocket::UnconnectedState || gapSide.waitForDisconnected(5000));
    QCOMPARE(sendEntries(*m_gap), (QStringList { "bob:S1", "bob:S2" }));
    QCOMPARE(recvPathIDs(*m_gap), (QStringList { "R1", "R2" }));
    QCOMPARE(int(m_rule.RecviverLevel), 0);
}

void TestRecvConfThread::unusableDescriptor()
{
    LogCapture log;
    RecvConfThread thread(-1);
    thread.start();
    QVERIFY(thread.wait(10000));
    QVERIFY(log.lines().contains(QStringLiteral("recv socket initialize error")));
}

QTEST_GUILESS_MAIN(TestRecvConfThread)
#include "tst_recvconfthread.moc"
