#include "gap/ScriptedGapPeer.h"
#include "model/GlobalData.h"
#include "support/TestSupport.h"
#include "views/gaps/StatusCheckout.h"

#include <QSignalSpy>
#include <QThread>
#include <QTimer>
#include <QtTest>

namespace {

const QString kPathID = QStringLiteral("rule-key-1");

QStringList capturedLog;
QMutex capturedLogMutex;

void captureMessage(QtMsgType, const QMessageLogContext &, const QString &message)
{
    QMutexLocker lock(&capturedLogMutex);
    capturedLog << message;
}

_VKGAPIP_CONF *addGap(const QByteArray &address, int connState, bool confGetted)
{
    auto *gap = new _VKGAPIP_CONF;
    copyToField(gap->HostIP, kHostIPSize, address);
    gap->hostIPStr = QString::fromLatin1(address);
    gap->connState = connState;
    gap->confGetted = confGetted;
    g_GapInfoList.append(gap);
    return gap;
}

void grantSendPath(_VKGAPIP_CONF *gap, const QString &pathID)
{
    QMutexLocker lock(&g_Mutex);
    gap->sendPaths[gap->sendPathCount].pathID = pathID;
    ++gap->sendPathCount;
}

_SENDPATH_LISTDATA *addSendRule(const QByteArray &gapAddress, bool started, int sendState)
{
    auto *rule = new _SENDPATH_LISTDATA;
    copyToField(rule->GapIP, kHostIPSize, gapAddress);
    copyToField(rule->SendPathID, kPathIDSize, kPathID.toLatin1());
    rule->scanStarted = started;
    rule->sendState = sendState;
    g_SendPathList.append(rule);
    return rule;
}

_RECVPATH_LISTDATA *addRecvRule(const QByteArray &gapAddress, int useCount)
{
    auto *rule = new _RECVPATH_LISTDATA;
    copyToField(rule->GapIP, kHostIPSize, gapAddress);
    rule->useCount = useCount;
    g_RecvPathList.append(rule);
    return rule;
}

template <typename T> void clearRegistry(Registry<T> &registry)
{
    const QList<T *> records = registry.snapshot();
    registry.clear();
    qDeleteAll(records);
}

// The texts a spy on setSendPathItemValue / setRecvPathItemValue saw for one row, in order.
QStringList textsForRow(const QSignalSpy &spy, int row)
{
    QStringList texts;
    for (const QList<QVariant> &call : spy) {
        if (call.at(0).toInt() == row)
            texts << call.at(1).toString();
    }
    return texts;
}

// A checker whose timers are stopped, so that a test drives it by calling its slots.
class ManualChecker : public StatusCheckout
{
public:
    ManualChecker()
    {
        for (QTimer *timer : findChildren<QTimer *>())
            timer->stop();
    }
};

} // namespace

class TestStatusCheckout : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        m_gapPort = TestSupport::pickFreePort();
        QVERIFY(m_gapPort != 0);
        qputenv("VARKO_GAP_PORT", QByteArray::number(m_gapPort)); // read once, at the first use
    }

    void cleanup()
    {
        clearRegistry(g_SendPathList);
        clearRegistry(g_RecvPathList);
        clearRegistry(g_GapInfoList);
        qInstallMessageHandler(nullptr);
    }

    void sendRuleTexts_data()
    {
        QTest::addColumn<bool>("started");
        QTest::addColumn<int>("connState");
        QTest::addColumn<int>("sendState");
        QTest::addColumn<bool>("pathGranted");
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<int>("busyCount");

        const QString unknown = QStringLiteral("未知发送路径 ");
        QTest::newRow("not started")
            << false << 1 << 0 << true << QStringList { QStringLiteral("发送未启动") } << 0;
        QTest::newRow("not started, path not granted")
            << false << 1 << 0 << false << QStringList { QStringLiteral("发送未启动") } << 0;
        QTest::newRow("gap down") << true << 0 << 0 << true
                                  << QStringList { QStringLiteral("隔离器无法连接") } << 0;
        QTest::newRow("gap connecting")
            << true << -1 << 2 << true << QStringList { QStringLiteral("隔离器无法连接") } << 0;
        QTest::newRow("sending") << true << 1 << 0 << true
                                 << QStringList { QStringLiteral("正在发送文件") } << 1;
        QTest::newRow("send fault")
            << true << 1 << 1 << true << QStringList { QStringLiteral("发送出现故障") } << 0;
        QTest::newRow("searching")
            << true << 1 << 2 << true << QStringList { QStringLiteral("搜索待发送文件") } << 0;
        QTest::newRow("state without text") << true << 1 << 3 << true << QStringList() << 0;
        // The scanner found the rule's directory missing.
        QTest::newRow("send directory missing")
            << true << 1 << 4 << true << QStringList { QStringLiteral("发送目录不存在") } << 0;
        // The mount that holds the rule's directory has gone.
        QTest::newRow("send directory unavailable")
            << true << 1 << 5 << true << QStringList { QStringLiteral("发送目录不可用") } << 0;
        QTest::newRow("sending, path no longer granted")
            << true << 1 << 0 << false << QStringList { QStringLiteral("正在发送文件"), unknown }
            << 1;
        QTest::newRow("gap down, path not granted")
            << true << 0 << 0 << false << QStringList { QStringLiteral("隔离器无法连接"), unknown }
            << 0;
    }

    void sendRuleTexts()
    {
        QFETCH(bool, started);
        QFETCH(int, connState);
        QFETCH(int, sendState);
        QFETCH(bool, pathGranted);
        QFETCH(QStringList, texts);
        QFETCH(int, busyCount);

        _VKGAPIP_CONF *gap = addGap("10.0.0.1", connState, true);
        grantSendPath(gap, pathGranted ? kPathID : QStringLiteral("another-key"));
        _SENDPATH_LISTDATA *rule = addSendRule("10.0.0.1", started, sendState);

        ManualChecker checker;
        QSignalSpy spy(&checker, &StatusCheckout::setSendPathItemValue);
        checker.onGapStateCheck();

        QCOMPARE(textsForRow(spy, 0), texts);
        QCOMPARE(gap->busyCount.load(), busyCount);
        QVERIFY(gap->hasSendPath);
        if (texts.contains(QStringLiteral("未知发送路径 ")))
            QCOMPARE(rule->statusText, QStringLiteral("未知发送路径 "));
    }

    // Rules keep the gap's bytes; a granted key outside ASCII must still be found.
    void nonAsciiKeyGrantedIsKnown()
    {
        const QString key = QStringLiteral("机密-发送");
        _VKGAPIP_CONF *gap = addGap("10.0.0.1", 1, true);
        grantSendPath(gap, key);
        _SENDPATH_LISTDATA *rule = addSendRule("10.0.0.1", true, 0);
        copyToField(rule->SendPathID, kPathIDSize, key.toUtf8());

        ManualChecker checker;
        QSignalSpy spy(&checker, &StatusCheckout::setSendPathItemValue);
        checker.onGapStateCheck();
        QCOMPARE(textsForRow(spy, 0), QStringList { QStringLiteral("正在发送文件") });
    }

    void busyCountDescribesTheLastSecondOnly()
    {
        _VKGAPIP_CONF *gap = addGap("10.0.0.1", 1, true);
        grantSendPath(gap, kPathID);
        _SENDPATH_LISTDATA *rule = addSendRule("10.0.0.1", true, 0);

        ManualChecker checker;
        checker.onGapStateCheck();
        QCOMPARE(gap->busyCount.load(), 1);
        rule->sendState = 2;
        checker.onGapStateCheck();
        QCOMPARE(gap->busyCount.load(), 0);
    }

    void ruleOfUnknownGapEndsThePass()
    {
        _VKGAPIP_CONF *gap = addGap("10.0.0.1", 1, true);
        grantSendPath(gap, kPathID);
        addSendRule("10.0.0.1", true, 2);
        addSendRule("10.9.9.9", true, 2);
        addSendRule("10.0.0.1", true, 2);

        ManualChecker checker;
        QSignalSpy spy(&checker, &StatusCheckout::setSendPathItemValue);
        checker.onGapStateCheck();

        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toInt(), 0);
    }

    void recvRuleTexts()
    {
        _VKGAPIP_CONF *gap = addGap("10.0.0.1", 1, true);
        _RECVPATH_LISTDATA *busy = addRecvRule("10.0.0.1", 2);
        _RECVPATH_LISTDATA *idle = addRecvRule("10.0.0.1", 0);
        addRecvRule("10.9.9.9", 1); // a gap no longer listed still shows the transfer

        ManualChecker checker;
        QSignalSpy spy(&checker, &StatusCheckout::setRecvPathItemValue);
        checker.onGapStateCheck();

        QCOMPARE(textsForRow(spy, 0), QStringList { QStringLiteral("正在接收文件") });
        QCOMPARE(textsForRow(spy, 1), QStringList { QStringLiteral("空闲") });
        QCOMPARE(textsForRow(spy, 2), QStringList { QStringLiteral("正在接收文件") });
        QCOMPARE(busy->statusText, QStringLiteral("正在接收文件"));
        QCOMPARE(idle->statusText, QStringLiteral("空闲"));
        QCOMPARE(gap->busyCount.load(), 1);
    }

    void gapCheck_data()
    {
        QTest::addColumn<int>("connState");
        QTest::addColumn<bool>("confGetted");
        QTest::addColumn<bool>("restart");
        QTest::addColumn<int>("updates");
        QTest::addColumn<int>("connectTime");
        QTest::addColumn<bool>("reconnecting");

        QTest::newRow("connected with rules") << 1 << true << false << 1 << 1 << false;
        QTest::newRow("connected without rules") << 1 << false << false << 0 << 0 << true;
        QTest::newRow("reconnected by heartbeat") << 1 << true << true << 1 << 1 << true;
        QTest::newRow("not connected") << 0 << true << false << 1 << 0 << false;
        QTest::newRow("connecting") << -1 << false << false << 1 << 0 << false;
        QTest::newRow("unknown state") << 2 << true << true << 0 << 0 << false;
    }

    void gapCheck()
    {
        QFETCH(int, connState);
        QFETCH(bool, confGetted);
        QFETCH(bool, restart);
        QFETCH(int, updates);
        QFETCH(int, connectTime);
        QFETCH(bool, reconnecting);

        _VKGAPIP_CONF *gap = addGap("10.0.0.1", connState, confGetted);
        gap->restart = restart;
        gap->refusedSuffixes << QStringLiteral("exe");
        gap->flaggedDigests << QStringLiteral("0123456789abcdef0123456789abcdef");
        capturedLog.clear();
        qInstallMessageHandler(captureMessage);

        ManualChecker checker;
        QSignalSpy spy(&checker, &StatusCheckout::updateGapState);
        checker.onGapStateCheck();
        checker.onGapStateCheck();

        QCOMPARE(spy.count(), 2 * updates);
        QCOMPARE(gap->connectTime.load(), 2 * connectTime);
        QCOMPARE(gap->heartOk.load(), connectTime > 0 ? 1 : 0);
        QCOMPARE(capturedLog.count(QStringLiteral("Reconnection....")), reconnecting ? 2 : 0);
        QCOMPARE(gap->refusedSuffixes.isEmpty(), reconnecting);
        QCOMPARE(gap->flaggedDigests.isEmpty(), reconnecting);
        if (reconnecting) {
            const QString flags
                = QStringLiteral("restart: %1 confgetted: %2")
                      .arg(restart ? "true" : "false", confGetted ? "true" : "false");
            QVERIFY2(capturedLog.contains(flags), qPrintable(capturedLog.join(QLatin1Char('|'))));
        }
    }

    // The connection time counts one connection: while the gap is down it reads zero, and when
    // the gap comes back it counts from there, not from where it stood before.
    void connectionTimeRestartsWhenGapComesBack()
    {
        _VKGAPIP_CONF *gap = addGap("10.0.0.1", 1, true);
        ManualChecker checker;
        for (int second = 0; second < 3; ++second)
            checker.onGapStateCheck();
        QCOMPARE(gap->connectTime.load(), 3);

        for (const int down : { 0, -1 }) {
            gap->connState = down;
            checker.onGapStateCheck();
            QCOMPARE(gap->connectTime.load(), 0);
        }
        gap->connState = 1;
        checker.onGapStateCheck();
        QCOMPARE(gap->connectTime.load(), 1);

        // Waiting for the rules after a login is neither counted nor a loss of the connection.
        gap->confGetted = false;
        checker.onGapStateCheck();
        QCOMPARE(gap->connectTime.load(), 1);
    }

    // The checker in its own thread with its real timer, while this thread changes the rules as
    // the dialogs and workers do: the walks must stay race-free.
    void runsInItsThreadWhileRulesChange()
    {
        _VKGAPIP_CONF *gap = addGap("10.0.0.1", 1, true);
        grantSendPath(gap, kPathID);
        addRecvRule("10.0.0.1", 1);

        QThread thread;
        auto *checker = new StatusCheckout;
        checker->moveToThread(&thread);
        connect(&thread, &QThread::finished, checker, &QObject::deleteLater);
        int reports = 0;
        connect(checker, &StatusCheckout::setRecvPathItemValue, this, [&reports] { ++reports; });
        thread.start();

        QList<_SENDPATH_LISTDATA *> unlisted;
        for (int round = 0; reports < 3; ++round) {
            _SENDPATH_LISTDATA *rule = addSendRule("10.0.0.1", round % 2 == 0, round % 3);
            rule->sendState = (round + 1) % 3;
            if (round % 4 == 3) {
                g_SendPathList.removeOne(rule);
                unlisted << rule;
            }
            QTest::qWait(20);
            QVERIFY2(round < 1000, "the checker in its thread never reported");
        }
        thread.quit();
        thread.wait();
        qDeleteAll(unlisted);
    }

    // A gap takes the heartbeat's connection and never answers: the state checks go on while the
    // heartbeat waits, and within one heartbeat the gap shows as interrupted.
    void silentGapHoldsUpNoStateCheck()
    {
        _VKGAPIP_CONF *gap = addGap("127.0.0.1", 1, true);
        copyToField(gap->LoginUserName, kUserNameSize, "alice");
        gap->heartOk = 1;
        ScriptedGapPeer silent(m_gapPort, { PeerReply::silence(120000) });
        QVERIFY(silent.startListening());
        StatusCheckout checker; // its state timer ticks in this thread's event loop
        checker.onGapHeartCheck(); // what the heartbeat's tick does
        QTRY_COMPARE(silent.requests().size(), 1);

        const int before = gap->connectTime;
        QTRY_VERIFY(gap->connectTime >= before + 2);
        QCOMPARE(gap->connState.load(), 1);
        QCOMPARE(silent.served(), 0); // the heartbeat still waits for its answer
        QTRY_COMPARE_WITH_TIMEOUT(
            gap->connState.load(), 0, StatusCheckout::kHeartbeatIntervalMs + 5000);
        QCOMPARE(gap->heartOk.load(), 0);
    }

private:
    quint16 m_gapPort = 0;
};

QTEST_GUILESS_MAIN(TestStatusCheckout)
#include "tst_statuscheckout.moc"
