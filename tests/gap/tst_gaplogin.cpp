// Login, rules and key exchange against scripted gaps that answer well, badly or not at all.

#include "GapTestSupport.h"
#include "ScriptedGapPeer.h"
#include "gap/GapLogin.h"
#include "gap/SocketTools.h"
#include "model/BaseFunction.h"

#include <QCoreApplication>
#include <QDir>
#include <QPointer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

Q_DECLARE_METATYPE(PeerReply)

using namespace GapTest;

namespace {

const QString kNoRulesBox = QStringLiteral("当前用户没有配置传输规则");
const QString kRulesErrorBox = QStringLiteral("用戶规则获取错误");
const QString kKeyFailure = QStringLiteral("关键字接收处理失败失败！");

QByteArray oneRule() { return confAnswer({ { "bob", "send-1", 2 } }, { { "carol", "recv-1" } }); }

QByteArray keyOk() { return keyAnswer(4, false, "gaplogin-key", "abcd"); }

QList<quint64> types(std::initializer_list<quint64> list) { return QList<quint64>(list); }

// The login answer cut after its first `bytes` bytes.
QByteArray cut(const QByteArray &packet, int bytes) { return packet.left(bytes); }

} // namespace

class TestGapLogin : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void connectToGapHost_data();
    void connectToGapHost();
    void noRulesBoxShownOnce();
    void duplicateSendPathDropped();
    void keyExchange_data();
    void keyExchange();
    void cancelEndsTheLoginAtOnce_data();
    void cancelEndsTheLoginAtOnce();
    void loginAsideLeavesTheRulesMessageToItsCaller();

private:
    quint16 m_port = 0;
    QTemporaryDir m_dir;
    QTemporaryDir m_runtime;
};

void TestGapLogin::initTestCase()
{
    m_port = pickFreePort();
    QVERIFY(m_port != 0);
    qputenv("VARKO_GAP_PORT", QByteArray::number(m_port));
    QVERIFY(m_dir.isValid());
    QVERIFY(m_runtime.isValid());
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime.path()));
}

void TestGapLogin::init() { g_sysbaseconf.keyFlag = false; }

void TestGapLogin::connectToGapHost_data()
{
    QTest::addColumn<bool>("loggedIn");
    QTest::addColumn<bool>("restartOnEntry");
    QTest::addColumn<QList<PeerReply>>("script");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("state");
    QTest::addColumn<QList<quint64>>("requests");
    QTest::addColumn<QStringList>("boxes");

    const auto send = &PeerReply::send;
    const PeerReply silent = PeerReply::silence();
    const QString ok = QStringLiteral("conn=1 login=1 conf=1 restart=0 paths=1/1");
    const QString refused = QStringLiteral("conn=0 login=0 conf=0 restart=1 paths=0/0");
    const QString noAnswer = QStringLiteral("conn=-1 login=0 conf=0 restart=0 paths=3/3");
    const QString noRules = QStringLiteral("conn=0 login=1 conf=0 restart=1 paths=0/0");
    const auto full = types({ 20, 7, 34 });

    QTest::newRow("accepted") << false << false
                              << QList<PeerReply> { send(loginAnswer(101, 2)), send(oneRule()),
                                     send(keyOk()) }
                              << 0 << ok << full << QStringList();
    QTest::newRow("accepted, restart kept")
        << false << true
        << QList<PeerReply> { send(loginAnswer(101, 2)), send(oneRule()), send(keyOk()) } << 0
        << "conn=1 login=1 conf=1 restart=1 paths=1/1" << full << QStringList();
    QTest::newRow("already logged in")
        << true << false << QList<PeerReply> { send(oneRule()), send(keyOk()) } << 0 << ok
        << types({ 7, 34 }) << QStringList();
    for (qint32 code : { 102, 103, 105, 106, 107 }) {
        QTest::addRow("refused %d", code)
            << false << false << QList<PeerReply> { send(loginAnswer(code)) } << code << refused
            << types({ 20 }) << QStringList();
    }
    // A refusal must never read as one of the call's own results (0 would be a success).
    for (qint32 code : { 0, 1, -1, 3 }) {
        QTest::addRow("refused with code %d", code)
            << false << false << QList<PeerReply> { send(loginAnswer(code)) } << -2 << refused
            << types({ 20 }) << QStringList();
    }
    QTest::newRow("login answer cut inside the code")
        << false << false << QList<PeerReply> { send(cut(loginAnswer(101, 2), 8)) } << -2 << refused
        << types({ 20 }) << QStringList();
    QTest::newRow("login answer cut after the code")
        << false << false
        << QList<PeerReply> { send(cut(loginAnswer(101, 2), 12)), send(oneRule()), send(keyOk()) }
        << 0 << ok << full << QStringList();
    QTest::newRow("login silent") << false << false << QList<PeerReply> { silent } << -1 << noAnswer
                                  << types({ 20 }) << QStringList();
    QTest::newRow("login wrong type")
        << false << false << QList<PeerReply> { send(packetOfType(kTypeLogoutResponse)) } << -1
        << noAnswer << types({ 20 }) << QStringList();
    QTest::newRow("login type with upper half set")
        << false << false
        << QList<PeerReply> { send(packetOfType(kTypeLoginResponse | (1ull << 32))) } << -1
        << noAnswer << types({ 20 }) << QStringList();
    QTest::newRow("rules silent") << false << false
                                  << QList<PeerReply> { send(loginAnswer(101)), silent } << 3
                                  << noRules << types({ 20, 7 }) << QStringList { kRulesErrorBox };
    QTest::newRow("rules wrong type")
        << false << false << QList<PeerReply> { send(loginAnswer(101)), send(loginAnswer(101)) }
        << 3 << noRules << types({ 20, 7 }) << QStringList { kRulesErrorBox };
    // The counts arrive, the entries do not: what is decoded has no path ID.
    QTest::newRow("rules cut after the counts")
        << false << false << QList<PeerReply> { send(loginAnswer(101)), send(cut(oneRule(), 32)) }
        << 3 << noRules << types({ 20, 7 }) << QStringList { kNoRulesBox };
    QTest::newRow("rules empty") << false << false
                                 << QList<PeerReply> { send(loginAnswer(101)),
                                        send(confAnswer({}, {})) }
                                 << 3 << noRules << types({ 20, 7 }) << QStringList { kNoRulesBox };
    QTest::newRow("rules empty after restart")
        << false << true << QList<PeerReply> { send(loginAnswer(101)), send(confAnswer({}, {})) }
        << 3 << noRules << types({ 20, 7 }) << QStringList();
    QVector<ConfSendEntry> many;
    for (int i = 0; i < 22; ++i)
        many.append({ "bob", "send-" + QByteArray::number(i), 1 });
    _PACKET_CONF_DATA thirty = buildConfData(many, { { "carol", "recv-1" } });
    thirty.scount = 30;
    thirty.dcount = 1;
    QTest::newRow("scount 30") << false << false
                               << QList<PeerReply> { send(loginAnswer(101)),
                                      send(packetBytes(thirty)), send(keyOk()) }
                               << 0 << "conn=1 login=1 conf=1 restart=0 paths=22/0" << full
                               << QStringList();
    QTest::newRow("keys silent") << false << false
                                 << QList<PeerReply> { send(loginAnswer(101)), send(oneRule()),
                                        silent }
                                 << 0 << ok << full << QStringList();
    QTest::newRow("keys wrong type")
        << false << false
        << QList<PeerReply> { send(loginAnswer(101)), send(oneRule()), send(loginAnswer(101)) } << 0
        << ok << full << QStringList();
}

void TestGapLogin::connectToGapHost()
{
    QFETCH(bool, loggedIn);
    QFETCH(bool, restartOnEntry);
    QFETCH(QList<PeerReply>, script);
    QFETCH(int, result);
    QFETCH(QString, state);
    QFETCH(QList<quint64>, requests);
    QFETCH(QStringList, boxes);

    auto gap = makeGap();
    storePaths(*gap, { "old-1", "old-2", "old-3" }, { "old-r1", "old-r2", "old-r3" });
    gap->isLogin = loggedIn;
    gap->restart = restartOnEntry;
    gap->confGetted = true;
    gap->hasSendPath = true;

    PromptRecorder prompts;
    ScriptedGapPeer peer(m_port, script);
    QVERIFY(peer.startListening());
    QCOMPARE(SocketTools().connectToGapHost(gap.get()), result);
    peer.stop();

    QCOMPARE(stateOf(*gap), state);
    QCOMPARE(peer.requestTypes(), requests);
    QCOMPARE(prompts.errorTexts(), boxes);
    QVERIFY(!gap->hasSendPath);
    if (result == 0) {
        QCOMPARE(gap->localIP, QStringLiteral("127.0.0.1"));
        QVERIFY(sendPathIDs(*gap).first().startsWith(QLatin1String("send-")));
    }
    // The user name travels scrambled in the login, plain in every other request.
    const QList<QByteArray> sent = peer.requests();
    for (const QByteArray &request : sent) {
        const QByteArray user = fieldBytes(request.constData() + 8, kUserNameSize);
        if (packetType(request.constData()) == kTypeLoginRequest) {
            QByteArray scrambled("alice");
            scrambled.resize(kUserNameSize);
            QCOMPARE(user, QByteArray(BaseFunction::crypPasswd(scrambled.data())));
            QCOMPARE(fieldBytes(request.constData() + 48, kHostIPSize), QByteArray("127.0.0.1"));
        } else {
            QCOMPARE(user, QByteArray("alice"));
        }
    }
}

void TestGapLogin::noRulesBoxShownOnce()
{
    auto gap = makeGap();
    PromptRecorder prompts;
    {
        ScriptedGapPeer peer(
            m_port, { PeerReply::send(loginAnswer(101, 1)), PeerReply::send(confAnswer({}, {})) });
        QVERIFY(peer.startListening());
        QCOMPARE(SocketTools().connectToGapHost(gap.get()), 3);
    }
    QCOMPARE(prompts.errorTexts(), QStringList { kNoRulesBox });
    // The same record again: it is logged in, so only the rules are asked for, and the user is
    // not told a second time.
    ScriptedGapPeer peer(m_port, { PeerReply::send(confAnswer({}, {})) });
    QVERIFY(peer.startListening());
    QCOMPARE(SocketTools().connectToGapHost(gap.get()), 3);
    QCOMPARE(prompts.errorTexts(), QStringList { kNoRulesBox });
    QCOMPARE(peer.requestTypes(), types({ 7 }));
    QCOMPARE(stateOf(*gap), QStringLiteral("conn=0 login=1 conf=0 restart=1 paths=0/0"));
}

void TestGapLogin::duplicateSendPathDropped()
{
    auto gap = makeGap();
    LogCapture log;
    ScriptedGapPeer peer(m_port,
        { PeerReply::send(loginAnswer(101)),
            PeerReply::send(confAnswer({ { "bob", "P1", 1 }, { "carol", "P1", 2 } },
                { { "dave", "R1" }, { "erin", "R1" } })),
            PeerReply::send(keyOk()) });
    QVERIFY(peer.startListening());
    QCOMPARE(SocketTools().connectToGapHost(gap.get()), 0);
    QCOMPARE(sendPathIDs(*gap), QStringList { "P1" });
    QCOMPARE(recvPathIDs(*gap), QStringList { "R1" });
    QCOMPARE(gap->sendPaths[0].toUser, QStringLiteral("bob"));
    QCOMPARE(gap->sendPaths[0].level, 1);
    QVERIFY(log.lines().contains(QStringLiteral("-- 0 -- sendpath: P1")));
}

void TestGapLogin::keyExchange_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("keyName"); // empty when the exchange must fail
    QTest::addColumn<bool>("keyFlag");

    const QByteArray data(3000, 'k');
    QTest::newRow("no key data") << keyAnswer(0, false, "key-none") << "key-none" << false;
    QTest::newRow("key data") << keyAnswer(3000, true, "key-data", data) << "key-data" << true;
    QTest::newRow("negative length")
        << keyAnswer(0xffffffffull, true, "key-neg", data) << "key-neg" << true;
    QTest::newRow("length beyond 32 bits")
        << keyAnswer((1ull << 32) + 5, false, "key-wide", data) << "key-wide" << false;
    QTest::newRow("less data than announced")
        << keyAnswer(100000, false, "key-short", data) << "key-short" << false;
    QTest::newRow("unicode name") << keyAnswer(3, false, "密钥", "abc") << "密钥" << false;

    // Names that would leave the application's directory, or are no names at all.
    const QByteArray escape = QByteArray("../../../../../../../../../../../..")
        + QDir(m_dir.path()).absoluteFilePath("victim").toUtf8();
    QTest::newRow("escaping name") << keyAnswer(3, true, escape, "abc") << QString() << true;
    QTest::newRow("backslash") << keyAnswer(3, false, "..\\victim", "abc") << QString() << false;
    QTest::newRow("dot dot") << keyAnswer(3, false, "..", "abc") << QString() << false;
    QTest::newRow("empty name") << keyAnswer(3, false, "", "abc") << QString() << false;
    QByteArray unterminated = keyAnswer(0, false, "");
    unterminated.replace(24, 1436, QByteArray(1436, 'n'));
    QTest::newRow("name without terminator") << unterminated << QString() << false;
    QTest::newRow("wrong type") << packetOfType(kTypeKeyInfo + 1) << QString() << false;
    QTest::newRow("cut after one byte")
        << keyAnswer(0, false, "key-cut").left(1) << QString() << false;
}

void TestGapLogin::keyExchange()
{
    QFETCH(QByteArray, answer);
    QFETCH(QString, keyName);
    QFETCH(bool, keyFlag);

    const QString victim = m_dir.filePath("victim.ini");
    QFile precious(victim);
    QVERIFY(precious.open(QIODevice::WriteOnly));
    precious.write("precious");
    precious.close();

    auto gap = makeGap();
    gap->isLogin = true;
    LogCapture log;
    ScriptedGapPeer peer(m_port, { PeerReply::send(oneRule()), PeerReply::send(answer) });
    QVERIFY(peer.startListening());
    // The key exchange's failures are only logged; the login itself succeeded.
    QCOMPARE(SocketTools().connectToGapHost(gap.get()), 0);
    peer.stop();
    QCOMPARE(peer.requestTypes(), types({ 7, 34 }));

    QCOMPARE(bool(g_sysbaseconf.keyFlag), keyFlag);
    QVERIFY(precious.open(QIODevice::ReadOnly));
    QCOMPARE(precious.readAll(), QByteArray("precious"));
    if (keyName.isEmpty()) {
        QVERIFY(log.contains(kKeyFailure));
        QVERIFY(!log.contains(QStringLiteral("临时路径:")));
        return;
    }
    // The data went to a private file in the runtime directory, removed at once; nothing was
    // written beside the program.
    QVERIFY(!log.contains(kKeyFailure));
    const QString prefix = QStringLiteral("临时路径: ");
    const QStringList written
        = log.lines().filter(QRegularExpression("^" + QRegularExpression::escape(prefix)));
    QCOMPARE(written.size(), 1);
    const QString path = written.first().mid(prefix.size());
    QCOMPARE(QFileInfo(path).absolutePath(), m_runtime.path());
    QVERIFY(QDir(m_runtime.path()).isEmpty());
    QVERIFY(!QFile::exists(QCoreApplication::applicationDirPath() + "/" + keyName + ".ini"));
}

void TestGapLogin::cancelEndsTheLoginAtOnce_data()
{
    QTest::addColumn<QList<PeerReply>>("script"); // the last exchange stays silent
    // Far longer than any wait of the client: only the client's close ends the silence.
    const PeerReply silent = PeerReply::silence(120000);
    const auto send = &PeerReply::send;
    QTest::newRow("login") << QList<PeerReply> { silent };
    QTest::newRow("rules") << QList<PeerReply> { send(loginAnswer(101, 1)), silent };
    QTest::newRow("keys") << QList<PeerReply> { send(loginAnswer(101, 1)), send(oneRule()),
        silent };
}

void TestGapLogin::cancelEndsTheLoginAtOnce()
{
    QFETCH(QList<PeerReply>, script);
    PromptRecorder prompts;
    ScriptedGapPeer peer(m_port, script);
    QVERIFY(peer.startListening());
    auto login = std::make_unique<GapLogin>(makeGap());
    QPointer<GapLogin> watched = login.get();
    QSignalSpy finished(login.get(), &GapLogin::finished);
    login->start();
    QTRY_COMPARE(peer.requests().size(), script.size());
    QVERIFY(login->isRunning());

    GapLogin::dismiss(std::move(login));
    // The silent connection was closed by the client, not by the peer's patience, and the login
    // went with its thread.
    QTRY_COMPARE(peer.served(), script.size());
    QTRY_VERIFY(watched.isNull());
    QCOMPARE(finished.count(), 0);
    QCOMPARE(prompts.texts(), QStringList());
    QCOMPARE(peer.requests().size(), script.size()); // nothing after the cancel
}

// A login beside the GUI thread shows no box from its own thread: the message of a login without
// rules waits for the caller, who shows it with the result.
void TestGapLogin::loginAsideLeavesTheRulesMessageToItsCaller()
{
    PromptRecorder prompts;
    ScriptedGapPeer peer(
        m_port, { PeerReply::send(loginAnswer(101, 1)), PeerReply::send(confAnswer({}, {})) });
    QVERIFY(peer.startListening());
    GapLogin login(makeGap());
    QSignalSpy finished(&login, &GapLogin::finished);
    login.start();
    QVERIFY(finished.wait(30000));
    QCOMPARE(finished.takeFirst().at(0).toInt(), int(SocketTools::kResultNoRules));
    QCOMPARE(login.notice(), kNoRulesBox);
    QCOMPARE(prompts.texts(), QStringList());
    QCOMPARE(
        stateOf(*login.takeGap()), QStringLiteral("conn=0 login=1 conf=0 restart=1 paths=0/0"));
}

QTEST_GUILESS_MAIN(TestGapLogin)
#include "tst_gaplogin.moc"
