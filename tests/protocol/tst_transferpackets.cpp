#include "protocol/GoldenPacket.h"
#include "protocol/TransferPackets.h"

#include <QtTest>

namespace {

const QByteArray kMd5 = "D41D8CD98F00B204E9800998ECF8427E";

QByteArray pattern(int size)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char(i % 251 + 1);
    return bytes;
}

// A descriptor as the wire carries it, written by hand.
QByteArray goldenDescriptor()
{
    return GoldenPacket()
        .u64(0, 0)
        .i64(8, 5000000000LL)
        .bytes(16, "fe80::1")
        .bytes(62, "path-1")
        .bytes(102, QString("目录/a.txt").toUtf8())
        .bytes(1126, "alice")
        .bytes(1146, "bob")
        .bytes(1166, kMd5)
        .data();
}

} // namespace

class TestTransferPackets : public QObject
{
    Q_OBJECT

private slots:
    void descriptor_data();
    void descriptor();
    void descriptorRefusesWhatDoesNotFit_data();
    void descriptorRefusesWhatDoesNotFit();
    void addressScope_data();
    void addressScope();
    void relativePath_data();
    void relativePath();
    void dataPacket();
    void fileEnd_data();
    void fileEnd();
    void tailLengthFromTheWire_data();
    void tailLengthFromTheWire();
    void packetCounts_data();
    void packetCounts();
    void metaResponseAccepted();
    void metaResponseRefusals_data();
    void metaResponseRefusals();
    void reply_data();
    void reply();
    void hasExactType_data();
    void hasExactType();
};

void TestTransferPackets::descriptor_data()
{
    QTest::addColumn<QString>("localAddress");
    QTest::newRow("scope removed") << "fe80::1%eth0";
    QTest::newRow("no scope") << "fe80::1";
}

void TestTransferPackets::descriptor()
{
    QFETCH(QString, localAddress);
    const auto built
        = buildDescriptor(5000000000LL, localAddress, "path-1", "目录/a.txt", "alice", "bob", kMd5);
    QVERIFY(built);
    // The digest has no terminator: byte 1198 right after it is the first reserved zero.
    QCOMPARE(firstDifference(packetBytes(*built), goldenDescriptor()), -1);
}

void TestTransferPackets::descriptorRefusesWhatDoesNotFit_data()
{
    QTest::addColumn<QByteArray>("pathID");
    QTest::addColumn<QString>("relativePath");
    QTest::addColumn<QByteArray>("user");
    QTest::addColumn<QByteArray>("md5");
    QTest::addColumn<bool>("built");

    const QString longestPath(1023, 'p');
    QTest::newRow("fields full") << QByteArray(39, 'i') << longestPath << QByteArray(19, 'u')
                                 << kMd5 << true;
    QTest::newRow("path too long")
        << QByteArray("id") << longestPath + 'p' << QByteArray("u") << kMd5 << false;
    // 342 three-byte characters are 1026 bytes of UTF-8.
    QTest::newRow("utf-8 path too long")
        << QByteArray("id") << QString(342, QChar(0x76ee)) << QByteArray("u") << kMd5 << false;
    QTest::newRow("rule key too long")
        << QByteArray(40, 'i') << "a" << QByteArray("u") << kMd5 << false;
    QTest::newRow("user too long")
        << QByteArray("id") << "a" << QByteArray(20, 'u') << kMd5 << false;
    QTest::newRow("no digest") << QByteArray("id") << "a" << QByteArray("u") << QByteArray()
                               << false;
    QTest::newRow("short digest") << QByteArray("id") << "a" << QByteArray("u") << kMd5.left(31)
                                  << false;
}

void TestTransferPackets::descriptorRefusesWhatDoesNotFit()
{
    QFETCH(QByteArray, pathID);
    QFETCH(QString, relativePath);
    QFETCH(QByteArray, user);
    QFETCH(QByteArray, md5);
    QFETCH(bool, built);

    const auto pkt = buildDescriptor(1, "127.0.0.1", pathID, relativePath, user, user, md5);
    QCOMPARE(bool(pkt), built);
}

void TestTransferPackets::addressScope_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("withoutScope");

    QTest::newRow("scoped") << "fe80::1%eth0"
                            << "fe80::1";
    QTest::newRow("from the last percent") << "fe80::1%a%b"
                                           << "fe80::1%a";
    QTest::newRow("ipv4") << "10.1.2.3"
                          << "10.1.2.3";
    QTest::newRow("only a scope") << "%lo"
                                  << "";
}

void TestTransferPackets::addressScope()
{
    QFETCH(QString, address);
    QFETCH(QString, withoutScope);
    QCOMPARE(addressWithoutScope(address), withoutScope);
}

void TestTransferPackets::relativePath_data()
{
    QTest::addColumn<QString>("sendDir");
    QTest::addColumn<QString>("filePath");
    QTest::addColumn<QString>("relative");

    QTest::newRow("plain") << "/data/send"
                           << "/data/send/a/b.txt"
                           << "a/b.txt";
    QTest::newRow("backslash") << "D:\\send\\"
                               << "D:\\send\\b.txt"
                               << "b.txt";
    QTest::newRow("trailing slash") << "/data/send/"
                                    << "/data/send/b.txt"
                                    << "b.txt";
    QTest::newRow("unicode") << "/数据"
                             << "/数据/子/文件.txt"
                             << "子/文件.txt";
}

void TestTransferPackets::relativePath()
{
    QFETCH(QString, sendDir);
    QFETCH(QString, filePath);
    QFETCH(QString, relative);
    QCOMPARE(relativeSendPath(filePath, sendDir), relative);
}

void TestTransferPackets::dataPacket()
{
    const QByteArray payload = pattern(1444);
    const QByteArray golden = GoldenPacket().u64(0, 1).bytes(8, payload).data();
    QCOMPARE(firstDifference(packetBytes(buildDataPacket(payload.constData())), golden), -1);
}

void TestTransferPackets::fileEnd_data()
{
    QTest::addColumn<int>("length");
    QTest::newRow("empty tail") << 0;
    QTest::newRow("one byte") << 1;
    QTest::newRow("longest tail") << 1443;
}

void TestTransferPackets::fileEnd()
{
    QFETCH(int, length);
    const QByteArray tail = pattern(length);
    const QByteArray golden = GoldenPacket().u64(0, 2).i64(8, length).bytes(16, tail).data();
    const _PACKET_FILE_END built = buildFileEnd(tail.constData(), length);
    QCOMPARE(firstDifference(packetBytes(built), golden), -1);
    QCOMPARE(readTailLength(built), length);
}

void TestTransferPackets::tailLengthFromTheWire_data()
{
    QTest::addColumn<qint64>("wireLength");
    QTest::addColumn<int>("length");

    QTest::newRow("zero") << qint64(0) << 0;
    QTest::newRow("longest") << qint64(1443) << 1443;
    QTest::newRow("a whole payload") << qint64(1444) << -1;
    QTest::newRow("past the packet") << qint64(5000) << -1;
    QTest::newRow("negative") << qint64(-1) << -1;
    QTest::newRow("low 32 bits fit") << ((qint64(1) << 32) | 7) << -1;
}

void TestTransferPackets::tailLengthFromTheWire()
{
    QFETCH(qint64, wireLength);
    QFETCH(int, length);
    const auto end
        = packetFrom<_PACKET_FILE_END>(GoldenPacket().u64(0, 2).i64(8, wireLength).data());
    QCOMPARE(readTailLength(end), length);
}

void TestTransferPackets::packetCounts_data()
{
    QTest::addColumn<qint64>("fileSize");
    QTest::addColumn<qint64>("dataPackets");
    QTest::addColumn<int>("tail");

    QTest::newRow("empty") << qint64(0) << qint64(0) << 0;
    QTest::newRow("1443") << qint64(1443) << qint64(0) << 1443;
    QTest::newRow("1444") << qint64(1444) << qint64(1) << 0;
    QTest::newRow("1445") << qint64(1445) << qint64(1) << 1;
    QTest::newRow("144400") << qint64(144400) << qint64(100) << 0;
    QTest::newRow("5 GB") << qint64(5000000000LL) << qint64(3462603) << 1268;
}

void TestTransferPackets::packetCounts()
{
    QFETCH(qint64, fileSize);
    QFETCH(qint64, dataPackets);
    QFETCH(int, tail);
    QCOMPARE(dataPacketCount(fileSize), dataPackets);
    QCOMPARE(tailLength(fileSize), tail);
}

void TestTransferPackets::metaResponseAccepted()
{
    const auto descriptor = packetFrom<_PACKET_FILE_DISCRIBE>(goldenDescriptor());
    const QByteArray golden = GoldenPacket()
                                  .u64(0, 9)
                                  .bytes(8, "fe80::1")
                                  .bytes(54, "fe80::1")
                                  .bytes(100, "path-1")
                                  .bytes(140, QString("目录/a.txt").toUtf8())
                                  .bytes(1164, kMd5)
                                  .data();
    const QByteArray built = packetBytes(buildMetaResponse(descriptor, kTypeMetaAccepted));
    QCOMPARE(firstDifference(built, golden), -1);
}

void TestTransferPackets::metaResponseRefusals_data()
{
    QTest::addColumn<quint64>("type");
    QTest::newRow("name too long") << quint64(kTypeNameTooLong);
    QTest::newRow("no receive path") << quint64(kTypeNoRecvPath);
}

void TestTransferPackets::metaResponseRefusals()
{
    QFETCH(quint64, type);
    const auto descriptor = packetFrom<_PACKET_FILE_DISCRIBE>(goldenDescriptor());
    const QByteArray built = packetBytes(buildMetaResponse(descriptor, type));
    QCOMPARE(firstDifference(built, GoldenPacket().u64(0, type).data()), -1);
}

void TestTransferPackets::reply_data()
{
    QTest::addColumn<quint64>("type");
    QTest::newRow("accepted") << quint64(kTypeTypeAccepted);
    QTest::newRow("confirmed") << quint64(kTypeConfirmOk);
    QTest::newRow("mismatch") << quint64(kTypeConfirmMismatch);
    QTest::newRow("offline") << quint64(kTypePeerOffline);
}

void TestTransferPackets::reply()
{
    QFETCH(quint64, type);
    QCOMPARE(
        firstDifference(packetBytes(buildReply(type)), GoldenPacket().u64(0, type).data()), -1);
}

void TestTransferPackets::hasExactType_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<bool>("isNine");

    QTest::newRow("type 9") << GoldenPacket().u64(0, 9).data() << true;
    QTest::newRow("upper bytes set")
        << GoldenPacket().u64(0, 9 | (quint64(1) << 40)).data() << false;
    QTest::newRow("other type") << GoldenPacket().u64(0, 13).data() << false;
    QTest::newRow("short read") << GoldenPacket().u64(0, 9).data().left(1459) << false;
    QTest::newRow("nothing") << QByteArray() << false;
}

void TestTransferPackets::hasExactType()
{
    QFETCH(QByteArray, answer);
    QFETCH(bool, isNine);
    QCOMPARE(hasType(answer, kTypeMetaAccepted), isNine);
}

QTEST_GUILESS_MAIN(TestTransferPackets)
#include "tst_transferpackets.moc"
