// Many files arriving at a real receiving client (gapclient) at once, through gapsim, from raw
// senders: their combined throughput against one large file of the same total size through the
// same path, measured in the same run, and whether every file arrived intact. Also prints the
// receiver's and gapsim's CPU time and peak memory. It reports; it never fails on a figure, only
// when a file did not arrive intact.
//
//     incoming_bench [--files 50] [--total-mib 1024] [--rounds 1] [--dir DIR]
//
// Needs gapclient, gapsim and libdlog.so next to it (or in GAP_BIN_DIR).
// "bench/bench.sh incoming_bench" builds and runs it.

#include "bench/BenchSupport.h"
#include "bench/ClientSite.h"
#include "bench/PatternFile.h"
#include "bench/ScriptedSender.h"
#include "model/BaseFunction.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QVector>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

using BenchSupport::cpuSeconds;
using BenchSupport::median;
using BenchSupport::peakMemory;
using BenchSupport::secondsOf;

constexpr qint64 kMiB = 1024 * 1024;

struct Run {
    double seconds = 0;
    int confirmed = 0;
    int intact = 0;
    double receiverCpu = 0;
    double gapsimCpu = 0;
};

// Sends the files at once, a connection each, then checks what the receiver wrote.
Run sendAtOnce(ClientSite &site, const std::vector<PatternFile> &files)
{
    Run run;
    std::atomic<int> confirmed { 0 };
    const double receiverCpu = cpuSeconds(site.receiverPid());
    const double gapsimCpu = cpuSeconds(site.gapsimPid());
    run.seconds = secondsOf([&] {
        std::vector<std::unique_ptr<QThread>> senders;
        for (const PatternFile &file : files) {
            senders.emplace_back(QThread::create([&site, &file, &confirmed] {
                QString error;
                const int answer = ScriptedSender::send(site.gapPort(), file, &error);
                if (answer == ScriptedSender::kConfirmed)
                    ++confirmed;
                else
                    std::fprintf(stderr, "%s: answer %d %s\n", file.name.constData(), answer,
                        qPrintable(error));
            }));
            senders.back()->start();
        }
        site.waitUntil(
            [&senders] {
                return std::all_of(senders.begin(), senders.end(),
                    [](const std::unique_ptr<QThread> &sender) { return sender->isFinished(); });
            },
            -1);
        for (const auto &sender : senders)
            sender->wait();
    });
    run.receiverCpu = cpuSeconds(site.receiverPid()) - receiverCpu;
    run.gapsimCpu = cpuSeconds(site.gapsimPid()) - gapsimCpu;
    run.confirmed = confirmed;
    for (const PatternFile &file : files) {
        const QString path = site.recvDir() + '/' + QString::fromUtf8(file.name);
        run.intact += BaseFunction::getFileMd5(path) == file.md5 ? 1 : 0;
        QFile::remove(path);
    }
    return run;
}

void print(const char *what, const Run &run, int files, double mib)
{
    std::printf("%-22s %.2f s  %.1f MiB/s  confirmed %d/%d, intact %d/%d  CPU: receiver %.2f s, "
                "gapsim %.2f s\n",
        what, run.seconds, mib / run.seconds, run.confirmed, files, run.intact, files,
        run.receiverCpu, run.gapsimCpu);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOptions({ { "files", "Files arriving at once.", "N", "50" },
        { "total-mib", "Their total size in MiB (also the size of the single file).", "N", "1024" },
        { "rounds", "Rounds of both (the ratio's median is printed).", "N", "1" },
        { "dir", "Directory for the client (default: temporary).", "DIR" } });
    parser.process(app);
    const int count = parser.value("files").toInt();
    const int rounds = parser.value("rounds").toInt();
    const qint64 total = parser.value("total-mib").toLongLong() * kMiB;

    QTemporaryDir dir(
        parser.isSet("dir") ? parser.value("dir") + "/incoming-bench-XXXXXX" : QString());
    ClientSite site(dir.path());
    if (!dir.isValid() || count < 1 || rounds < 1 || !site.start(false)) {
        std::fprintf(stderr, "set-up failed: %s\n", qPrintable(site.error()));
        return 1;
    }
    const std::vector<PatternFile> single { PatternFile::make("single.bin", total, 1) };
    std::vector<PatternFile> many;
    for (int i = 0; i < count; ++i)
        many.push_back(
            PatternFile::make("many-" + QByteArray::number(i) + ".bin", total / count, i + 2));

    const double mib = double(total) / kMiB;
    const double manyMib = double(total / count * count) / kMiB;
    std::printf("total                  %.0f MiB, %d round(s)\n", mib, rounds);
    QVector<double> ratios;
    bool intact = true;
    for (int i = 0; i < rounds; ++i) {
        const Run one = sendAtOnce(site, single);
        const Run all = sendAtOnce(site, many);
        intact = intact && one.intact == 1 && all.intact == count;
        ratios << (manyMib / all.seconds) / (mib / one.seconds);
        print("one file", one, 1, mib);
        print(qPrintable(QStringLiteral("%1 files at once").arg(count)), all, count, manyMib);
        std::printf("%d at once / one file (throughput)  %.2f\n", count, ratios.last());
    }
    std::printf("median ratio           %.2f\n", median(ratios));
    std::printf("peak memory            receiver %s, gapsim %s\n",
        qPrintable(peakMemory(site.receiverPid())), qPrintable(peakMemory(site.gapsimPid())));
    return intact ? 0 : 1;
}
