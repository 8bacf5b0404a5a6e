// One large file end to end between two real clients (gapclient) through gapsim, against the work
// the protocol cannot avoid: two MD5 passes (the sender's and the receiver's) and one copy of the
// same file, measured with md5sum and cp in the same run. Also prints the peak memory of sender,
// receiver and gapsim. It reports; it never fails on a figure, only when the file did not arrive
// intact.
//
//     clients_bench [--size-mib 1024] [--rounds 1] [--dir DIR]
//
// On a shared machine one round can be far off; several rounds give the median of the ratios.
//
// Needs gapclient, gapsim and libdlog.so next to it (or in GAP_BIN_DIR).
// "bench/bench.sh clients_bench" builds and runs it.

#include "bench/BenchSupport.h"
#include "bench/ClientSite.h"
#include "bench/PatternFile.h"
#include "model/BaseFunction.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QVector>
#include <cstdio>

namespace {

using BenchSupport::median;
using BenchSupport::peakMemory;
using BenchSupport::secondsOf;

constexpr qint64 kMiB = 1024 * 1024;
// Far beyond any plausible rate: a file that takes longer has not arrived.
constexpr qint64 kSlowestBytesPerSecond = 2 * kMiB;
constexpr qint64 kWaitFloorMs = 120000;
const char *const kName = "bench-%1.bin";

bool run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(program, arguments);
    return process.waitForFinished(-1) && process.exitStatus() == QProcess::NormalExit
        && process.exitCode() == 0;
}

// One round: the baseline on the staged file, then the same file end to end.
struct Round {
    double md5 = 0;
    double md5Again = 0;
    double copy = 0;
    double send = 0;
    bool intact = false;
    int relays = 0;

    double bound() const { return md5 + md5Again + copy; }
};

int relayCount(ClientSite &site, const PatternFile &file)
{
    return site.gapsim()
        .events()
        .filter(QRegularExpression(QStringLiteral("^relay-start .*file=%1( |$)")
                                       .arg(QRegularExpression::escape(file.name))))
        .size();
}

Round measure(ClientSite &site, const PatternFile &file, const QString &staged)
{
    Round round;
    if (!file.writeTo(staged) || !run("sync", {}))
        return round;
    round.md5 = secondsOf([&] { run("md5sum", { staged }); });
    round.md5Again = secondsOf([&] { run("md5sum", { staged }); });
    round.copy = secondsOf([&] { run("cp", { staged, staged + ".copy" }); });
    QFile::remove(staged + ".copy");
    run("sync", {});

    // Renamed in whole: the scanner never sees a file still being written. The sender removes
    // its copy once the receiver has confirmed the digest.
    const QString sent = site.sendDir() + '/' + file.name;
    const qint64 limitMs = qMax(kWaitFloorMs, file.size / kSlowestBytesPerSecond * 1000);
    bool arrived = false;
    round.send = secondsOf([&] {
        arrived = QFile::rename(staged, sent)
            && site.waitUntil([&sent] { return !QFile::exists(sent); }, limitMs);
    });
    const QString received = site.recvDir() + '/' + file.name;
    round.intact = arrived && BaseFunction::getFileMd5(received) == file.md5;
    round.relays = relayCount(site, file);
    QFile::remove(received);
    return round;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOptions({ { "size-mib", "File size in MiB.", "N", "1024" },
        { "rounds", "Rounds of baseline and transfer (the ratio's median is printed).", "N", "1" },
        { "dir", "Directory for the clients and the file (default: temporary).", "DIR" } });
    parser.process(app);
    const qint64 size = parser.value("size-mib").toLongLong() * kMiB;
    const int rounds = parser.value("rounds").toInt();

    QTemporaryDir dir(
        parser.isSet("dir") ? parser.value("dir") + "/clients-bench-XXXXXX" : QString());
    ClientSite site(dir.path());
    if (!dir.isValid() || rounds < 1 || !site.start(true)) {
        std::fprintf(stderr, "set-up failed: %s\n", qPrintable(site.error()));
        return 1;
    }
    PatternFile file = PatternFile::make(QByteArray(), size, 1);
    const double mib = double(size) / kMiB;
    std::printf("file                 %.0f MiB, %d round(s)\n", mib, rounds);
    QVector<double> ratios;
    bool intact = true;
    for (int i = 0; i < rounds; ++i) {
        // A name of its own each round: the sender keeps the names it has sent.
        file.name = QString::fromLatin1(kName).arg(i + 1).toLatin1();
        const Round round = measure(site, file, dir.filePath(file.name));
        intact = intact && round.intact;
        ratios << round.send / round.bound();
        std::printf("end to end           %.2f s  %.1f MiB/s  arrived intact: %s  relays: %d\n",
            round.send, mib / round.send, round.intact ? "yes" : "NO", round.relays);
        std::printf("md5sum, md5sum, cp   %.2f s + %.2f s + %.2f s = %.2f s\n", round.md5,
            round.md5Again, round.copy, round.bound());
        std::printf("end to end / (2 md5sum + cp)  %.2f\n", ratios.last());
    }
    std::printf("median ratio         %.2f\n", median(ratios));
    std::printf("peak memory          sender %s, receiver %s, gapsim %s\n",
        qPrintable(peakMemory(site.senderPid())), qPrintable(peakMemory(site.receiverPid())),
        qPrintable(peakMemory(site.gapsimPid())));
    return intact ? 0 : 1;
}
