// The simulator's file relay over real sockets, between a scripted sender and a scripted
// receiving client: byte-exact relay, the type check, relayed descriptor responses, content
// verdicts, injected faults and peers that misbehave.

#include "GapWire.h"
#include "GapsimProcess.h"

#include <QRandomGenerator>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>
#include <limits>

using namespace GapWire;

namespace {

constexpr qint64 kMaxSize = 1000000;

QByteArray randomContent(int size, quint32 seed)
{
    QByteArray content(size, Qt::Uninitialized);
    QRandomGenerator generator(seed);
    for (int i = 0; i < size; ++i)
        content[i] = char(generator.bounded(256));
    return content;
}

// The receiving client's answer to a descriptor: 9 copies its fields, 13 and 14 carry only the
// type.
QByteArray metaResponse(quint64 type, const QByteArray &descriptor)
{
    QByteArray p = packet(type);
    if (type == 9) {
        putText(p, 8, text(descriptor, 16, 46));
        putText(p, 54, text(descriptor, 16, 46));
        putText(p, 100, text(descriptor, 62, 40));
        putText(p, 140, text(descriptor, 102, 1024));
        putText(p, 1164, descriptor.mid(1166, 32));
    }
    return p;
}

QList<quint64> typesOf(const QByteArray &stream)
{
    QList<quint64> types;
    for (int at = 0; at + kPacket <= stream.size(); at += kPacket)
        types << u64(stream, at);
    return types;
}

// What each scripted peer saw of one transfer.
struct Outcome {
    QByteArray senderGot;
    QByteArray receiverDescriptor;
    QByteArray receiverStream; // data packets and file end
    bool receiverContacted = false;
};

} // namespace

class TestGapsimRelay : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void relaysByteExact_data();
    void relaysByteExact();
    void typeCheckRefusals_data();
    void typeCheckRefusals();
    void descriptorResponses_data();
    void descriptorResponses();
    void verdicts_data();
    void verdicts();
    void faults_data();
    void faults();
    void faultHitsOnlyMatchingFilesAndCount();
    void receiverDefaultsToItsLoginAddress();
    void relayLeavesFromTheGapsAddress();
    void misbehavingPeers_data();
    void misbehavingPeers();
    void survivesRandomMisbehaviour();
    void concurrentTransfersStayApart();
    void stopsCleanlyDuringTransfer();

private:
    QString config(const QString &policyExtra = QString()) const;
    Outcome runTransfer(const QByteArray &fileName, const QByteArray &content, quint64 metaType = 9,
        quint64 confirmation = 5);
    QTcpSocket *acceptReceiver();

    QScopedPointer<QTemporaryDir> m_dir;
    QScopedPointer<GapsimProcess> m_gapsim;
    QScopedPointer<QTcpServer> m_receiverServer;
};

void TestGapsimRelay::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
    m_gapsim.reset(new GapsimProcess(m_dir->path()));
    m_receiverServer.reset(new QTcpServer);
    QVERIFY(m_receiverServer->listen(QHostAddress::LocalHost));
}

void TestGapsimRelay::cleanup()
{
    QCOMPARE(m_gapsim->stop(), 0);
    m_gapsim.reset();
    m_receiverServer.reset();
}

QString TestGapsimRelay::config(const QString &policyExtra) const
{
    return QStringLiteral("[gap]\ntimeout_ms = 3000\nconnect_timeout_ms = 3000\n"
                          "[user.alice]\npassword = alice-pass\nlevel = 1\n"
                          "[user.bob]\npassword = bob-pass\nlevel = 2\naddress = 127.0.0.1\n"
                          "file_port = %1\n"
                          "[path.ALICE-TO-BOB]\nfrom = alice\nto = bob\n"
                          "[policy]\nrefused_suffixes = exe, bat\nmax_size = %2\n"
                          "keywords = TOPSECRET, CLASSIFIED\n"
                          "virus_signature = X5O-TEST-VIRUS\n%3\n")
        .arg(m_receiverServer->serverPort())
        .arg(kMaxSize)
        .arg(policyExtra);
}

QTcpSocket *TestGapsimRelay::acceptReceiver()
{
    if (!m_receiverServer->hasPendingConnections()
        && !m_receiverServer->waitForNewConnection(kWaitMs))
        return nullptr;
    return m_receiverServer->nextPendingConnection();
}

// Drives one whole transfer as far as the gap lets it go.
Outcome TestGapsimRelay::runTransfer(
    const QByteArray &fileName, const QByteArray &content, quint64 metaType, quint64 confirmation)
{
    Outcome outcome;
    QTcpSocket sender;
    sender.connectToHost(QHostAddress::LocalHost, m_gapsim->port());
    if (!sender.waitForConnected(kWaitMs))
        return outcome;
    sender.write(descriptor(content.size(), "ALICE-TO-BOB", "sub/" + fileName));
    outcome.senderGot = readBytes(sender, kPacket);
    if (u64(outcome.senderGot, 0) != 3) {
        outcome.senderGot += readBytes(sender, 64 * kPacket);
        // A connection the gap made would already wait in the listen queue.
        outcome.receiverContacted = m_receiverServer->waitForNewConnection(100);
        return outcome;
    }
    // The gap either contacts the receiver or answers the sender once more (404).
    QElapsedTimer waiting;
    waiting.start();
    while (!m_receiverServer->hasPendingConnections() && sender.bytesAvailable() == 0
        && waiting.elapsed() < kWaitMs) {
        m_receiverServer->waitForNewConnection(20);
        sender.waitForReadyRead(20);
    }
    if (!m_receiverServer->hasPendingConnections()) {
        outcome.senderGot += readBytes(sender, 64 * kPacket);
        return outcome;
    }
    QScopedPointer<QTcpSocket> receiver(acceptReceiver());
    outcome.receiverContacted = true;
    outcome.receiverDescriptor = readBytes(*receiver, kPacket);
    send(*receiver, metaResponse(metaType, outcome.receiverDescriptor));
    outcome.senderGot += readBytes(sender, kPacket);
    if (u64(outcome.senderGot, kPacket) != 9) {
        outcome.senderGot += readBytes(sender, 64 * kPacket);
        return outcome;
    }
    const QByteArray stream = contentPackets(content);
    sender.write(stream);
    QElapsedTimer clock;
    clock.start();
    while (outcome.receiverStream.size() < stream.size() && clock.elapsed() < kWaitMs) {
        sender.waitForBytesWritten(20);
        outcome.senderGot += sender.readAll();
        receiver->waitForReadyRead(20);
        outcome.receiverStream += receiver->readAll();
        if (receiver->state() != QAbstractSocket::ConnectedState && receiver->bytesAvailable() == 0)
            break;
    }
    if (outcome.receiverStream.size() == stream.size()) {
        send(*receiver, packet(confirmation));
    }
    outcome.senderGot += readBytes(sender, 64 * kPacket);
    return outcome;
}

void TestGapsimRelay::relaysByteExact_data()
{
    QTest::addColumn<int>("size");
    QTest::newRow("empty") << 0;
    QTest::newRow("tail only") << 1443;
    QTest::newRow("one whole payload") << 1444;
    QTest::newRow("one burst and a byte") << 144401;
    QTest::newRow("several bursts") << 700000;
}

void TestGapsimRelay::relaysByteExact()
{
    QFETCH(int, size);
    QVERIFY(m_gapsim->start(config()));
    const QByteArray content = randomContent(size, quint32(size));
    const Outcome outcome = runTransfer("file.bin", content);
    QCOMPARE(typesOf(outcome.senderGot), (QList<quint64> { 3, 9, 5 }));
    // The descriptor and the response travel unchanged; so does every data packet and the end.
    QCOMPARE(outcome.receiverDescriptor, descriptor(size, "ALICE-TO-BOB", "sub/file.bin"));
    QCOMPARE(outcome.senderGot.mid(kPacket, kPacket), metaResponse(9, outcome.receiverDescriptor));
    QCOMPARE(outcome.receiverStream, contentPackets(content));
    const QString end = m_gapsim->waitForEvent(QStringLiteral("^relay-end "));
    QCOMPARE(GapsimProcess::field(end, "result"), QStringLiteral("delivered"));
    QCOMPARE(GapsimProcess::field(end, "received"), QString::number(size));
    QCOMPARE(GapsimProcess::field(end, "relayed"), QString::number(size));
    const QString start = m_gapsim->waitForEvent(QStringLiteral("^relay-start "));
    QCOMPARE(GapsimProcess::field(start, "file"), QStringLiteral("file.bin"));
    QCOMPARE(GapsimProcess::field(start, "size"), QString::number(size));
}

void TestGapsimRelay::typeCheckRefusals_data()
{
    QTest::addColumn<QByteArray>("fileName");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QByteArray>("pathKey");
    QTest::addColumn<bool>("receiverListening");
    QTest::addColumn<quint64>("answer");
    QTest::addColumn<QString>("reason");
    QTest::newRow("refused suffix") << QByteArray("tool.exe") << qint64(10)
                                    << QByteArray("ALICE-TO-BOB") << true << quint64(4) << "suffix";
    QTest::newRow("refused suffix, other case")
        << QByteArray("RUN.BAT") << qint64(10) << QByteArray("ALICE-TO-BOB") << true << quint64(4)
        << "suffix";
    QTest::newRow("over the limit") << QByteArray("big.bin") << kMaxSize + 1
                                    << QByteArray("ALICE-TO-BOB") << true << quint64(12) << "size";
    QTest::newRow("negative size") << QByteArray("neg.bin") << qint64(-1)
                                   << QByteArray("ALICE-TO-BOB") << true << quint64(12) << "size";
    QTest::newRow("largest size") << QByteArray("max.bin") << std::numeric_limits<qint64>::max()
                                  << QByteArray("ALICE-TO-BOB") << true << quint64(12) << "size";
    QTest::newRow("unknown path") << QByteArray("a.bin") << qint64(10) << QByteArray("NO-SUCH-PATH")
                                  << true << quint64(404) << "unknown-path";
    QTest::newRow("receiver unreachable")
        << QByteArray("a.bin") << qint64(10) << QByteArray("ALICE-TO-BOB") << false << quint64(404)
        << "receiver-unreachable";
}

void TestGapsimRelay::typeCheckRefusals()
{
    QFETCH(QByteArray, fileName);
    QFETCH(qint64, size);
    QFETCH(QByteArray, pathKey);
    QFETCH(bool, receiverListening);
    QFETCH(quint64, answer);
    QFETCH(QString, reason);
    QVERIFY(m_gapsim->start(config()));
    if (!receiverListening)
        m_receiverServer->close();
    QTcpSocket sender;
    sender.connectToHost(QHostAddress::LocalHost, m_gapsim->port());
    QVERIFY(sender.waitForConnected(kWaitMs));
    sender.write(descriptor(size, pathKey, fileName));
    const QByteArray got = readBytes(sender, 2 * kPacket);
    QCOMPARE(got, packet(answer)); // one bare answer, then the gap closes
    // Had the gap contacted the receiver, it would have done so before answering.
    QVERIFY(!m_receiverServer->waitForNewConnection(100));
    const QString line = m_gapsim->waitForEvent(QStringLiteral("^type-check "));
    QCOMPARE(GapsimProcess::field(line, "type"), QString::number(answer));
    QCOMPARE(GapsimProcess::field(line, "reason"), reason);
}

void TestGapsimRelay::descriptorResponses_data()
{
    QTest::addColumn<int>("receiverAction"); // a response type to relay, or -1 close, -2 stall
    QTest::addColumn<quint64>("senderGets");
    QTest::newRow("name too long") << 13 << quint64(13);
    QTest::newRow("no receive path") << 14 << quint64(14);
    QTest::newRow("receiver closes") << -1 << quint64(404);
    QTest::newRow("receiver stalls") << -2 << quint64(404);
}

void TestGapsimRelay::descriptorResponses()
{
    QFETCH(int, receiverAction);
    QFETCH(quint64, senderGets);
    QVERIFY(m_gapsim->start(config()));
    QTcpSocket sender;
    sender.connectToHost(QHostAddress::LocalHost, m_gapsim->port());
    QVERIFY(sender.waitForConnected(kWaitMs));
    const QByteArray desc = descriptor(10, "ALICE-TO-BOB", "a.bin");
    sender.write(desc);
    QCOMPARE(readBytes(sender, kPacket), packet(3));
    QScopedPointer<QTcpSocket> receiver(acceptReceiver());
    QVERIFY(receiver);
    QCOMPARE(readBytes(*receiver, kPacket), desc);
    if (receiverAction >= 0)
        QVERIFY(send(*receiver, metaResponse(quint64(receiverAction), desc)));
    else if (receiverAction == -1)
        receiver->disconnectFromHost();
    QCOMPARE(readBytes(sender, 2 * kPacket), packet(senderGets));
    QVERIFY(waitForClose(sender));
    QVERIFY(waitForClose(*receiver));
}

void TestGapsimRelay::verdicts_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("findingPacket"); // index of the first packet holding the finding
    QTest::addColumn<QString>("verdictAt");
    QTest::addColumn<quint64>("verdict");
    QByteArray base = randomContent(4 * kPayload + 100, 7);
    auto with = [&base](int offset, const QByteArray &bytes) {
        QByteArray c = base;
        return c.replace(offset, bytes.size(), bytes);
    };
    QTest::newRow("keyword in the data")
        << with(kPayload + 500, "TOPSECRET") << 1 << "data" << quint64(10);
    QTest::newRow("second keyword")
        << with(2 * kPayload, "CLASSIFIED") << 2 << "data" << quint64(10);
    QTest::newRow("virus in the data") << with(500, "X5O-TEST-VIRUS") << 0 << "data" << quint64(11);
    QTest::newRow("keyword across two packets")
        << with(kPayload - 4, "TOPSECRET") << 1 << "data" << quint64(10);
    QTest::newRow("keyword in the tail")
        << with(4 * kPayload + 10, "TOPSECRET") << 4 << "data" << quint64(10);
    QTest::newRow("keyword, verdict at the end")
        << with(kPayload + 500, "TOPSECRET") << 1 << "end" << quint64(10);
    // The tail is shorter than the part of the signature it completes.
    QByteArray shortTail = randomContent(4 * kPayload + 5, 8);
    shortTail.replace(4 * kPayload - 9, 14, "X5O-TEST-VIRUS");
    QTest::newRow("virus ending in a short tail") << shortTail << 4 << "data" << quint64(11);
}

// After a finding the receiver gets the verdict and loses its connection; the sender's data is
// still read to the file end, and the verdict comes at once or in place of the confirmation.
void TestGapsimRelay::verdicts()
{
    QFETCH(QByteArray, content);
    QFETCH(int, findingPacket);
    QFETCH(QString, verdictAt);
    QFETCH(quint64, verdict);
    QVERIFY(m_gapsim->start(config(QStringLiteral("verdict_at = %1").arg(verdictAt))));
    QTcpSocket sender;
    sender.connectToHost(QHostAddress::LocalHost, m_gapsim->port());
    QVERIFY(sender.waitForConnected(kWaitMs));
    sender.write(descriptor(content.size(), "ALICE-TO-BOB", "report.txt"));
    QCOMPARE(readBytes(sender, kPacket), packet(3));
    QScopedPointer<QTcpSocket> receiver(acceptReceiver());
    QVERIFY(receiver);
    QVERIFY(send(*receiver, metaResponse(9, readBytes(*receiver, kPacket))));
    QCOMPARE(u64(readBytes(sender, kPacket), 0), quint64(9));

    const QByteArray stream = contentPackets(content);
    const int packets = stream.size() / kPacket;
    const bool atOnce = verdictAt == QLatin1String("data") && findingPacket < packets - 1;
    sender.write(stream.left((findingPacket + 1) * kPacket));
    if (atOnce)
        QCOMPARE(readBytes(sender, kPacket), packet(verdict)); // before the rest is sent
    sender.write(stream.mid((findingPacket + 1) * kPacket));
    QVERIFY(sender.waitForBytesWritten(kWaitMs));
    if (!atOnce)
        QCOMPARE(readBytes(sender, kPacket), packet(verdict));
    QVERIFY(waitForClose(sender));
    // The receiver gets what came before the finding, then the verdict, then the end.
    QCOMPARE(readBytes(*receiver, stream.size() + kPacket),
        stream.left(findingPacket * kPacket) + packet(verdict));
    QCOMPARE(receiver->state(), QAbstractSocket::UnconnectedState);
    const QString end = m_gapsim->waitForEvent(QStringLiteral("^relay-end "));
    QCOMPARE(GapsimProcess::field(end, "result"),
        verdict == 11 ? QStringLiteral("virus") : QStringLiteral("keyword"));
    QCOMPARE(GapsimProcess::field(end, "received"), QString::number(content.size()));
    QVERIFY(!m_gapsim->waitForEvent(QStringLiteral("^verdict .*type=%1").arg(verdict)).isEmpty());
}

void TestGapsimRelay::faults_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QList<quint64>>("senderTypes");
    QTest::addColumn<bool>("receiverContacted");
    QTest::addColumn<QString>("result");
    QTest::newRow("offline at the type check")
        << "offline" << QList<quint64> { 404 } << false << "refused";
    QTest::newRow("offline at the descriptor")
        << "offline,answer=descriptor-response" << QList<quint64> { 3, 404 } << false << "offline";
    QTest::newRow("flipped byte") << "flip,offset=1500" << QList<quint64> { 3, 9, 15 } << true
                                  << "confirmation-15";
    QTest::newRow("delayed confirmation")
        << "delay,answer=confirmation,ms=300" << QList<quint64> { 3, 9, 5 } << true << "delivered";
    QTest::newRow("delayed type check")
        << "delay,answer=type-check,ms=300" << QList<quint64> { 3, 9, 5 } << true << "delivered";
    QTest::newRow("cut in the data")
        << "cut,bytes=7000" << QList<quint64> { 3, 9 } << true << "cut";
}

void TestGapsimRelay::faults()
{
    QFETCH(QString, fault);
    QFETCH(QList<quint64>, senderTypes);
    QFETCH(bool, receiverContacted);
    QFETCH(QString, result);
    QVERIFY(m_gapsim->start(config(), { "--fault", fault }));
    const QByteArray content = randomContent(5 * kPayload + 7, 3);
    const bool flip = fault.startsWith(QLatin1String("flip"));
    const Outcome outcome = runTransfer("data.bin", content, 9, flip ? 15 : 5);
    QCOMPARE(typesOf(outcome.senderGot), senderTypes);
    QCOMPARE(outcome.receiverContacted, receiverContacted);
    const QByteArray received = contentOf(outcome.receiverStream);
    if (flip) {
        QByteArray expected = content;
        expected[1500] = char(~expected[1500]);
        QCOMPARE(received, expected);
    } else {
        // Whatever reached the receiver is the start of the content, unchanged.
        QCOMPARE(received, content.left(received.size()));
    }
    const QString end = m_gapsim->waitForEvent(QStringLiteral("^relay-end "));
    QCOMPARE(GapsimProcess::field(end, "result"), result);
    QVERIFY(
        !m_gapsim->waitForEvent(QStringLiteral("^fault .*kind=%1").arg(fault.section(',', 0, 0)))
             .isEmpty());
}

void TestGapsimRelay::faultHitsOnlyMatchingFilesAndCount()
{
    QVERIFY(m_gapsim->start(config()
        + QStringLiteral("[fault.first-bin-offline]\nkind = offline\n"
                         "file = *.bin\ncount = 1\n")));
    const QByteArray content = randomContent(3000, 1);
    QCOMPARE(typesOf(runTransfer("notes.txt", content).senderGot), (QList<quint64> { 3, 9, 5 }));
    QCOMPARE(typesOf(runTransfer("first.bin", content).senderGot), (QList<quint64> { 404 }));
    QCOMPARE(typesOf(runTransfer("second.bin", content).senderGot), (QList<quint64> { 3, 9, 5 }));
}

// Without an address in the configuration, files go to where the receiving user logged in from.
void TestGapsimRelay::receiverDefaultsToItsLoginAddress()
{
    QVERIFY(m_gapsim->start(config().replace(QStringLiteral("address = 127.0.0.1\n"), QString())));
    const QByteArray content = randomContent(2000, 4);
    QCOMPARE(typesOf(runTransfer("early.bin", content).senderGot), (QList<quint64> { 404 }));
    QCOMPARE(GapsimProcess::field(m_gapsim->waitForEvent("^type-check "), "reason"),
        QStringLiteral("receiver-address-unknown"));
    QTcpSocket login;
    login.connectToHost(QHostAddress::LocalHost, m_gapsim->port());
    QVERIFY(login.waitForConnected(kWaitMs));
    QByteArray request = packet(20);
    putText(request, 8, "bob"); // "bob" scrambles to itself
    putText(request, 28, "m8{l~~zm"); // "bob-pass" scrambled
    QVERIFY(send(login, request));
    QCOMPARE(i32(readBytes(login, kPacket), 8), 101);
    QCOMPARE(typesOf(runTransfer("later.bin", content).senderGot), (QList<quint64> { 3, 9, 5 }));
}

// A client recognises its gap by the peer address, so the gap connects from its own address.
void TestGapsimRelay::relayLeavesFromTheGapsAddress()
{
    const QHostAddress gapAddress(QStringLiteral("127.0.0.2"));
    QVERIFY(m_gapsim->start(config(), { "--listen", gapAddress.toString() }));
    QTcpSocket sender;
    sender.connectToHost(gapAddress, m_gapsim->port());
    QVERIFY(sender.waitForConnected(kWaitMs));
    QVERIFY(send(sender, descriptor(10, "ALICE-TO-BOB", "a.bin")));
    QScopedPointer<QTcpSocket> receiver(acceptReceiver());
    QVERIFY(receiver);
    QCOMPARE(receiver->peerAddress(), gapAddress);
    QCOMPARE(readBytes(sender, kPacket), packet(3));
}

void TestGapsimRelay::misbehavingPeers_data()
{
    QTest::addColumn<QString>("misdeed");
    QTest::addColumn<QString>("result");
    QTest::newRow("sender vanishes") << "sender-closes"
                                     << "sender-closed";
    QTest::newRow("receiver vanishes") << "receiver-closes"
                                       << "receiver-closed";
    QTest::newRow("wrong packet type") << "wrong-type"
                                       << "protocol-error";
    QTest::newRow("tail length too large") << "bad-tail"
                                           << "protocol-error";
    QTest::newRow("sender stalls") << "sender-stalls"
                                   << "timeout";
    QTest::newRow("receiver never confirms") << "no-confirmation"
                                             << "timeout";
}

// Each misdeed ends the relay with both connections closed, and the gap goes on relaying.
void TestGapsimRelay::misbehavingPeers()
{
    QFETCH(QString, misdeed);
    QFETCH(QString, result);
    QVERIFY(m_gapsim->start(config() + QStringLiteral("[gap]\nconfirm_timeout_ms = 2000\n")));
    const QByteArray content = randomContent(3 * kPayload + 5, 9);
    {
        QTcpSocket sender;
        sender.connectToHost(QHostAddress::LocalHost, m_gapsim->port());
        QVERIFY(sender.waitForConnected(kWaitMs));
        sender.write(descriptor(content.size(), "ALICE-TO-BOB", "x.bin"));
        QCOMPARE(readBytes(sender, kPacket), packet(3));
        QScopedPointer<QTcpSocket> receiver(acceptReceiver());
        QVERIFY(receiver);
        QVERIFY(send(*receiver, metaResponse(9, readBytes(*receiver, kPacket))));
        QCOMPARE(u64(readBytes(sender, kPacket), 0), quint64(9));
        QByteArray stream = contentPackets(content);
        if (misdeed == QLatin1String("wrong-type"))
            putU64(stream, kPacket, 7);
        if (misdeed == QLatin1String("bad-tail"))
            putU64(stream, stream.size() - kPacket + 8, 5000);
        const bool partial = misdeed.endsWith(QLatin1String("closes"))
            || misdeed == QLatin1String("sender-stalls");
        sender.write(partial ? stream.left(kPacket + 10) : stream);
        QVERIFY(sender.waitForBytesWritten(kWaitMs));
        if (misdeed == QLatin1String("sender-closes"))
            sender.disconnectFromHost();
        if (misdeed == QLatin1String("receiver-closes")) {
            readBytes(*receiver, kPacket);
            receiver->disconnectFromHost();
        }
        QVERIFY(waitForClose(*receiver));
        QVERIFY(waitForClose(sender));
    }
    QCOMPARE(GapsimProcess::field(m_gapsim->waitForEvent(QStringLiteral("^relay-end ")), "result"),
        result);
    QCOMPARE(typesOf(runTransfer("after.bin", content).senderGot), (QList<quint64> { 3, 9, 5 }));
}

// Seeded random abuse from both sides, several relays open at once: the gap must neither crash nor
// stop serving, and must stop cleanly afterwards (under the sanitizers: without leaks).
void TestGapsimRelay::survivesRandomMisbehaviour()
{
    QVERIFY(m_gapsim->start(config().replace("timeout_ms = 3000", "timeout_ms = 500")));
    QRandomGenerator random(20261210);
    const QByteArray stream = contentPackets(randomContent(8 * kPayload + 99, 11));
    std::vector<std::unique_ptr<QTcpSocket>> peers;
    for (int round = 0; round < 40; ++round) {
        auto sender = std::make_unique<QTcpSocket>();
        sender->connectToHost(QHostAddress::LocalHost, m_gapsim->port());
        QVERIFY(sender->waitForConnected(kWaitMs));
        QByteArray bytes = descriptor(stream.size(), "ALICE-TO-BOB", "r.bin") + stream;
        for (int flips = random.bounded(4); flips > 0; --flips)
            bytes[random.bounded(bytes.size())] = char(random.bounded(256));
        send(*sender, bytes.left(random.bounded(bytes.size() + 1)));
        if (m_receiverServer->waitForNewConnection(50)) {
            auto receiver = std::unique_ptr<QTcpSocket>(m_receiverServer->nextPendingConnection());
            const int action = random.bounded(3);
            if (action == 0)
                send(*receiver, metaResponse(9, readBytes(*receiver, kPacket, 200)));
            else if (action == 1)
                send(*receiver, randomContent(random.bounded(3 * kPacket), quint32(round)));
            if (random.bounded(2))
                receiver->abort();
            peers.push_back(std::move(receiver));
        }
        if (random.bounded(2))
            sender->abort();
        peers.push_back(std::move(sender));
    }
    peers.clear();
    QTRY_COMPARE_WITH_TIMEOUT(typesOf(runTransfer("after.bin", randomContent(5000, 2)).senderGot),
        (QList<quint64> { 3, 9, 5 }), 30000);
}

void TestGapsimRelay::concurrentTransfersStayApart()
{
    QVERIFY(m_gapsim->start(config()));
    const QByteArray contents[2] = { randomContent(400000, 21), randomContent(250000, 22) };
    QTcpSocket senders[2];
    QScopedPointer<QTcpSocket> receivers[2];
    for (int i = 0; i < 2; ++i) {
        senders[i].connectToHost(QHostAddress::LocalHost, m_gapsim->port());
        QVERIFY(senders[i].waitForConnected(kWaitMs));
        senders[i].write(
            descriptor(contents[i].size(), "ALICE-TO-BOB", "f" + QByteArray::number(i)));
        QCOMPARE(readBytes(senders[i], kPacket), packet(3));
        receivers[i].reset(acceptReceiver());
        QVERIFY(receivers[i]);
        const QByteArray desc = readBytes(*receivers[i], kPacket);
        QCOMPARE(text(desc, 102, 1024), "f" + QByteArray::number(i));
        QVERIFY(send(*receivers[i], metaResponse(9, desc)));
        QCOMPARE(u64(readBytes(senders[i], kPacket), 0), quint64(9));
    }
    QByteArray streams[2] = { contentPackets(contents[0]), contentPackets(contents[1]) };
    QByteArray got[2];
    for (int i = 0; i < 2; ++i)
        senders[i].write(streams[i]);
    QElapsedTimer clock;
    clock.start();
    while ((got[0].size() < streams[0].size() || got[1].size() < streams[1].size())
        && clock.elapsed() < kWaitMs) {
        for (int i = 0; i < 2; ++i) {
            senders[i].waitForBytesWritten(10);
            receivers[i]->waitForReadyRead(10);
            got[i] += receivers[i]->readAll();
        }
    }
    for (int i = 0; i < 2; ++i) {
        QCOMPARE(got[i], streams[i]);
        QVERIFY(send(*receivers[i], packet(5)));
        QCOMPARE(readBytes(senders[i], 2 * kPacket), packet(5));
    }
}

void TestGapsimRelay::stopsCleanlyDuringTransfer()
{
    QVERIFY(m_gapsim->start(config()));
    QTcpSocket sender;
    sender.connectToHost(QHostAddress::LocalHost, m_gapsim->port());
    QVERIFY(sender.waitForConnected(kWaitMs));
    sender.write(descriptor(100000, "ALICE-TO-BOB", "x.bin"));
    QCOMPARE(readBytes(sender, kPacket), packet(3));
    QScopedPointer<QTcpSocket> receiver(acceptReceiver());
    QVERIFY(receiver);
    QVERIFY(send(*receiver, metaResponse(9, readBytes(*receiver, kPacket))));
    QCOMPARE(u64(readBytes(sender, kPacket), 0), quint64(9));
    sender.write(contentPackets(randomContent(100000, 5)).left(10 * kPacket));
    QVERIFY(sender.waitForBytesWritten(kWaitMs));
    QCOMPARE(m_gapsim->stop(), 0);
    QVERIFY(!m_gapsim->waitForEvent(QStringLiteral("^stopped$"), 0).isEmpty());
    QVERIFY(waitForClose(sender));
    QVERIFY(waitForClose(*receiver));
    QVERIFY(m_gapsim->start(config())); // for cleanup()
}

QTEST_GUILESS_MAIN(TestGapsimRelay)
#include "tst_gapsim_relay.moc"
