// Heartbeat and logout against scripted gaps.

#include "GapTestSupport.h"
#include "ScriptedGapPeer.h"
#include "gap/SocketTools.h"
#include "send/SendLedger.h"

#include <QtTest>

Q_DECLARE_METATYPE(PeerReply)

using namespace GapTest;

namespace {

QString heartState(const _VKGAPIP_CONF &gap)
{
    return stateOf(gap) + QStringLiteral(" heart=%1").arg(gap.heartOk);
}

// A record listed in the gap registry for the length of one test.
class ListedGap
{
public:
    explicit ListedGap(const QByteArray &user = "alice")
        : m_gap(makeGap("127.0.0.1", user))
    {
        storePaths(*m_gap, { "old-1" }, { "old-r1" });
        g_GapInfoList.append(m_gap.get());
    }
    ~ListedGap() { g_GapInfoList.removeOne(m_gap.get()); }
    _VKGAPIP_CONF *operator->() const { return m_gap.get(); }
    _VKGAPIP_CONF &operator*() const { return *m_gap; }

private:
    std::unique_ptr<_VKGAPIP_CONF> m_gap;
};

} // namespace

class TestHeartbeat : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void heartBeat_data();
    void heartBeat();
    void silentGapComesBack();
    void disconnectFromGap_data();
    void disconnectFromGap();

private:
    quint16 m_port = 0;
};

void TestHeartbeat::initTestCase()
{
    m_port = pickFreePort();
    QVERIFY(m_port != 0);
    qputenv("VARKO_GAP_PORT", QByteArray::number(m_port));
}

void TestHeartbeat::heartBeat_data()
{
    QTest::addColumn<int>("connState");
    QTest::addColumn<int>("heartOk");
    QTest::addColumn<int>("busyCount");
    QTest::addColumn<QByteArray>("user");
    QTest::addColumn<QList<PeerReply>>("script");
    QTest::addColumn<QString>("state");
    QTest::addColumn<QList<quint64>>("requests");
    QTest::addColumn<QStringList>("sendIDs");

    const auto send = &PeerReply::send;
    const QByteArray alice("alice");
    const QStringList old { "old-1" };
    const QString unchanged = QStringLiteral("conn=1 login=0 conf=0 restart=0 paths=1/1 heart=1");
    const QString answered = QStringLiteral("conn=1 login=0 conf=1 restart=0 paths=1/1 heart=1");
    const QByteArray rules = confAnswer({ { "bob", "new-1", 1 } }, { { "carol", "new-r1" } });
    QByteArray acceptedOtherType = packetOfType(kTypeConfData);
    qToLittleEndian<qint32>(kLoginAccepted, acceptedOtherType.data() + 8);

    QTest::newRow("gap unreachable")
        << 1 << 1 << 0 << alice << QList<PeerReply>()
        << "conn=0 login=0 conf=0 restart=0 paths=1/1 heart=0" << QList<quint64>() << old;
    // A gap that takes the connection but gives no login answer shows as interrupted; its paths
    // stay until an answer brings fresh ones.
    const QString interrupted = QStringLiteral("conn=0 login=0 conf=0 restart=0 paths=1/1 heart=0");
    QTest::newRow("no answer") << 1 << 1 << 0 << alice << QList<PeerReply> { PeerReply::silence() }
                               << interrupted << QList<quint64> { 20 } << old;
    QTest::newRow("not a login answer")
        << 1 << 1 << 0 << alice << QList<PeerReply> { send(packetOfType(kTypeConfData)) }
        << interrupted << QList<quint64> { 20 } << old;
    QTest::newRow("answer") << 0 << 1 << 0 << alice << QList<PeerReply> { send(loginAnswer(101)) }
                            << answered << QList<quint64> { 20 } << old;
    QTest::newRow("a refusal is an answer")
        << 0 << 1 << 0 << alice << QList<PeerReply> { send(loginAnswer(103)) } << answered
        << QList<quint64> { 20 } << old;
    QTest::newRow("code 101 in another type")
        << 0 << 1 << 0 << alice << QList<PeerReply> { send(acceptedOtherType) } << answered
        << QList<quint64> { 20 } << old;
    QTest::newRow("back after a failure: rules refreshed")
        << 0 << 0 << 0 << alice << QList<PeerReply> { send(loginAnswer(101)), send(rules) }
        << "conn=1 login=1 conf=1 restart=1 paths=1/1 heart=1" << QList<quint64> { 20, 7 }
        << QStringList { "new-1" };
    QTest::newRow("back after a failure: no rules")
        << 0 << 0 << 0 << alice
        << QList<PeerReply> { send(loginAnswer(101)), send(confAnswer({}, {})) }
        << "conn=1 login=0 conf=1 restart=0 paths=0/0 heart=1" << QList<quint64> { 20, 7 }
        << QStringList();
    QTest::newRow("back after a failure: rules silent")
        << 0 << 0 << 0 << alice << QList<PeerReply> { send(loginAnswer(101)), PeerReply::silence() }
        << "conn=1 login=0 conf=1 restart=0 paths=0/0 heart=1" << QList<quint64> { 20, 7 }
        << QStringList();
    // The peer stops listening once it has the login: the rules connection is refused.
    QTest::newRow("back after a failure: gone again before the rules")
        << 0 << 0 << 0 << alice << QList<PeerReply> { send(loginAnswer(101)) }
        << "conn=1 login=0 conf=1 restart=0 paths=1/1 heart=0" << QList<quint64> { 20 } << old;
    QTest::newRow("busy connected gap left alone")
        << 1 << 0 << 2 << alice << QList<PeerReply> { send(loginAnswer(101)) }
        << "conn=1 login=0 conf=0 restart=0 paths=1/1 heart=0" << QList<quint64>() << old;
    QTest::newRow("busy disconnected gap contacted")
        << 0 << 1 << 2 << alice << QList<PeerReply> { send(loginAnswer(101)) } << answered
        << QList<quint64> { 20 } << old;
    // Connected, then closed again without a request.
    QTest::newRow("no user name") << 1 << 1 << 0 << QByteArray()
                                  << QList<PeerReply> { PeerReply::silence() } << unchanged
                                  << QList<quint64> { 0 } << old;
}

void TestHeartbeat::heartBeat()
{
    QFETCH(int, connState);
    QFETCH(int, heartOk);
    QFETCH(int, busyCount);
    QFETCH(QByteArray, user);
    QFETCH(QList<PeerReply>, script);
    QFETCH(QString, state);
    QFETCH(QList<quint64>, requests);
    QFETCH(QStringList, sendIDs);

    ListedGap gap(user);
    gap->connState = connState;
    gap->heartOk = heartOk;
    gap->busyCount = busyCount;

    ScriptedGapPeer peer(m_port, script);
    QVERIFY(peer.startListening());
    SocketTools().gapHeartBeat();
    peer.stop();

    QCOMPARE(heartState(*gap), state);
    QCOMPARE(peer.requestTypes(), requests);
    QCOMPARE(sendPathIDs(*gap), sendIDs);
}

// A gap that stopped answering is marked interrupted by one heartbeat; files given up for it
// meanwhile wait, and are offered again by the first heartbeat it answers, which also brings its
// rules back.
void TestHeartbeat::silentGapComesBack()
{
    ListedGap gap;
    gap->connState = 1;
    gap->confGetted = true;
    gap->heartOk = 1;
    _SENDPATH_LISTDATA rule;
    copyToField(rule.GapIP, kHostIPSize, "127.0.0.1");
    _FINDFILEINFO file;
    file.filePath = QStringLiteral("/send/a.bin");
    {
        QMutexLocker lock(&sendTaskMutex);
        rule.pendingFiles.insert(file.fileKey(), new _FINDFILEINFO(file));
    }

    {
        ScriptedGapPeer silent(m_port, { PeerReply::silence() });
        QVERIFY(silent.startListening());
        SocketTools().gapHeartBeat();
    }
    QCOMPARE(gap->connState.load(), 0);
    SendLedger::awaitRetry(&rule, file, true); // a worker could not reach the gap
    QVERIFY(SendLedger::takeReoffered(&rule).isEmpty());

    ScriptedGapPeer back(m_port,
        { PeerReply::send(loginAnswer(101)),
            PeerReply::send(confAnswer({ { "bob", "new-1", 1 } }, {})) });
    QVERIFY(back.startListening());
    SocketTools().gapHeartBeat();
    QCOMPARE(heartState(*gap), QStringLiteral("conn=1 login=1 conf=1 restart=1 paths=1/0 heart=1"));
    const QList<QPair<FileKey, int>> reoffered = SendLedger::takeReoffered(&rule);
    QCOMPARE(reoffered.size(), 1);
    QCOMPARE(reoffered.first().first, file.fileKey());
}

void TestHeartbeat::disconnectFromGap_data()
{
    QTest::addColumn<bool>("listed");
    QTest::addColumn<QList<PeerReply>>("script");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("state");

    const auto send = &PeerReply::send;
    const QString kept = QStringLiteral("conn=1 login=1 conf=1 restart=0 paths=1/1");
    QTest::newRow("no gap") << false << QList<PeerReply>() << 1 << kept;
    QTest::newRow("gap unreachable") << true << QList<PeerReply>() << 1 << kept;
    QTest::newRow("logged out") << true
                                << QList<PeerReply> { send(packetOfType(kTypeLogoutResponse)) } << 0
                                << "conn=0 login=0 conf=0 restart=0 paths=0/0";
    QTest::newRow("short answer") << true
                                  << QList<PeerReply> { send(
                                         packetOfType(kTypeLogoutResponse).left(100)) }
                                  << 1 << kept;
    QTest::newRow("wrong type") << true << QList<PeerReply> { send(loginAnswer(101)) } << 1 << kept;
    QTest::newRow("no answer") << true << QList<PeerReply> { PeerReply::silence() } << 1 << kept;
}

void TestHeartbeat::disconnectFromGap()
{
    QFETCH(bool, listed);
    QFETCH(QList<PeerReply>, script);
    QFETCH(int, result);
    QFETCH(QString, state);

    auto gap = makeGap();
    storePaths(*gap, { "old-1" }, { "old-r1" });
    gap->connState = 1;
    gap->isLogin = true;
    gap->confGetted = true;
    if (listed)
        g_GapInfoList.append(gap.get());

    ScriptedGapPeer peer(m_port, script);
    QVERIFY(peer.startListening());
    QCOMPARE(SocketTools().disconnectFromGap(), result);
    peer.stop();
    g_GapInfoList.removeOne(gap.get());

    QCOMPARE(stateOf(*gap), state);
    if (!script.isEmpty()) {
        const QByteArray request = peer.requests().value(0);
        QCOMPARE(packetType(request.constData()), quint64(kTypeLogoutRequest));
        QCOMPARE(fieldBytes(request.constData() + 8, kUserNameSize), QByteArray("alice"));
    }
}

QTEST_GUILESS_MAIN(TestHeartbeat)
#include "tst_heartbeat.moc"
