// The configuration-data decoder, fed packets written byte by byte at the wire's offsets.

#include "GapTestSupport.h"
#include "model/BaseFunction.h"
#include "protocol/GoldenPacket.h"

#include <QtTest>

using namespace GapTest;

namespace {

constexpr int kFirstEntry = 32;
constexpr int kEntrySize = 64;

// A configuration-data packet with the given counts; entries are placed by the caller.
GoldenPacket confPacket(quint64 scount, quint64 dcount)
{
    GoldenPacket p;
    p.u64(0, kTypeConfData).u64(8, scount).u64(16, dcount);
    return p;
}

GoldenPacket &entryAt(
    GoldenPacket &p, int offset, const QByteArray &user, const QByteArray &path, qint32 level = 0)
{
    return p.bytes(offset, user).bytes(offset + 20, path).i32(offset + 60, level);
}

QStringList sendEntries(const _VKGAPIP_CONF &gap)
{
    QMutexLocker lock(&g_Mutex);
    QStringList entries;
    for (int i = 0; i < gap.sendPathCount; ++i) {
        const _GAP_SEND_PATH &p = gap.sendPaths[i];
        entries.append(QStringLiteral("%1:%2:%3").arg(p.toUser, p.pathID).arg(p.level));
    }
    return entries;
}

QStringList recvEntries(const _VKGAPIP_CONF &gap)
{
    QMutexLocker lock(&g_Mutex);
    QStringList entries;
    for (int i = 0; i < gap.recvPathCount; ++i)
        entries.append(gap.recvPaths[i].fromUser + ":" + gap.recvPaths[i].pathID);
    return entries;
}

QStringList numbered(const QString &prefix, int count)
{
    QStringList list;
    for (int i = 0; i < count; ++i)
        list.append(prefix + QString::number(i));
    return list;
}

void decode(_VKGAPIP_CONF &gap, const QByteArray &bytes)
{
    const _PACKET_CONF_DATA pkt = packetFrom<_PACKET_CONF_DATA>(bytes);
    BaseFunction::DealWithConfData(&gap, &pkt);
}

} // namespace

class TestConfDecoder : public QObject
{
    Q_OBJECT

private slots:
    void decode_data();
    void decode();
    void rulesTakeLevelOfNewSendPaths();
};

void TestConfDecoder::decode_data()
{
    QTest::addColumn<QByteArray>("packet");
    QTest::addColumn<QStringList>("storedSend"); // path IDs the record holds already
    QTest::addColumn<QStringList>("storedRecv");
    QTest::addColumn<QStringList>("send"); // user:path:level, in stored order
    QTest::addColumn<QStringList>("recv"); // user:path

    const QStringList none;
    {
        GoldenPacket p = confPacket(2, 1);
        entryAt(p, 32, "bob", "S1", 1);
        entryAt(p, 96, "carol", "S2", 2);
        entryAt(p, 160, "dave", "R1");
        QTest::newRow("scount 2, dcount 1")
            << p.data() << none << none << QStringList { "bob:S1:1", "carol:S2:2" }
            << QStringList { "dave:R1" };
    }
    {
        GoldenPacket p = confPacket(0, 3);
        entryAt(p, 32, "u0", "R0");
        entryAt(p, 96, "u1", "R1");
        entryAt(p, 160, "u2", "R2");
        QTest::newRow("scount 0, dcount 3")
            << p.data() << none << none << none << QStringList { "u0:R0", "u1:R1", "u2:R2" };
    }
    QTest::newRow("both counts 0") << confPacket(0, 0).data() << none << none << none << none;
    {
        GoldenPacket p = confPacket(30, 1);
        QStringList sends;
        for (int i = 0; i < 22; ++i) {
            entryAt(p, kFirstEntry + i * kEntrySize, "bob", "S" + QByteArray::number(i), 1);
            sends.append(QStringLiteral("bob:S%1:1").arg(i));
        }
        QTest::newRow("scount 30") << p.data() << none << none << sends << none;
        QTest::newRow("counts at their maximum")
            << GoldenPacket(p).u64(8, ~0ull).u64(16, ~0ull).data() << none << none << sends << none;
    }
    {
        GoldenPacket p = confPacket(20, 5);
        QStringList sends;
        for (int i = 0; i < 20; ++i) {
            entryAt(p, kFirstEntry + i * kEntrySize, "bob", "S" + QByteArray::number(i), 1);
            sends.append(QStringLiteral("bob:S%1:1").arg(i));
        }
        entryAt(p, 1312, "u0", "R0");
        entryAt(p, 1376, "u1", "R1");
        QTest::newRow("receive entries behind twenty sends")
            << p.data() << none << none << sends << QStringList { "u0:R0", "u1:R1" };
    }
    {
        GoldenPacket p = confPacket(0, ~0ull);
        QStringList recvs;
        for (int i = 0; i < 22; ++i) {
            entryAt(p, kFirstEntry + i * kEntrySize, "u", "R" + QByteArray::number(i));
            recvs.append(QStringLiteral("u:R%1").arg(i));
        }
        QTest::newRow("dcount at its maximum") << p.data() << none << none << none << recvs;
    }
    {
        GoldenPacket p = confPacket(4, 2);
        entryAt(p, 32, "bob", "S1", 1);
        entryAt(p, 96, "carol", "S1", 2);
        entryAt(p, 160, "bob", "路径", 1);
        entryAt(p, 224, "carol", "路径", 2);
        entryAt(p, 288, "dave", "R1");
        entryAt(p, 352, "erin", "R1");
        QTest::newRow("duplicates in one packet")
            << p.data() << none << none << QStringList { "bob:S1:1", "bob:路径:1" }
            << QStringList { "dave:R1" };
        // A stored path is never changed, not even its level; only new paths are added.
        QTest::newRow("repeating stored paths")
            << p.data() << QStringList { "S1", "路径" } << QStringList { "R1" }
            << QStringList { ":S1:0", ":路径:0" } << QStringList { ":R1" };
    }
    {
        GoldenPacket p = confPacket(1, 1);
        entryAt(p, 32, "bob", "S-new", 1);
        entryAt(p, 96, "dave", "R1");
        QStringList full;
        for (const QString &id : numbered("S", 100))
            full.append(":" + id + ":0");
        QTest::newRow("record full of send paths")
            << p.data() << numbered("S", 100) << none << full << QStringList { "dave:R1" };
    }
    {
        GoldenPacket p = confPacket(3, 1);
        entryAt(p, 32, "bob", "S-a", 1);
        entryAt(p, 96, "bob", "S-b", 1);
        entryAt(p, 160, "bob", "S-c", 1);
        entryAt(p, 224, "dave", "R1");
        QStringList filled;
        for (const QString &id : numbered("S", 99))
            filled.append(":" + id + ":0");
        filled.append("bob:S-a:1");
        QTest::newRow("record fills up")
            << p.data() << numbered("S", 99) << none << filled << QStringList { "dave:R1" };
    }
    {
        // Fields that fill their width without a terminator end at the field's edge.
        GoldenPacket p = confPacket(1, 1);
        entryAt(p, 32, QByteArray(20, 'u'), QByteArray(40, 'p'), 3);
        entryAt(p, 96, QByteArray(20, 'v'), QByteArray(40, 'q'));
        QTest::newRow("unterminated fields")
            << p.data() << none << none
            << QStringList { QString(20, 'u') + ":" + QString(40, 'p') + ":3" }
            << QStringList { QString(20, 'v') + ":" + QString(40, 'q') };
    }
}

void TestConfDecoder::decode()
{
    QFETCH(QByteArray, packet);
    QFETCH(QStringList, storedSend);
    QFETCH(QStringList, storedRecv);
    QFETCH(QStringList, send);
    QFETCH(QStringList, recv);

    auto gap = makeGap();
    storePaths(*gap, storedSend, storedRecv);
    ::decode(*gap, packet);
    QCOMPARE(sendEntries(*gap), send);
    QCOMPARE(recvEntries(*gap), recv);
}

void TestConfDecoder::rulesTakeLevelOfNewSendPaths()
{
    auto gap = makeGap("10.1.1.1");
    _SENDPATH_LISTDATA toBob, toCarol, otherGap;
    copyToField(toBob.GapIP, kHostIPSize, "10.1.1.1");
    copyToField(toBob.ToUser, kUserNameSize, "bob");
    copyToField(toCarol.GapIP, kHostIPSize, "10.1.1.1");
    copyToField(toCarol.ToUser, kUserNameSize, "carol");
    copyToField(otherGap.GapIP, kHostIPSize, "10.1.1.2");
    copyToField(otherGap.ToUser, kUserNameSize, "bob");
    toCarol.RecviverLevel = 7;
    for (_SENDPATH_LISTDATA *rule :
        { &toBob, static_cast<_SENDPATH_LISTDATA *>(nullptr), &toCarol, &otherGap })
        g_SendPathList.append(rule);
    const auto levels = [&] {
        return QList<int> { toBob.RecviverLevel, toCarol.RecviverLevel, otherGap.RecviverLevel };
    };

    GoldenPacket first = confPacket(3, 0);
    entryAt(first, 32, "bob", "P1", 2);
    entryAt(first, 96, "bob", "P1", 1); // a duplicate: dropped, its level ignored
    entryAt(first, 160, "dave", "P2", 1);
    ::decode(*gap, first.data());
    QCOMPARE(levels(), (QList<int> { 2, 7, 0 }));

    GoldenPacket repeat = confPacket(1, 0);
    entryAt(repeat, 32, "bob", "P1", 0);
    ::decode(*gap, repeat.data());
    QCOMPARE(levels(), (QList<int> { 2, 7, 0 }));

    GoldenPacket added = confPacket(1, 0);
    entryAt(added, 32, "bob", "P3", 1);
    ::decode(*gap, added.data());
    QCOMPARE(levels(), (QList<int> { 1, 7, 0 }));

    g_SendPathList.clear();
}

QTEST_GUILESS_MAIN(TestConfDecoder)
#include "tst_confdecoder.moc"
