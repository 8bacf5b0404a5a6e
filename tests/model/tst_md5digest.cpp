// Both MD5 engines give the published digests, however the content is cut into pieces.

#include "model/Md5Digest.h"

#include <QtTest>

Q_DECLARE_METATYPE(Md5Digest::Engine)

class TestMd5Digest : public QObject
{
    Q_OBJECT

private slots:
    void publishedDigests_data();
    void publishedDigests();
};

void TestMd5Digest::publishedDigests_data()
{
    QTest::addColumn<Md5Digest::Engine>("engine");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("piece"); // bytes fed at a time; 0 for all at once
    QTest::addColumn<QByteArray>("digest");
    const QByteArray fox = "The quick brown fox jumps over the lazy dog";
    const QByteArray million(1000000, 'a');
    for (const auto &[engine, name] : { std::pair { Md5Digest::Engine::Libcrypto, "libcrypto" },
             std::pair { Md5Digest::Engine::Qt, "qt" } }) {
        const QByteArray tag(name);
        QTest::newRow(tag + ", nothing")
            << engine << QByteArray() << 0 << QByteArray("D41D8CD98F00B204E9800998ECF8427E");
        QTest::newRow(tag + ", text at once")
            << engine << fox << 0 << QByteArray("9E107D9D372BB6826BD81D3542A419D6");
        QTest::newRow(tag + ", text byte by byte")
            << engine << fox << 1 << QByteArray("9E107D9D372BB6826BD81D3542A419D6");
        // Pieces that never meet MD5's 64-byte blocks.
        QTest::newRow(tag + ", a million a in odd pieces")
            << engine << million << 1447 << QByteArray("7707D6AE4E027C70EEA2A935C2296F21");
    }
}

void TestMd5Digest::publishedDigests()
{
    QFETCH(Md5Digest::Engine, engine);
    QFETCH(QByteArray, content);
    QFETCH(int, piece);
    QFETCH(QByteArray, digest);
    Md5Digest md5(engine);
    const int step = piece > 0 ? piece : qMax(1, content.size());
    for (int at = 0; at < content.size(); at += step)
        md5.addData(content.constData() + at, qMin(step, content.size() - at));
    QCOMPARE(md5.hexResult(), digest);
    QCOMPARE(Md5Digest::hexOf(content, engine), digest);
}

QTEST_GUILESS_MAIN(TestMd5Digest)
#include "tst_md5digest.moc"
