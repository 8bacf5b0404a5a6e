// One large file end to end between two real clients (gapclient) through gapsim, against the work
// the protocol cannot avoid: two MD5 passes (the sender's and the receiver's) and one copy of the
// same file, measured with md5sum and cp in the same run. Also prints the peak memory of sender,
// receiver and gapsim. It reports; it never fails on a figure, only when the file did not arrive
// intact.
//
//     clients_bench [--size-mib 1024] [--dir DIR]
//
// Needs gapclient, gapsim and libdlog.so next to it (GAP_BIN_DIR, default: its own directory).
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
#include <cstdio>

namespace {

using BenchSupport::peakMemory;
using BenchSupport::secondsOf;

constexpr qint64 kMiB = 1024 * 1024;
// Far beyond any plausible rate: a file that takes longer has not arrived.
constexpr qint64 kSlowestBytesPerSecond = 2 * kMiB;
constexpr qint64 kWaitFloorMs = 120000;
const char *const kName = "bench.bin";

bool run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(program, arguments);
    return process.waitForFinished(-1) && process.exitStatus() == QProcess::NormalExit
        && process.exitCode() == 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOptions({ { "size-mib", "File size in MiB.", "N", "1024" },
        { "dir", "Directory for the clients and the file (default: temporary).", "DIR" } });
    parser.process(app);
    const qint64 size = parser.value("size-mib").toLongLong() * kMiB;
    if (qEnvironmentVariableIsEmpty("GAP_BIN_DIR"))
        qputenv("GAP_BIN_DIR", QCoreApplication::applicationDirPath().toLocal8Bit());

    QTemporaryDir dir(
        parser.isSet("dir") ? parser.value("dir") + "/clients-bench-XXXXXX" : QString());
    ClientSite site(dir.path());
    const PatternFile file = PatternFile::make(kName, size, 1);
    const QString staged = dir.filePath(kName);
    if (!dir.isValid() || !site.start(true) || !file.writeTo(staged) || !run("sync", {})) {
        std::fprintf(stderr, "set-up failed: %s\n", qPrintable(site.error()));
        return 1;
    }
    const double md5Secs = secondsOf([&] { run("md5sum", { staged }); });
    const double md5AgainSecs = secondsOf([&] { run("md5sum", { staged }); });
    const double copySecs = secondsOf([&] { run("cp", { staged, staged + ".copy" }); });
    QFile::remove(staged + ".copy");
    run("sync", {});

    // Renamed in whole: the scanner never sees a file still being written.
    const QString sent = site.sendDir() + '/' + kName;
    // The sender removes its copy once the receiver has confirmed the digest.
    const qint64 limitMs = qMax(kWaitFloorMs, size / kSlowestBytesPerSecond * 1000);
    bool arrived = false;
    const double sendSecs = secondsOf([&] {
        arrived = QFile::rename(staged, sent)
            && site.waitUntil([&sent] { return !QFile::exists(sent); }, limitMs);
    });
    const QString received = site.recvDir() + '/' + kName;
    const bool intact = arrived && BaseFunction::getFileMd5(received) == file.md5;
    const int relays
        = site.gapsim()
              .events()
              .filter(QRegularExpression(
                  QStringLiteral("^relay-start .*file=%1( |$)").arg(QLatin1String(kName))))
              .size();
    const QString senderPeak = peakMemory(site.senderPid());
    const QString receiverPeak = peakMemory(site.receiverPid());
    const QString gapsimPeak = peakMemory(site.gapsimPid());

    const double mib = double(size) / kMiB;
    const double bound = md5Secs + md5AgainSecs + copySecs;
    std::printf("file                 %.0f MiB\n", mib);
    std::printf("end to end           %.2f s  %.1f MiB/s  arrived intact: %s  relays: %d\n",
        sendSecs, mib / sendSecs, intact ? "yes" : "NO", relays);
    std::printf("md5sum, md5sum, cp   %.2f s + %.2f s + %.2f s = %.2f s\n", md5Secs, md5AgainSecs,
        copySecs, bound);
    std::printf("end to end / (2 md5sum + cp)  %.2f\n", sendSecs / bound);
    std::printf("peak memory          sender %s, receiver %s, gapsim %s\n", qPrintable(senderPeak),
        qPrintable(receiverPeak), qPrintable(gapsimPeak));
    return intact ? 0 : 1;
}
