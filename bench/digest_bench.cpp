// MD5 speed of the two engines of Md5Digest on one buffer in memory: libcrypto's and Qt's
// (QCryptographicHash), fed in pieces of the sizes the client feeds: a small file's 4 KiB, the
// sender's 100 KiB reads, and 1 MiB. The engines take turns, round after round; the medians are
// printed, and the ratio libcrypto / Qt (above 1: libcrypto is faster). Also prints which engine
// this build's client uses (GAP_MD5).
//
//     digest_bench [--size-mib 256] [--rounds 5]
//
// "bench/bench.sh digest_bench" builds and runs it.

#include "bench/BenchSupport.h"
#include "model/Md5Digest.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QRandomGenerator>
#include <QVector>
#include <cstdio>

namespace {

using BenchSupport::median;
using BenchSupport::secondsOf;

constexpr qint64 kMiB = 1024 * 1024;
constexpr int kPieces[] = { 4 * 1024, 102400, 1024 * 1024 };

QByteArray digestInPieces(Md5Digest::Engine engine, const QByteArray &buffer, int piece)
{
    Md5Digest md5(engine);
    for (qint64 at = 0; at < buffer.size(); at += piece)
        md5.addData(buffer.constData() + at, qMin<qint64>(piece, buffer.size() - at));
    return md5.hexResult();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOptions({ { "size-mib", "Buffer size in MiB.", "N", "256" },
        { "rounds", "Rounds of each engine (the medians are printed).", "N", "5" } });
    parser.process(app);
    const qint64 size = parser.value("size-mib").toLongLong() * kMiB;
    const int rounds = qMax(1, parser.value("rounds").toInt());
    QByteArray buffer(int(size), Qt::Uninitialized);
    QRandomGenerator(1).fillRange(
        reinterpret_cast<quint32 *>(buffer.data()), buffer.size() / int(sizeof(quint32)));
    const double mib = double(size) / kMiB;
    std::printf("buffer %.0f MiB, %d round(s); the client is built with %s\n", mib, rounds,
        Md5Digest::kDefaultEngine == Md5Digest::Engine::Libcrypto ? "libcrypto" : "qt");
    for (const int piece : kPieces) {
        QVector<double> libcrypto, qt;
        QByteArray digests[2];
        for (int i = 0; i < rounds; ++i) {
            libcrypto << secondsOf(
                [&] { digests[0] = digestInPieces(Md5Digest::Engine::Libcrypto, buffer, piece); });
            qt << secondsOf(
                [&] { digests[1] = digestInPieces(Md5Digest::Engine::Qt, buffer, piece); });
        }
        std::printf("pieces of %7d bytes  libcrypto %.0f MiB/s  qt %.0f MiB/s  libcrypto / qt %.2f"
                    "  same digest: %s\n",
            piece, mib / median(libcrypto), mib / median(qt), median(qt) / median(libcrypto),
            digests[0] == digests[1] ? "yes" : "NO");
    }
    return 0;
}
