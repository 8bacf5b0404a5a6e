// The hasher beside the receiving loop gives the digest of exactly the bytes added, in their
// order, and forgets a content that was given up.

#include "receive/ContentHasher.h"

#include <QRandomGenerator>
#include <QtTest>

namespace {

constexpr int kBlock = 4096;

QByteArray randomContent(int size, quint32 seed)
{
    QByteArray content(size, Qt::Uninitialized);
    QRandomGenerator random(seed);
    for (char &byte : content)
        byte = char(random.bounded(256));
    return content;
}

// Feeds content in pieces whose sizes cycle through pieces.
void addInPieces(ContentHasher &hasher, const QByteArray &content, const QList<int> &pieces)
{
    int at = 0;
    for (int i = 0; at < content.size(); ++i) {
        const int length = qMin(pieces[i % pieces.size()], int(content.size()) - at);
        hasher.add(content.constData() + at, length);
        at += length;
    }
}

const QList<int> kOddPieces { 1, 1444, 4095, 4097, 3 * kBlock + 7, 63, 65 };

} // namespace

class TestContentHasher : public QObject
{
    Q_OBJECT

private slots:
    void digestOfAllBlocksInOrder_data();
    void digestOfAllBlocksInOrder();
    void abandonedContentIsForgotten();
    void destroyedMidContent();
};

void TestContentHasher::digestOfAllBlocksInOrder_data()
{
    QTest::addColumn<qint64>("inlineBytes");
    QTest::addColumn<int>("size");
    QTest::newRow("all in the thread") << qint64(0) << 1000003;
    QTest::newRow("inline, then the thread") << qint64(100000) << 1000003;
    QTest::newRow("all inline") << qint64(2000000) << 1000003;
    QTest::newRow("nothing") << qint64(0) << 0;
}

void TestContentHasher::digestOfAllBlocksInOrder()
{
    QFETCH(qint64, inlineBytes);
    QFETCH(int, size);
    const QByteArray content = randomContent(size, 7);
    ContentHasher hasher(kBlock, inlineBytes);
    addInPieces(hasher, content, kOddPieces);
    QCOMPARE(hasher.finish(), Md5Digest::hexOf(content));
}

// A transfer that breaks off leaves blocks queued; the next content on the same hasher must not
// see them, whether it begins after reset or after the thread was stopped.
void TestContentHasher::abandonedContentIsForgotten()
{
    ContentHasher hasher(kBlock, 0);
    const QByteArray first = randomContent(600000, 1);
    const QByteArray second = randomContent(300001, 2);

    addInPieces(hasher, first, kOddPieces);
    hasher.reset();
    addInPieces(hasher, second, kOddPieces);
    QCOMPARE(hasher.finish(), Md5Digest::hexOf(second));

    hasher.reset();
    addInPieces(hasher, first, kOddPieces);
    hasher.stop();
    addInPieces(hasher, second, { kBlock });
    QCOMPARE(hasher.finish(), Md5Digest::hexOf(second));
}

// Large blocks keep the thread busy when the hasher goes: it drops the queue instead of hashing
// it, and the destructor returns.
void TestContentHasher::destroyedMidContent()
{
    constexpr int kLargeBlock = 8 * 1024 * 1024;
    const QByteArray content = randomContent(4 * kLargeBlock, 3);
    {
        ContentHasher hasher(kLargeBlock, 0);
        addInPieces(hasher, content, { kLargeBlock });
    }
    ContentHasher hasher(kLargeBlock, 0);
    addInPieces(hasher, content, { 1000001 });
    QCOMPARE(hasher.finish(), Md5Digest::hexOf(content));
}

QTEST_GUILESS_MAIN(TestContentHasher)
#include "tst_contenthasher.moc"
