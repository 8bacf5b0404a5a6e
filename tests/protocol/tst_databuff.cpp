#include "protocol/DataBuff.h"

#include <QtTest>
#include <vector>

namespace {

QVector<int> counters(const DataBuff &b)
{
    return { b.dataLength(), b.freeSpace(), b.capacity(), b.readPosition(), b.writePosition() };
}

// Runs a script of operations on a buffer and checks that bytes come out in the order they went
// in and that a refused operation leaves storage and counters alone.
//   "i N" insert N bytes, "g N" get N bytes, "reset" initialBuffer, "restore" restoreFreeSpace.
class Script
{
public:
    explicit Script(int capacity)
        : m_store(size_t(qMax(capacity, 1)), '\0')
    {
        m_buffer.initital(capacity);
    }

    // The result of the last insert or get.
    int run(const QStringList &ops)
    {
        int result = 0;
        for (const QString &op : ops) {
            const QStringList parts = op.split(' ');
            if (parts[0] == QLatin1String("reset")) {
                m_buffer.initialBuffer();
                m_taken = m_given;
            } else if (parts[0] == QLatin1String("restore")) {
                m_buffer.restoreFreeSpace();
            } else {
                result = transfer(parts[0] == QLatin1String("i"), parts[1].toInt());
            }
        }
        return result;
    }

    const DataBuff &buffer() const { return m_buffer; }
    bool inOrder() const { return m_inOrder; }
    bool refusalsChangedNothing() const { return m_refusalsChangedNothing; }

private:
    int transfer(bool insert, int len)
    {
        const std::vector<char> storeBefore = m_store;
        const QVector<int> before = counters(m_buffer);
        std::vector<char> bytes(size_t(qMax(len, 0)));
        int result;
        if (insert) {
            for (size_t i = 0; i < bytes.size(); ++i)
                bytes[i] = char((m_given + qint64(i)) % 251);
            result = m_buffer.insertData(bytes.data(), len, m_store.data());
            if (result > 0)
                m_given += result;
        } else {
            result = m_buffer.getData(bytes.data(), len, m_store.data());
            for (int i = 0; i < result; ++i)
                m_inOrder = m_inOrder && bytes[size_t(i)] == char((m_taken + i) % 251);
            if (result > 0)
                m_taken += result;
        }
        if (result == -1) {
            m_refusalsChangedNothing = m_refusalsChangedNothing && m_store == storeBefore
                && counters(m_buffer) == before;
        }
        return result;
    }

    DataBuff m_buffer;
    std::vector<char> m_store;
    qint64 m_given = 0;
    qint64 m_taken = 0;
    bool m_inOrder = true;
    bool m_refusalsChangedNothing = true;
};

} // namespace

class TestDataBuff : public QObject
{
    Q_OBJECT

private slots:
    void operations_data();
    void operations();
    void predicates_data();
    void predicates();
    void streamIsCutIntoPackets();
    void initital_data();
    void initital();
};

void TestDataBuff::operations_data()
{
    QTest::addColumn<int>("capacity");
    QTest::addColumn<QStringList>("ops");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("dataLength");
    QTest::addColumn<int>("freeSpace");
    QTest::addColumn<int>("readPosition");
    QTest::addColumn<int>("writePosition");

    QTest::newRow("insert exactly the free space")
        << 10 << QStringList { "i 10" } << 10 << 10 << 0 << 0 << 0;
    QTest::newRow("one byte more than the free space")
        << 10 << QStringList { "i 4", "i 7" } << -1 << 4 << 6 << 0 << 4;
    QTest::newRow("insert ending at the end")
        << 10 << QStringList { "i 6", "g 6", "i 4" } << 4 << 4 << 6 << 6 << 0;
    QTest::newRow("insert wraps, get returns in order")
        << 10 << QStringList { "i 7", "g 7", "i 6", "g 6" } << 6 << 0 << 10 << 3 << 3;
    QTest::newRow("get wraps") << 10 << QStringList { "i 8", "g 5", "i 6", "g 9" } << 9 << 0 << 10
                               << 4 << 4;
    QTest::newRow("get ending at the end")
        << 10 << QStringList { "i 10", "g 10" } << 10 << 0 << 10 << 0 << 0;
    QTest::newRow("get more than stored")
        << 10 << QStringList { "i 3", "g 4" } << -1 << 3 << 7 << 0 << 3;
    QTest::newRow("get from empty") << 10 << QStringList { "g 1" } << -1 << 0 << 10 << 0 << 0;
    QTest::newRow("negative insert")
        << 10 << QStringList { "i 3", "i -1" } << -1 << 3 << 7 << 0 << 3;
    QTest::newRow("negative get") << 10 << QStringList { "i 3", "g -2" } << -1 << 3 << 7 << 0 << 3;
    QTest::newRow("zero length") << 10 << QStringList { "i 3", "i 0", "g 0" } << 0 << 3 << 7 << 0
                                 << 3;
    QTest::newRow("reset of a full burst keeps free space 0")
        << 146000 << QStringList { "i 146000", "reset", "i 1" } << -1 << 0 << 0 << 0 << 0;
    QTest::newRow("reset and restore, content starts at 0")
        << 146000 << QStringList { "i 1460", "g 1000", "reset", "restore", "i 1460", "g 1460" }
        << 1460 << 0 << 146000 << 1460 << 1460;
    QTest::newRow("payloads of a staging buffer")
        << 144400 << QStringList { "i 100000", "g 1444", "i 45844", "g 1444" } << 1444 << 142956
        << 1444 << 2888 << 1444;
}

void TestDataBuff::operations()
{
    QFETCH(int, capacity);
    QFETCH(QStringList, ops);
    QFETCH(int, result);
    QFETCH(int, dataLength);
    QFETCH(int, freeSpace);
    QFETCH(int, readPosition);
    QFETCH(int, writePosition);

    Script script(capacity);
    QCOMPARE(script.run(ops), result);
    QVERIFY(script.inOrder());
    QVERIFY(script.refusalsChangedNothing());
    QCOMPARE(script.buffer().dataLength(), dataLength);
    QCOMPARE(script.buffer().freeSpace(), freeSpace);
    QCOMPARE(script.buffer().readPosition(), readPosition);
    QCOMPARE(script.buffer().writePosition(), writePosition);
    QCOMPARE(script.buffer().capacity(), capacity);
}

void TestDataBuff::predicates_data()
{
    QTest::addColumn<int>("stored");
    QTest::addColumn<bool>("empty");
    QTest::addColumn<bool>("payload");
    QTest::addColumn<bool>("packet");
    QTest::addColumn<bool>("burst");
    QTest::addColumn<bool>("space");

    QTest::newRow("0") << 0 << true << false << false << false << true;
    QTest::newRow("1443") << 1443 << false << false << false << false << true;
    QTest::newRow("1444") << 1444 << false << true << false << false << true;
    QTest::newRow("1459") << 1459 << false << true << false << false << true;
    QTest::newRow("1460") << 1460 << false << true << true << false << true;
    QTest::newRow("free 1460") << 144540 << false << true << true << false << true;
    QTest::newRow("free 1459") << 144541 << false << true << true << false << false;
    QTest::newRow("145999") << 145999 << false << true << true << false << false;
    QTest::newRow("146000") << 146000 << false << true << true << true << false;
}

void TestDataBuff::predicates()
{
    QFETCH(int, stored);
    QFETCH(bool, empty);
    QFETCH(bool, payload);
    QFETCH(bool, packet);
    QFETCH(bool, burst);
    QFETCH(bool, space);

    Script script(146000);
    script.run({ QStringLiteral("i %1").arg(stored) });
    const DataBuff &buffer = script.buffer();
    QCOMPARE(buffer.isEmpty(), empty);
    QCOMPARE(buffer.isDataEnoughToSend(), payload);
    QCOMPARE(buffer.isEnoughPacket(), packet);
    QCOMPARE(buffer.isDataEnoughToRecv(), burst);
    QCOMPARE(buffer.isSpaceEnough(), space);
}

void TestDataBuff::streamIsCutIntoPackets()
{
    // A receive stream arriving in odd pieces, packets taken out whenever one is whole: the ring
    // wraps many times and every byte comes out once, in order.
    Script script(146000);
    for (int round = 0; round < 2000; ++round) {
        QCOMPARE(script.run({ QStringLiteral("i %1").arg(997 + round % 3 * 700) }),
            997 + round % 3 * 700);
        while (script.buffer().isEnoughPacket())
            QCOMPARE(script.run({ QStringLiteral("g 1460") }), 1460);
    }
    QVERIFY(script.inOrder());
    QVERIFY(script.buffer().dataLength() < 1460);
    QCOMPARE(script.buffer().dataLength() + script.buffer().freeSpace(), 146000);
}

void TestDataBuff::initital_data()
{
    QTest::addColumn<QStringList>("ops");
    QTest::addColumn<int>("newSize");
    QTest::addColumn<int>("capacity");
    QTest::addColumn<int>("dataLength");
    QTest::addColumn<int>("freeSpace");
    QTest::addColumn<int>("writePosition");

    QTest::newRow("new buffer") << QStringList {} << 100 << 100 << 0 << 100 << 0;
    QTest::newRow("negative size refused") << QStringList { "i 5" } << -1 << 10 << 5 << 5 << 5;
    QTest::newRow("grown, content kept") << QStringList { "i 5" } << 20 << 20 << 5 << 15 << 5;
    QTest::newRow("shrunk below the positions, emptied")
        << QStringList { "i 8", "g 6" } << 4 << 4 << 0 << 4 << 0;
}

void TestDataBuff::initital()
{
    QFETCH(QStringList, ops);
    QFETCH(int, newSize);
    QFETCH(int, capacity);
    QFETCH(int, dataLength);
    QFETCH(int, freeSpace);
    QFETCH(int, writePosition);

    if (ops.isEmpty()) {
        DataBuff fresh;
        QCOMPARE(fresh.capacity(), 0);
        QCOMPARE(fresh.freeSpace(), 0);
        fresh.initital(newSize);
        QCOMPARE(fresh.capacity(), capacity);
        QCOMPARE(fresh.freeSpace(), freeSpace);
        QCOMPARE(fresh.dataLength(), dataLength);
        return;
    }
    Script script(10);
    script.run(ops);
    DataBuff buffer = script.buffer();
    buffer.initital(newSize);
    QCOMPARE(buffer.capacity(), capacity);
    QCOMPARE(buffer.dataLength(), dataLength);
    QCOMPARE(buffer.freeSpace(), freeSpace);
    QCOMPARE(buffer.writePosition(), writePosition);
}

QTEST_GUILESS_MAIN(TestDataBuff)
#include "tst_databuff.moc"
