// The simulator's control side over real sockets: login codes, rules, keys, logout, the push
// subcommand, hostile connections and the control faults.

#include "GapWire.h"
#include "GapsimProcess.h"

#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

using namespace GapWire;

namespace {

const char *kConfig = R"(
[gap]
timeout_ms = 1500

[user.alice]
password = alice-pass
level = 1

[user.bob]
password = bob-pass
level = 2

[user.carol]
password = carol-pass
state = first-login

[user.dave]
password = dave-pass
state = expired

[path.ALICE-TO-BOB]
from = alice
to = bob

[path.ALICE-TO-CAROL]
from = alice
to = carol
level = 7

[path.BOB-TO-ALICE]
from = bob
to = alice

[policy]
key_flag = true
key_length = 48
key_file = gapkey
)";

// The user names and passwords as the client scrambles them onto the wire (reordered, then
// shifted by (length XOR 3) mod 127), written out by hand.
QByteArray loginRequest(const QByteArray &scrambledUser, const QByteArray &scrambledPassword)
{
    QByteArray p = packet(20);
    putText(p, 8, scrambledUser);
    putText(p, 28, scrambledPassword);
    putText(p, 48, "127.0.0.1");
    return p;
}

} // namespace

class TestGapsimControl : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void login_data();
    void login();
    void rulesCarrySendThenReceiveEntries();
    void rulesOfUnknownUserAreEmpty();
    void rulesNeverExceedOnePacket();
    void keysAnnounceAndDeliverKeyData();
    void logout();
    void hostileConnections_data();
    void hostileConnections();
    void connectionFloodIsBounded();
    void cutAnswerIsShort();
    void ignoredLoginGetsNoAnswer();
    void refusedLoginsRecover();
    void pushSendsEntries_data();
    void pushSendsEntries();
    void badConfigurationIsRefused_data();
    void badConfigurationIsRefused();

private:
    QByteArray exchange(const QByteArray &request, int answerBytes);
    bool startGapsim(const QString &config, const QStringList &args = {});

    QScopedPointer<QTemporaryDir> m_dir;
    QScopedPointer<GapsimProcess> m_gapsim;
};

void TestGapsimControl::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
    m_gapsim.reset(new GapsimProcess(m_dir->path()));
}

void TestGapsimControl::cleanup()
{
    QCOMPARE(m_gapsim->stop(), 0);
    QVERIFY(!m_gapsim->waitForEvent(QStringLiteral("^stopped$"), 0).isEmpty());
    m_gapsim.reset();
}

bool TestGapsimControl::startGapsim(const QString &config, const QStringList &args)
{
    return m_gapsim->start(config, args);
}

// One control exchange on its own connection; returns what arrived before the gap closed.
QByteArray TestGapsimControl::exchange(const QByteArray &request, int answerBytes)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, m_gapsim->port());
    if (!socket.waitForConnected(kWaitMs))
        return QByteArray();
    socket.write(request);
    socket.waitForBytesWritten(kWaitMs);
    QByteArray answer = readBytes(socket, answerBytes);
    // Nothing follows the answer: the gap closes the exchange.
    if (!waitForClose(socket))
        return QByteArray("not closed");
    return answer;
}

void TestGapsimControl::login_data()
{
    QTest::addColumn<QByteArray>("user");
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<qint32>("code");
    QTest::addColumn<qint32>("level");
    QTest::addColumn<QString>("userInLog");
    QTest::newRow("alice accepted")
        << QByteArray("oikrg") << QByteArray("rln6yj||uj") << 101 << 1 << "alice";
    QTest::newRow("bob accepted") << QByteArray("bob") << QByteArray("m8{l~~zm") << 101 << 2
                                  << "bob";
    QTest::newRow("unknown user") << QByteArray("gti~ts") << QByteArray("rln6yj||uj") << 102 << 0
                                  << "nobody";
    QTest::newRow("wrong password")
        << QByteArray("oikrg") << QByteArray("xwp6yj||{\x80") << 103 << 0 << "alice";
    QTest::newRow("plain name is unknown")
        << QByteArray("alice") << QByteArray("alice-pass") << 102 << 0 << "";
    QTest::newRow("first login") << QByteArray("xurgi") << QByteArray("{xu6yj||jl") << 105 << 0
                                 << "carol";
    QTest::newRow("expired") << QByteArray("}lhk") << QByteArray("\x80o7zk}}kn") << 106 << 0
                             << "dave";
}

void TestGapsimControl::login()
{
    QFETCH(QByteArray, user);
    QFETCH(QByteArray, password);
    QFETCH(qint32, code);
    QFETCH(qint32, level);
    QFETCH(QString, userInLog);
    QVERIFY(startGapsim(kConfig));
    const QByteArray answer = exchange(loginRequest(user, password), kPacket);
    QCOMPARE(answer.size(), kPacket);
    QCOMPARE(u64(answer, 0), quint64(21));
    QCOMPARE(i32(answer, 8), code);
    QCOMPARE(i32(answer, 12), level);
    QCOMPARE(answer.mid(16), QByteArray(kPacket - 16, '\0'));
    const QString line = m_gapsim->waitForEvent(QStringLiteral("^login "));
    QCOMPARE(GapsimProcess::field(line, "result"), QString::number(code));
    if (!userInLog.isEmpty())
        QCOMPARE(GapsimProcess::field(line, "user"), userInLog);
    QCOMPARE(GapsimProcess::field(line, "from"), QStringLiteral("127.0.0.1"));
}

void TestGapsimControl::rulesCarrySendThenReceiveEntries()
{
    QVERIFY(startGapsim(kConfig));
    const QByteArray answer = exchange(userRequest(7, "alice"), kPacket);
    QCOMPARE(answer.size(), kPacket);
    QCOMPARE(u64(answer, 0), quint64(8));
    QCOMPARE(u64(answer, 8), quint64(2)); // send entries
    QCOMPARE(u64(answer, 16), quint64(1)); // receive entries
    // Send entries: receiving user at 0, path key at 20, receiving user's level at 60.
    QCOMPARE(text(answer, 32, 20), QByteArray("bob"));
    QCOMPARE(text(answer, 52, 40), QByteArray("ALICE-TO-BOB"));
    QCOMPARE(i32(answer, 92), 2);
    QCOMPARE(text(answer, 96, 20), QByteArray("carol"));
    QCOMPARE(text(answer, 116, 40), QByteArray("ALICE-TO-CAROL"));
    QCOMPARE(i32(answer, 156), 7);
    // The receive entry right behind them: sending user, path key.
    QCOMPARE(text(answer, 160, 20), QByteArray("bob"));
    QCOMPARE(text(answer, 180, 40), QByteArray("BOB-TO-ALICE"));
    QCOMPARE(answer.mid(224), QByteArray(kPacket - 224, '\0'));
    const QString line = m_gapsim->waitForEvent(QStringLiteral("^rules "));
    QCOMPARE(GapsimProcess::field(line, "user"), QStringLiteral("alice"));
    QCOMPARE(GapsimProcess::field(line, "send"), QStringLiteral("2"));
    QCOMPARE(GapsimProcess::field(line, "recv"), QStringLiteral("1"));
}

void TestGapsimControl::rulesOfUnknownUserAreEmpty()
{
    QVERIFY(startGapsim(kConfig));
    const QByteArray answer = exchange(userRequest(7, "mallory"), kPacket);
    QCOMPARE(answer.size(), kPacket);
    QCOMPARE(u64(answer, 0), quint64(8));
    QCOMPARE(answer.mid(8), QByteArray(kPacket - 8, '\0'));
}

void TestGapsimControl::rulesNeverExceedOnePacket()
{
    QString config = QStringLiteral("[user.hub]\npassword = p\n[user.peer]\npassword = q\n");
    for (int i = 0; i < 15; ++i) {
        config += QStringLiteral("[path.OUT-%1]\nfrom = hub\nto = peer\n").arg(i);
        config += QStringLiteral("[path.IN-%1]\nfrom = peer\nto = hub\n").arg(i);
    }
    QVERIFY(startGapsim(config));
    const QByteArray answer = exchange(userRequest(7, "hub"), kPacket);
    QCOMPARE(answer.size(), kPacket);
    QCOMPARE(u64(answer, 8), quint64(15));
    QCOMPARE(u64(answer, 16), quint64(7));
    QCOMPARE(text(answer, 32 + 15 * 64 + 20, 40).left(3), QByteArray("IN-"));
    QCOMPARE(answer.mid(1440), QByteArray(20, '\0'));
    QCOMPARE(
        GapsimProcess::field(m_gapsim->waitForEvent("^rules "), "dropped"), QStringLiteral("8"));
}

void TestGapsimControl::keysAnnounceAndDeliverKeyData()
{
    QVERIFY(startGapsim(kConfig));
    const QByteArray answer = exchange(userRequest(34, "alice"), kPacket + 1000);
    QCOMPARE(answer.size(), kPacket + 48); // the packet, exactly the announced data, then the close
    QCOMPARE(u64(answer, 0), quint64(35));
    QCOMPARE(u64(answer, 8), quint64(48));
    QCOMPARE(u64(answer, 16), quint64(1));
    QCOMPARE(text(answer, 24, 1436), QByteArray("gapkey"));
    QCOMPARE(answer.mid(30, kPacket - 30), QByteArray(kPacket - 30, '\0'));
    QVERIFY(
        !m_gapsim->waitForEvent(QStringLiteral("^keys user=alice length=48 flag=1$")).isEmpty());
}

void TestGapsimControl::logout()
{
    QVERIFY(startGapsim(kConfig));
    const QByteArray answer = exchange(userRequest(22, "alice"), kPacket);
    QCOMPARE(answer.size(), kPacket);
    QCOMPARE(u64(answer, 0), quint64(23));
    QCOMPARE(answer.mid(8), QByteArray(kPacket - 8, '\0'));
    QVERIFY(!m_gapsim->waitForEvent(QStringLiteral("^logout user=alice ")).isEmpty());
}

void TestGapsimControl::hostileConnections_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("closeAfterwards");
    QTest::addColumn<QString>("event");
    QTest::newRow("short packet, then gone")
        << QByteArray(100, '\x14') << true << "^dropped .*reason=closed bytes=100";
    QTest::newRow("short packet, then stall")
        << QByteArray(700, '\0') << false << "^dropped .*reason=timeout bytes=700";
    QTest::newRow("nothing, then stall")
        << QByteArray() << false << "^dropped .*reason=timeout bytes=0";
    QTest::newRow("unknown type") << packet(99) << false
                                  << "^dropped .*reason=unknown-type type=99";
    QTest::newRow("type with high bits")
        << packet(quint64(20) | (quint64(1) << 40)) << false << "^dropped .*reason=unknown-type";
    QTest::newRow("login answered type")
        << packet(21) << false << "^dropped .*reason=unknown-type type=21";
    QTest::newRow("flood behind a request")
        << userRequest(7, "alice") + QByteArray(4 << 20, '\x07') << false << "^rules user=alice";
}

// None of these may crash the gap or keep it from answering the next client.
void TestGapsimControl::hostileConnections()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, closeAfterwards);
    QFETCH(QString, event);
    QVERIFY(startGapsim(kConfig));
    {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, m_gapsim->port());
        QVERIFY(socket.waitForConnected(kWaitMs));
        socket.write(bytes);
        while (socket.bytesToWrite() > 0 && socket.waitForBytesWritten(1000)) { }
        if (closeAfterwards)
            socket.disconnectFromHost();
        QVERIFY(!m_gapsim->waitForEvent(event).isEmpty());
        if (!closeAfterwards)
            QVERIFY(waitForClose(socket));
    }
    const QByteArray answer = exchange(loginRequest("oikrg", "rln6yj||uj"), kPacket);
    QCOMPARE(i32(answer, 8), 101);
}

void TestGapsimControl::connectionFloodIsBounded()
{
    // Long enough that no connection of the flood times out before the last one is open.
    QVERIFY(startGapsim(
        QString::fromLatin1(kConfig).replace("timeout_ms = 1500", "timeout_ms = 60000")));
    {
        std::vector<std::unique_ptr<QTcpSocket>> flood;
        for (int i = 0; i < 300; ++i) {
            flood.push_back(std::make_unique<QTcpSocket>());
            flood.back()->connectToHost(QHostAddress::LocalHost, m_gapsim->port());
            QVERIFY(flood.back()->waitForConnected(kWaitMs));
        }
        QVERIFY(!m_gapsim->waitForEvent(QStringLiteral("^dropped .*reason=too-many-connections"))
                     .isEmpty());
    }
    // Once the flood is gone the gap serves again.
    QTRY_COMPARE_WITH_TIMEOUT(
        i32(exchange(loginRequest("oikrg", "rln6yj||uj"), kPacket), 8), 101, 30000);
}

void TestGapsimControl::cutAnswerIsShort()
{
    QVERIFY(startGapsim(kConfig, { "--fault", "cut,answer=login,bytes=10,count=1" }));
    QCOMPARE(exchange(loginRequest("oikrg", "rln6yj||uj"), kPacket).size(), 10);
    QVERIFY(!m_gapsim->waitForEvent(QStringLiteral("^fault kind=cut answer=login bytes=10$"))
                 .isEmpty());
    // count=1: the next answer is whole again.
    QCOMPARE(exchange(loginRequest("oikrg", "rln6yj||uj"), kPacket).size(), kPacket);
}

void TestGapsimControl::ignoredLoginGetsNoAnswer()
{
    QVERIFY(startGapsim(kConfig, { "--fault", "ignore-login" }));
    QCOMPARE(exchange(loginRequest("oikrg", "rln6yj||uj"), kPacket), QByteArray());
    QVERIFY(
        !m_gapsim->waitForEvent(QStringLiteral("^fault kind=ignore-login user=alice")).isEmpty());
    // Only logins are ignored.
    QCOMPARE(exchange(userRequest(7, "alice"), kPacket).size(), kPacket);
}

// A heartbeat must see the gap go away and come back: after the first key exchange, the port is
// closed for a while, then listens again on the same port.
void TestGapsimControl::refusedLoginsRecover()
{
    QVERIFY(startGapsim(kConfig, { "--fault", "refuse-login,after=keys,for_ms=1500" }));
    QCOMPARE(exchange(loginRequest("oikrg", "rln6yj||uj"), kPacket).size(), kPacket);
    QCOMPARE(exchange(userRequest(34, "alice"), kPacket + 48).size(), kPacket + 48);
    QTcpSocket refused;
    refused.connectToHost(QHostAddress::LocalHost, m_gapsim->port());
    QVERIFY(!refused.waitForConnected(kWaitMs));
    QCOMPARE(refused.error(), QAbstractSocket::ConnectionRefusedError);
    QTRY_COMPARE_WITH_TIMEOUT(
        i32(exchange(loginRequest("oikrg", "rln6yj||uj"), kPacket), 8), 101, 30000);
    QTRY_COMPARE_WITH_TIMEOUT(
        m_gapsim->events().filter(QRegularExpression("^listening ")).size(), 2, 20000);
}

void TestGapsimControl::pushSendsEntries_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("expected"); // scount, dcount, then user|path|level per entry
    QTest::newRow("explicit entries") << QStringList { "--send", "bob,NEW-PATH,3", "--recv",
        "carol,IN-PATH" } << QByteArray("1,1,bob|NEW-PATH|3,carol|IN-PATH|0");
    QTest::newRow("a user's paths") << QStringList { "--config", "CONFIG", "--user",
        "alice" } << QByteArray("2,1,bob|ALICE-TO-BOB|2,carol|ALICE-TO-CAROL|7,bob|BOB-TO-ALICE|0");
}

void TestGapsimControl::pushSendsEntries()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, expected);
    QVERIFY(startGapsim(kConfig));
    QTcpServer client;
    QVERIFY(client.listen(QHostAddress::LocalHost));
    args.replaceInStrings("CONFIG", QDir(m_dir->path()).filePath("gapsim.ini"));
    QProcess push;
    push.start(GapsimProcess::binary("gapsim"),
        QStringList {
            "push", "--host", "127.0.0.1", "--port", QString::number(client.serverPort()) }
            + args);
    QVERIFY(client.waitForNewConnection(kWaitMs));
    QScopedPointer<QTcpSocket> conn(client.nextPendingConnection());
    const QByteArray pkt = readBytes(*conn, kPacket + 1);
    QVERIFY(push.waitForFinished(kWaitMs));
    QCOMPARE(push.exitCode(), 0);
    QVERIFY(push.readAllStandardOutput().startsWith("push host=127.0.0.1"));
    QCOMPARE(pkt.size(), kPacket);
    QCOMPARE(u64(pkt, 0), quint64(8));
    QList<QByteArray> got { QByteArray::number(u64(pkt, 8)), QByteArray::number(u64(pkt, 16)) };
    const int entries = int(u64(pkt, 8) + u64(pkt, 16));
    for (int i = 0; i < entries; ++i) {
        const int at = 32 + 64 * i;
        const qint32 level = i < int(u64(pkt, 8)) ? i32(pkt, at + 60) : 0;
        got << text(pkt, at, 20) + '|' + text(pkt, at + 20, 40) + '|' + QByteArray::number(level);
    }
    QCOMPARE(got.join(','), expected);
}

void TestGapsimControl::badConfigurationIsRefused_data()
{
    QTest::addColumn<QString>("config");
    QTest::addColumn<QString>("message");
    QTest::newRow("misspelt key") << "[user.a]\npasword = x\n"
                                  << "unknown key";
    QTest::newRow("unknown section") << "[user.a]\npassword = x\n[polcy]\nmax_size = 1\n"
                                     << "unknown section";
    QTest::newRow("path to nobody") << "[user.a]\npassword = x\n[path.P]\nfrom = a\nto = b\n"
                                    << "not a configured user";
    QTest::newRow("name too long") << "[user.abcdefghijklmnopqrst]\npassword = x\n"
                                   << "1 to 19";
    QTest::newRow("password not carriable")
        << QString::fromUtf8("[user.a]\npassword = \u00fe\n") << "cannot be scrambled";
    QTest::newRow("bad state") << "[user.a]\npassword = x\nstate = locked\n"
                               << "first-login";
    QTest::newRow("bad port") << "[user.a]\npassword = x\nfile_port = 70000\n"
                              << "file_port";
    QTest::newRow("bad fault") << "[user.a]\npassword = x\n[fault.f]\nkind = cut\n"
                               << "cut needs bytes";
    QTest::newRow("no users") << "[gap]\nport = 0\n"
                              << "no [user.NAME]";
}

void TestGapsimControl::badConfigurationIsRefused()
{
    QFETCH(QString, config);
    QFETCH(QString, message);
    const QString path = QDir(m_dir->path()).filePath("bad.ini");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(config.toUtf8());
    file.close();
    QProcess gapsim;
    gapsim.start(GapsimProcess::binary("gapsim"), { "--config", path, "--port", "0" });
    QVERIFY(gapsim.waitForFinished(kWaitMs));
    QCOMPARE(gapsim.exitCode(), 2);
    QVERIFY2(gapsim.readAllStandardError().contains(message.toUtf8()), qPrintable(message));
    // The fixture's own gapsim for cleanup().
    QVERIFY(startGapsim(kConfig));
}

QTEST_GUILESS_MAIN(TestGapsimControl)
#include "tst_gapsim_control.moc"
