// The control connection against the gap simulator: login, refusals, logout, heartbeat recovery
// and a configuration push.

#include "GapTestSupport.h"
#include "gap/RecvConfThread.h"
#include "gap/SocketTools.h"
#include "model/PrivateTempFile.h"
#include "tools/gapsim/GapsimProcess.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QtTest>

using namespace GapTest;

namespace {

const QString kKeyName
    = QStringLiteral("gapcontrol-sim-key-%1").arg(QCoreApplication::applicationPid());

QString gapsimConfig()
{
    return QStringLiteral("[gap]\n"
                          "listen = 127.0.0.1\n"
                          "port = 0\n"
                          "timeout_ms = 2000\n"
                          "[user.alice]\npassword = alice-pass\nlevel = 1\n"
                          "[user.bob]\npassword = bob-pass\nlevel = 2\n"
                          "[user.fresh]\npassword = fresh-pass\nstate = first-login\n"
                          "[user.old]\npassword = old-pass\nstate = expired\n"
                          "[path.ALICE-TO-BOB]\nfrom = alice\nto = bob\n"
                          "[path.BOB-TO-ALICE]\nfrom = bob\nto = alice\n"
                          "[policy]\nkey_flag = true\nkey_length = 4000\nkey_file = %1\n")
        .arg(kKeyName);
}

int countEvents(GapsimProcess &sim, const QString &pattern)
{
    const QRegularExpression re(pattern);
    int count = 0;
    for (const QString &line : sim.events())
        count += re.match(line).hasMatch() ? 1 : 0;
    return count;
}

} // namespace

class TestGapControlSim : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void fullLogin();
    void refusals_data();
    void refusals();
    void loggedInRecordSkipsLogin();
    void logoutReleasesRecord();
    void heartbeatRecoversAfterOutage();
    void pushAddsPath();

private:
    bool startSim(const QStringList &faults = {});

    quint16 m_port = 0;
    QTemporaryDir m_dir;
    std::unique_ptr<GapsimProcess> m_sim;
};

void TestGapControlSim::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_port = pickFreePort();
    QVERIFY(m_port != 0);
    qputenv("VARKO_GAP_PORT", QByteArray::number(m_port));
}

bool TestGapControlSim::startSim(const QStringList &faults)
{
    m_sim = std::make_unique<GapsimProcess>(m_dir.path());
    QStringList arguments { "--port", QString::number(m_port) };
    for (const QString &fault : faults)
        arguments << "--fault" << fault;
    return m_sim->start(gapsimConfig(), arguments) && m_sim->port() == m_port;
}

void TestGapControlSim::init() { g_sysbaseconf.keyFlag = false; }

void TestGapControlSim::cleanup()
{
    if (m_sim)
        m_sim->stop();
    m_sim.reset();
    g_GapInfoList.clear();
    g_SendPathList.clear();
}

void TestGapControlSim::fullLogin()
{
    QVERIFY(startSim());
    auto gap = makeGap("127.0.0.1", "alice", "alice-pass");
    LogCapture log;
    QCOMPARE(SocketTools().connectToGapHost(gap.get()), 0);

    QCOMPARE(stateOf(*gap), QStringLiteral("conn=1 login=1 conf=1 restart=0 paths=1/1"));
    QCOMPARE(gap->rightLevel.load(), 1);
    QCOMPARE(sendPathIDs(*gap), QStringList { "ALICE-TO-BOB" });
    QCOMPARE(gap->sendPaths[0].toUser, QStringLiteral("bob"));
    QCOMPARE(gap->sendPaths[0].level, 2);
    QCOMPARE(recvPathIDs(*gap), QStringList { "BOB-TO-ALICE" });
    QCOMPARE(gap->recvPaths[0].fromUser, QStringLiteral("bob"));

    // Three connections: login, rules, keys; the key data was drained into a private temporary
    // file that is gone, and nothing was written beside the program.
    QVERIFY(!m_sim->waitForEvent("^login .*user=alice .*result=101").isEmpty());
    QVERIFY(!m_sim->waitForEvent("^rules .*user=alice .*send=1 recv=1").isEmpty());
    QVERIFY(!m_sim->waitForEvent("^keys .*user=alice .*length=4000").isEmpty());
    QVERIFY(g_sysbaseconf.keyFlag);
    const QString prefix = QStringLiteral("临时路径: ") + PrivateTempFile::preferredDirectory();
    const QStringList written
        = log.lines().filter(QRegularExpression("^" + QRegularExpression::escape(prefix)));
    QCOMPARE(written.size(), 1);
    QVERIFY(!QFile::exists(written.first().mid(QStringLiteral("临时路径: ").size())));
    QVERIFY(!log.contains(QStringLiteral("关键字接收处理失败失败！")));
    QVERIFY(!QFile::exists(QCoreApplication::applicationDirPath() + "/" + kKeyName + ".ini"));
}

void TestGapControlSim::refusals_data()
{
    QTest::addColumn<QByteArray>("user");
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<int>("code");

    QTest::newRow("unknown user") << QByteArray("mallory") << QByteArray("x") << 102;
    QTest::newRow("wrong password") << QByteArray("alice") << QByteArray("wrong") << 103;
    QTest::newRow("first login") << QByteArray("fresh") << QByteArray("fresh-pass") << 105;
    QTest::newRow("password expired") << QByteArray("old") << QByteArray("old-pass") << 106;
}

void TestGapControlSim::refusals()
{
    QFETCH(QByteArray, user);
    QFETCH(QByteArray, password);
    QFETCH(int, code);

    QVERIFY(startSim());
    auto gap = makeGap("127.0.0.1", user, password);
    storePaths(*gap, { "old-1" }, { "old-r1" });
    PromptRecorder prompts;
    QCOMPARE(SocketTools().connectToGapHost(gap.get()), code);
    QCOMPARE(stateOf(*gap), QStringLiteral("conn=0 login=0 conf=0 restart=1 paths=0/0"));
    QVERIFY(prompts.errorTexts().isEmpty());
    QVERIFY(!m_sim->waitForEvent(QStringLiteral("^login .*result=%1").arg(code)).isEmpty());
    QCOMPARE(countEvents(*m_sim, "^rules "), 0);
}

void TestGapControlSim::loggedInRecordSkipsLogin()
{
    QVERIFY(startSim());
    auto gap = makeGap("127.0.0.1", "alice", "alice-pass");
    gap->isLogin = true;
    QCOMPARE(SocketTools().connectToGapHost(gap.get()), 0);
    QCOMPARE(stateOf(*gap), QStringLiteral("conn=1 login=1 conf=1 restart=0 paths=1/1"));
    QVERIFY(!m_sim->waitForEvent("^keys ").isEmpty());
    QCOMPARE(countEvents(*m_sim, "^login "), 0);
    QCOMPARE(countEvents(*m_sim, "^rules "), 1);
}

void TestGapControlSim::logoutReleasesRecord()
{
    QVERIFY(startSim());
    auto gap = makeGap("127.0.0.1", "alice", "alice-pass");
    QCOMPARE(SocketTools().connectToGapHost(gap.get()), 0);
    g_GapInfoList.append(gap.get());
    QCOMPARE(SocketTools().disconnectFromGap(), 0);
    QVERIFY(!m_sim->waitForEvent("^logout .*user=alice").isEmpty());
    QCOMPARE(stateOf(*gap), QStringLiteral("conn=0 login=0 conf=0 restart=0 paths=0/0"));
    QCOMPARE(gap->sendPaths[0].pathID, QString());
}

void TestGapControlSim::heartbeatRecoversAfterOutage()
{
    // The gap goes away for a while right after the login's key exchange.
    QVERIFY(startSim({ "refuse-login,after=keys:1,for_ms=1500" }));
    auto gap = makeGap("127.0.0.1", "alice", "alice-pass");
    QCOMPARE(SocketTools().connectToGapHost(gap.get()), 0);
    g_GapInfoList.append(gap.get());
    gap->heartOk = 1; // as the status checker marks a connected gap with its rules
    QVERIFY(!m_sim->waitForEvent("^fault .*kind=refuse-login").isEmpty());

    SocketTools().gapHeartBeat();
    QCOMPARE(stateOf(*gap), QStringLiteral("conn=0 login=1 conf=1 restart=0 paths=1/1"));
    QCOMPARE(gap->heartOk.load(), 0);

    // Stale paths must be replaced by the gap's current picture once it is back.
    storePaths(*gap, { "stale" }, {});
    QElapsedTimer clock;
    clock.start();
    while (gap->connState != 1 && clock.elapsed() < 30000) {
        QTest::qWait(200);
        SocketTools().gapHeartBeat();
    }
    QCOMPARE(stateOf(*gap), QStringLiteral("conn=1 login=1 conf=1 restart=1 paths=1/1"));
    QCOMPARE(gap->heartOk.load(), 1);
    QCOMPARE(sendPathIDs(*gap), QStringList { "ALICE-TO-BOB" });
    QTRY_COMPARE_WITH_TIMEOUT(countEvents(*m_sim, "^rules .*user=alice"), 2, 20000);
}

void TestGapControlSim::pushAddsPath()
{
    QVERIFY(startSim());
    auto gap = makeGap("127.0.0.1", "alice", "alice-pass");
    QCOMPARE(SocketTools().connectToGapHost(gap.get()), 0);
    g_GapInfoList.append(gap.get());
    _SENDPATH_LISTDATA toBob;
    copyToField(toBob.GapIP, kHostIPSize, "127.0.0.1");
    copyToField(toBob.ToUser, kUserNameSize, "bob");
    toBob.RecviverLevel = 2;
    g_SendPathList.append(&toBob);

    PushListener listener;
    QVERIFY(listener.listen(QHostAddress::LocalHost, 0));
    QProcess push;
    push.start(GapsimProcess::binary("gapsim"),
        { "push", "--host", "127.0.0.1", "--port", QString::number(listener.serverPort()), "--bind",
            "127.0.0.1", "--send", "bob,ALICE-TO-BOB-2,0", "--recv", "bob,NEW-IN" });
    QTRY_COMPARE_WITH_TIMEOUT(listener.threads.size(), 1, 20000);
    QVERIFY(listener.threads.first()->wait(60000));
    QVERIFY(push.state() == QProcess::NotRunning || push.waitForFinished(20000));
    QCOMPARE(push.exitStatus(), QProcess::NormalExit);
    QCOMPARE(push.exitCode(), 0);

    // Added to what the login brought, and the rule to bob takes the pushed level.
    QCOMPARE(sendPathIDs(*gap), (QStringList { "ALICE-TO-BOB", "ALICE-TO-BOB-2" }));
    QCOMPARE(recvPathIDs(*gap), (QStringList { "BOB-TO-ALICE", "NEW-IN" }));
    QCOMPARE(toBob.RecviverLevel.load(), 0);
}

QTEST_GUILESS_MAIN(TestGapControlSim)
#include "tst_gapcontrol_sim.moc"
