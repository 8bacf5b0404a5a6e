// The heartbeat in its own thread while the GUI thread logs in to the same gap record.

#include "GapTestSupport.h"
#include "ScriptedGapPeer.h"
#include "gap/SocketTools.h"

#include <QtTest>

using namespace GapTest;

namespace {

// A well-behaved gap: every request gets its proper answer.
PeerReply answer(const QByteArray &request)
{
    switch (request.size() >= 8 ? packetType(request.constData()) : 0) {
    case kTypeLoginRequest:
        return PeerReply::send(loginAnswer(101, 1));
    case kTypeRulesRequest:
        return PeerReply::send(confAnswer({ { "bob", "S1", 1 } }, { { "dave", "R1" } }));
    case kTypeKeyRequest:
        return PeerReply::send(keyAnswer(4, true, "controlrace-key", "abcd"));
    default:
        return PeerReply::silence(0);
    }
}

} // namespace

class TestControlRace : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void heartbeatDuringLogin();

private:
    quint16 m_port = 0;
};

void TestControlRace::initTestCase()
{
    m_port = pickFreePort();
    QVERIFY(m_port != 0);
    qputenv("VARKO_GAP_PORT", QByteArray::number(m_port));
}

void TestControlRace::heartbeatDuringLogin()
{
    constexpr int kLogins = 12;
    constexpr int kHeartbeats = 24;

    ScriptedGapPeer peer(m_port, &answer);
    QVERIFY(peer.startListening());
    PromptRecorder prompts;
    auto gap = makeGap();
    g_GapInfoList.append(gap.get());

    QThread *heart = QThread::create([&] {
        for (int i = 0; i < kHeartbeats; ++i) {
            // Every other pass finds the heartbeat lost, so the rules are fetched again.
            if (i % 2)
                gap->heartOk = 0;
            SocketTools().gapHeartBeat();
        }
    });
    heart->start();
    QList<int> results;
    for (int i = 0; i < kLogins; ++i) {
        gap->isLogin = i % 2 == 0;
        results.append(SocketTools().connectToGapHost(gap.get()));
    }
    QVERIFY(heart->wait(120000));
    delete heart;

    // A heartbeat may empty the paths between a login's decoding and its check of them, and then
    // that login finds no rules; anything else is a fault.
    for (int result : qAsConst(results))
        QVERIFY2(result == SocketTools::kResultOk || result == SocketTools::kResultNoRules,
            qPrintable(QString::number(result)));
    gap->restart = false;
    QCOMPARE(SocketTools().connectToGapHost(gap.get()), 0);
    QCOMPARE(stateOf(*gap), QStringLiteral("conn=1 login=1 conf=1 restart=0 paths=1/1"));
    QCOMPARE(sendPathIDs(*gap), QStringList { "S1" });
    g_GapInfoList.removeOne(gap.get());
}

QTEST_GUILESS_MAIN(TestControlRace)
#include "tst_controlrace.moc"
