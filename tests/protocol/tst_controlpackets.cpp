#include "protocol/ControlPackets.h"
#include "protocol/GoldenPacket.h"

#include <QtTest>

class TestControlPackets : public QObject
{
    Q_OBJECT

private slots:
    void loginRequest_data();
    void loginRequest();
    void loginResponse();
    void userRequest_data();
    void userRequest();
    void confData();
    void confDataCarriesAtMostTwentyTwoEntries_data();
    void confDataCarriesAtMostTwentyTwoEntries();
    void confDataReadsHostileCounts();
    void keyInfo();
    void keyInfoReaders_data();
    void keyInfoReaders();
};

void TestControlPackets::loginRequest_data()
{
    QTest::addColumn<QByteArray>("user");
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<QByteArray>("scrambledUser");
    QTest::addColumn<QByteArray>("scrambledPassword");

    QTest::newRow("short") << QByteArray("abcd") << QByteArray("abc") << QByteArray("jkih")
                           << QByteArray("cba");
    // 19 characters fill the field together with the terminator (k = 16).
    QTest::newRow("19 chars") << QByteArray("abcdefghijklmnopqrs") << QByteArray("x")
                              << QByteArray("stuvwxyz{|}~\x7f\x80\x81\x82\x83rq")
                              << QByteArray("z");
    // Longer input is cut to 19 characters before it is scrambled.
    QTest::newRow("cut") << QByteArray("abcdefghijklmnopqrsTUVWXYZ") << QByteArray()
                         << QByteArray("stuvwxyz{|}~\x7f\x80\x81\x82\x83rq") << QByteArray();
}

void TestControlPackets::loginRequest()
{
    QFETCH(QByteArray, user);
    QFETCH(QByteArray, password);
    QFETCH(QByteArray, scrambledUser);
    QFETCH(QByteArray, scrambledPassword);

    const QByteArray built = packetBytes(buildLoginRequest(user, password, "fe80::1:2:3"));
    const QByteArray golden = GoldenPacket()
                                  .u64(0, 20)
                                  .bytes(8, scrambledUser)
                                  .bytes(28, scrambledPassword)
                                  .bytes(48, "fe80::1:2:3")
                                  .data();
    QCOMPARE(firstDifference(built, golden), -1);
}

void TestControlPackets::loginResponse()
{
    const QByteArray built = packetBytes(buildLoginResponse(103, -2));
    const QByteArray golden = GoldenPacket().u64(0, 21).i32(8, 103).i32(12, -2).data();
    QCOMPARE(firstDifference(built, golden), -1);

    const _PACKET_LOGIN_RESPONSE read = packetFrom<_PACKET_LOGIN_RESPONSE>(golden.left(16));
    QCOMPARE(quint64(read.type), quint64(kTypeLoginResponse));
    QCOMPARE(qint32(read.response), 103);
    QCOMPARE(qint32(read.rightLevel), -2);
}

void TestControlPackets::userRequest_data()
{
    QTest::addColumn<quint64>("type");
    QTest::newRow("rules") << quint64(kTypeRulesRequest);
    QTest::newRow("logout") << quint64(kTypeLogoutRequest);
    QTest::newRow("keys") << quint64(kTypeKeyRequest);
}

void TestControlPackets::userRequest()
{
    QFETCH(quint64, type);
    // The user name travels plain here.
    const QByteArray built = packetBytes(buildUserRequest(type, "abcd"));
    const QByteArray golden = GoldenPacket().u64(0, type).bytes(8, "abcd").data();
    QCOMPARE(firstDifference(built, golden), -1);
}

void TestControlPackets::confData()
{
    const QVector<ConfSendEntry> sends { { "bob", "path-1", 2 }, { "carol", "path-2", -1 } };
    const QVector<ConfRecvEntry> recvs { { "dave", "path-9" } };
    const _PACKET_CONF_DATA pkt = buildConfData(sends, recvs);

    const QByteArray golden = GoldenPacket()
                                  .u64(0, 8)
                                  .u64(8, 2)
                                  .u64(16, 1)
                                  .bytes(32, "bob")
                                  .bytes(32 + 20, "path-1")
                                  .i32(32 + 60, 2)
                                  .bytes(96, "carol")
                                  .bytes(96 + 20, "path-2")
                                  .i32(96 + 60, -1)
                                  .bytes(160, "dave")
                                  .bytes(160 + 20, "path-9")
                                  .data();
    QCOMPARE(firstDifference(packetBytes(pkt), golden), -1);

    const _PACKET_CONF_DATA read = packetFrom<_PACKET_CONF_DATA>(golden);
    const QVector<ConfSendEntry> readSends = readConfSendEntries(read);
    const QVector<ConfRecvEntry> readRecvs = readConfRecvEntries(read);
    QCOMPARE(readSends.size(), 2);
    QCOMPARE(readSends[1].user, QByteArray("carol"));
    QCOMPARE(readSends[1].pathID, QByteArray("path-2"));
    QCOMPARE(readSends[1].level, -1);
    QCOMPARE(readRecvs.size(), 1);
    QCOMPARE(readRecvs[0].user, QByteArray("dave"));
    QCOMPARE(readRecvs[0].pathID, QByteArray("path-9"));
}

void TestControlPackets::confDataCarriesAtMostTwentyTwoEntries_data()
{
    QTest::addColumn<int>("sends");
    QTest::addColumn<int>("recvs");
    QTest::addColumn<int>("carriedSends");
    QTest::addColumn<int>("carriedRecvs");

    QTest::newRow("all fit") << 10 << 12 << 10 << 12;
    QTest::newRow("receive entries cut") << 20 << 5 << 20 << 2;
    QTest::newRow("only send entries") << 30 << 3 << 22 << 0;
    QTest::newRow("only receive entries") << 0 << 25 << 0 << 22;
}

void TestControlPackets::confDataCarriesAtMostTwentyTwoEntries()
{
    QFETCH(int, sends);
    QFETCH(int, recvs);
    QFETCH(int, carriedSends);
    QFETCH(int, carriedRecvs);

    QVector<ConfSendEntry> sendEntries;
    for (int i = 0; i < sends; ++i)
        sendEntries.append({ "u", "s" + QByteArray::number(i), i });
    QVector<ConfRecvEntry> recvEntries;
    for (int i = 0; i < recvs; ++i)
        recvEntries.append({ "u", "r" + QByteArray::number(i) });

    const QByteArray bytes = packetBytes(buildConfData(sendEntries, recvEntries));
    QCOMPARE(qFromLittleEndian<quint64>(bytes.constData() + 8), quint64(carriedSends));
    QCOMPARE(qFromLittleEndian<quint64>(bytes.constData() + 16), quint64(carriedRecvs));
    // Nothing lands in the reserved tail.
    QCOMPARE(bytes.mid(1440), QByteArray(20, '\0'));
    if (carriedRecvs > 0) {
        const int last = 32 + 64 * (carriedSends + carriedRecvs - 1);
        QCOMPARE(
            QByteArray(bytes.constData() + last + 20), "r" + QByteArray::number(carriedRecvs - 1));
    }
}

void TestControlPackets::confDataReadsHostileCounts()
{
    // Counts far beyond the space never lead a reader past the 22 entries.
    const QByteArray golden = GoldenPacket()
                                  .u64(0, 8)
                                  .u64(8, 3)
                                  .u64(16, ~quint64(0))
                                  .bytes(32 + 3 * 64, "first-recv")
                                  .bytes(32 + 21 * 64, "last-recv")
                                  .data();
    const _PACKET_CONF_DATA pkt = packetFrom<_PACKET_CONF_DATA>(golden);
    QCOMPARE(readConfSendEntries(pkt).size(), 3);
    const QVector<ConfRecvEntry> recvs = readConfRecvEntries(pkt);
    QCOMPARE(recvs.size(), 19);
    QCOMPARE(recvs.first().user, QByteArray("first-recv"));
    QCOMPARE(recvs.last().user, QByteArray("last-recv"));

    const _PACKET_CONF_DATA many
        = packetFrom<_PACKET_CONF_DATA>(GoldenPacket().u64(0, 8).u64(8, 1ULL << 40).data());
    QCOMPARE(readConfSendEntries(many).size(), 22);
    QCOMPARE(readConfRecvEntries(many).size(), 0);
}

void TestControlPackets::keyInfo()
{
    const QByteArray built = packetBytes(buildKeyInfo(5000, true, "key-2026"));
    const QByteArray golden
        = GoldenPacket().u64(0, 35).u64(8, 5000).u64(16, 1).bytes(24, "key-2026").data();
    QCOMPARE(firstDifference(built, golden), -1);
}

void TestControlPackets::keyInfoReaders_data()
{
    QTest::addColumn<quint64>("length");
    QTest::addColumn<QByteArray>("nameField");
    QTest::addColumn<qint32>("dataLength");
    QTest::addColumn<bool>("hasName");
    QTest::addColumn<QString>("name");

    QTest::newRow("plain") << quint64(12) << QByteArray("key") << 12 << true << "key";
    QTest::newRow("utf-8 name") << quint64(0) << QString("密钥").toUtf8() << 0 << true << "密钥";
    QTest::newRow("low 32 bits") << ((quint64(1) << 32) | 5) << QByteArray("k") << 5 << true << "k";
    QTest::newRow("negative count") << quint64(0xffffffffU) << QByteArray("k") << -1 << true << "k";
    QTest::newRow("no terminator")
        << quint64(1) << QByteArray(1436, 'n') << 1 << false << QString();
}

void TestControlPackets::keyInfoReaders()
{
    QFETCH(quint64, length);
    QFETCH(QByteArray, nameField);
    QFETCH(qint32, dataLength);
    QFETCH(bool, hasName);
    QFETCH(QString, name);

    const key_info info = packetFrom<key_info>(
        GoldenPacket().u64(0, 35).u64(8, length).bytes(24, nameField).data());
    QCOMPARE(keyDataLength(info), dataLength);
    QString read;
    QCOMPARE(readKeyFileName(info, &read), hasName);
    QCOMPARE(read, name);
}

QTEST_GUILESS_MAIN(TestControlPackets)
#include "tst_controlpackets.moc"
