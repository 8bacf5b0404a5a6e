// One large file end to end between two real clients (gapclient) through gapsim, from its rename
// into the sender's send directory until the sender has its confirmation (the file is gone from
// the send directory), against the serial floor on the same file in the same run: md5sum twice
// (the sender's and the receiver's digest) and one loopback TCP copy into a new file that is then
// synced. Floor and product take turns, round after round; the medians are printed last.
//
// Each round also prints where the product's time went, from the marks both clients write into
// their trace file (VARKO_TRACE): settle (until the sender takes the file up), hash, connect (the
// descriptor and the answers before the data), transfer (until the receiver has the file end),
// sync, verify (the receiver's digest), confirm (until the sender has removed the file); and the
// CPU seconds per GiB that sender, receiver and gapsim spent on it. Peak memory of each process
// and the load average are printed too. It reports; it never fails on a figure, only when the file
// did not arrive intact.
//
//     clients_bench [--size-mib 1024] [--rounds 3] [--dir DIR]
//
// Needs gapclient, gapsim and libdlog.so next to it (or in GAP_BIN_DIR).
// "bench/bench.sh clients_bench" builds and runs it.

#include "bench/BenchSupport.h"
#include "bench/ClientSite.h"
#include "bench/LoopbackCopy.h"
#include "bench/PatternFile.h"
#include "bench/TraceTimeline.h"
#include "model/BaseFunction.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QVector>
#include <array>
#include <cstdio>

namespace {

using BenchSupport::cpuSeconds;
using BenchSupport::median;
using BenchSupport::peakMemory;
using BenchSupport::secondsOf;

constexpr qint64 kMiB = 1024 * 1024;
// Far beyond any plausible rate: a file that takes longer has not arrived.
constexpr qint64 kSlowestBytesPerSecond = 2 * kMiB;
constexpr qint64 kWaitFloorMs = 120000;
const char *const kName = "bench-%1.bin";

// A phase of the product's timeline: from one mark to the next; an empty side stands for the
// rename (start) or the removal (end) that the benchmark sees itself.
struct Phase {
    const char *name;
    const char *fromSide;
    const char *fromPhase;
    const char *toSide;
    const char *toPhase;
};

constexpr std::array<Phase, 7> kPhases { {
    { "settle", "", "", "send", "attempt" },
    { "hash", "send", "hash-start", "send", "hash-end" },
    { "connect", "send", "hash-end", "send", "data-start" },
    { "transfer", "send", "data-start", "recv", "file-end" },
    { "sync", "recv", "file-end", "recv", "synced" },
    { "verify", "recv", "synced", "recv", "verified" },
    { "confirm", "recv", "verified", "", "" },
} };

struct Floor {
    double md5 = 0;
    double md5Again = 0;
    double copy = 0;

    double total() const { return md5 + md5Again + copy; }
};

struct Product {
    double seconds = 0;
    bool intact = false;
    int relays = 0;
    double senderCpu = 0;
    double receiverCpu = 0;
    double gapsimCpu = 0;
    std::array<double, kPhases.size()> phaseStart {};
    std::array<double, kPhases.size()> phaseEnd {};

    double phaseLength(size_t i) const
    {
        return phaseStart[i] < 0 || phaseEnd[i] < 0 ? -1 : phaseEnd[i] - phaseStart[i];
    }
};

bool run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(program, arguments);
    return process.waitForFinished(-1) && process.exitStatus() == QProcess::NormalExit
        && process.exitCode() == 0;
}

QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("?");
    return QString::fromLatin1(file.readAll().split(' ').mid(0, 3).join(' '));
}

Floor measureFloor(const QString &staged)
{
    Floor floor;
    floor.md5 = secondsOf([&] { run("md5sum", { staged }); });
    floor.md5Again = secondsOf([&] { run("md5sum", { staged }); });
    const QString copy = staged + ".copy";
    floor.copy = LoopbackCopy::seconds(staged, copy);
    QFile::remove(copy);
    return floor;
}

int relayCount(ClientSite &site, const PatternFile &file)
{
    return site.gapsim()
        .events()
        .filter(QRegularExpression(QStringLiteral("^relay-start .*file=%1( |$)")
                                       .arg(QRegularExpression::escape(file.name))))
        .size();
}

void fillTimeline(Product &product, const TraceTimeline &timeline)
{
    for (size_t i = 0; i < kPhases.size(); ++i) {
        const Phase &phase = kPhases[i];
        product.phaseStart[i] = *phase.fromSide ? timeline.at(phase.fromSide, phase.fromPhase) : 0;
        product.phaseEnd[i]
            = *phase.toSide ? timeline.at(phase.toSide, phase.toPhase) : product.seconds;
    }
}

Product measureProduct(
    ClientSite &site, const PatternFile &file, const QString &staged, const QString &trace)
{
    Product product;
    // Renamed in whole: the scanner never sees a file still being written. The sender removes
    // its copy once the receiver has confirmed the digest.
    const QString sent = site.sendDir() + '/' + file.name;
    const qint64 limitMs = qMax(kWaitFloorMs, file.size / kSlowestBytesPerSecond * 1000);
    const double senderBefore = cpuSeconds(site.senderPid());
    const double receiverBefore = cpuSeconds(site.receiverPid());
    const double gapsimBefore = cpuSeconds(site.gapsimPid());
    const qint64 startNs = TraceTimeline::nowNs();
    bool arrived = false;
    product.seconds = secondsOf([&] {
        arrived = QFile::rename(staged, sent)
            && site.waitUntil([&sent] { return !QFile::exists(sent); }, limitMs);
    });
    product.senderCpu = cpuSeconds(site.senderPid()) - senderBefore;
    product.receiverCpu = cpuSeconds(site.receiverPid()) - receiverBefore;
    product.gapsimCpu = cpuSeconds(site.gapsimPid()) - gapsimBefore;
    fillTimeline(product, TraceTimeline(trace, file.name, startNs));
    const QString received = site.recvDir() + '/' + file.name;
    product.intact = arrived && BaseFunction::getFileMd5(received) == file.md5;
    product.relays = relayCount(site, file);
    QFile::remove(received);
    return product;
}

QString seconds(double value)
{
    return value < 0 ? QStringLiteral("-") : QString::number(value, 'f', 2);
}

void printRound(const Floor &floor, const Product &product, double mib)
{
    const double gib = mib / 1024;
    std::printf("  floor     md5sum %.2f s + md5sum %.2f s + loopback copy and fdatasync %.2f s"
                " = %.2f s\n",
        floor.md5, floor.md5Again, floor.copy, floor.total());
    std::printf("  product   %.2f s  %.1f MiB/s  arrived intact: %s  relays: %d\n", product.seconds,
        mib / product.seconds, product.intact ? "yes" : "NO", product.relays);
    std::printf("  floor / product  %.2f\n", floor.total() / product.seconds);
    std::printf("  timeline ");
    for (size_t i = 0; i < kPhases.size(); ++i)
        std::printf(" %s %s-%s", kPhases[i].name, qPrintable(seconds(product.phaseStart[i])),
            qPrintable(seconds(product.phaseEnd[i])));
    std::printf("\n  CPU s/GiB sender %.2f  receiver %.2f  gapsim %.2f\n", product.senderCpu / gib,
        product.receiverCpu / gib, product.gapsimCpu / gib);
}

void printMedians(const QVector<Floor> &floors, const QVector<Product> &products, double mib)
{
    QVector<double> floorTotals, productTimes, ratios, receiverCpu, gapsimCpu, senderCpu;
    for (int i = 0; i < floors.size(); ++i) {
        floorTotals << floors[i].total();
        productTimes << products[i].seconds;
        ratios << floors[i].total() / products[i].seconds;
        senderCpu << products[i].senderCpu / (mib / 1024);
        receiverCpu << products[i].receiverCpu / (mib / 1024);
        gapsimCpu << products[i].gapsimCpu / (mib / 1024);
    }
    std::printf("median    floor %.2f s  product %.2f s  floor / product %.2f (rounds: %d)\n",
        median(floorTotals), median(productTimes), median(ratios), int(floors.size()));
    std::printf("median phases (s)");
    for (size_t p = 0; p < kPhases.size(); ++p) {
        QVector<double> lengths;
        for (const Product &product : products)
            lengths << product.phaseLength(p);
        std::printf(" %s %s", kPhases[p].name, qPrintable(seconds(median(lengths))));
    }
    std::printf("\nmedian CPU s/GiB sender %.2f  receiver %.2f  gapsim %.2f\n", median(senderCpu),
        median(receiverCpu), median(gapsimCpu));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOptions({ { "size-mib", "File size in MiB.", "N", "1024" },
        { "rounds", "Rounds of floor and product (the medians are printed).", "N", "3" },
        { "dir", "Directory for the clients and the file (default: temporary).", "DIR" } });
    parser.process(app);
    const qint64 size = parser.value("size-mib").toLongLong() * kMiB;
    const int rounds = parser.value("rounds").toInt();

    QTemporaryDir dir(
        parser.isSet("dir") ? parser.value("dir") + "/clients-bench-XXXXXX" : QString());
    const QString trace = dir.filePath(QStringLiteral("trace.log"));
    qputenv("VARKO_TRACE", QFile::encodeName(trace));
    ClientSite site(dir.path());
    if (!dir.isValid() || rounds < 1 || !site.start(true)) {
        std::fprintf(stderr, "set-up failed: %s\n", qPrintable(site.error()));
        return 1;
    }
    PatternFile file = PatternFile::make(QByteArray(), size, 1);
    const double mib = double(size) / kMiB;
    std::printf(
        "file %.0f MiB, %d round(s); load average %s\n", mib, rounds, qPrintable(loadAverage()));
    QVector<Floor> floors;
    QVector<Product> products;
    bool intact = true;
    for (int i = 0; i < rounds; ++i) {
        // A name of its own each round: the sender keeps the names it has sent.
        file.name = QString::fromLatin1(kName).arg(i + 1).toLatin1();
        const QString staged = dir.filePath(file.name);
        if (!file.writeTo(staged) || !run("sync", {}))
            return 1;
        std::printf("round %d (load average %s)\n", i + 1, qPrintable(loadAverage()));
        floors << measureFloor(staged);
        run("sync", {});
        products << measureProduct(site, file, staged, trace);
        intact = intact && products.last().intact;
        printRound(floors.last(), products.last(), mib);
        std::fflush(stdout);
    }
    printMedians(floors, products, mib);
    std::printf("peak memory  sender %s, receiver %s, gapsim %s\n",
        qPrintable(peakMemory(site.senderPid())), qPrintable(peakMemory(site.receiverPid())),
        qPrintable(peakMemory(site.gapsimPid())));
    std::printf("load average at the end %s\n", qPrintable(loadAverage()));
    return intact ? 0 : 1;
}
