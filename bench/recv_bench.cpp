// Sends one large file from a raw-packet sender to the client's receiving worker, once straight
// to it and once through gapsim, and prints the throughput of each beside an MD5 pass and a copy
// of the received file, the CPU time the receiving side took per GiB on the straight run, and the
// peak memory of the process (worker and sender). It reports; it never fails on a figure.
//
//     recv_bench [--size-mib 1024] [--dir DIR]
//
// Needs gapsim next to it (GAP_BIN_DIR, default: its own directory).
// "bench/bench.sh recv_bench" builds and runs it.

#include "bench/BenchSupport.h"
#include "model/BaseFunction.h"
#include "receive/ReceiverFixture.h"
#include "tools/gapsim/GapWire.h"
#include "tools/gapsim/GapsimProcess.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <functional>
#include <sys/resource.h>

using namespace GapWire;

namespace {

using BenchSupport::peakMemory;
using BenchSupport::secondsOf;

constexpr qint64 kMiB = 1024 * 1024;
constexpr int kBlockPayloads = 726; // the content repeats a block of about 1 MiB
constexpr int kBlockSize = kBlockPayloads * kPayload;
constexpr int kPacketsPerWrite = 100;
const QByteArray kPathKey = "BENCH-KEY";
const QByteArray kFileName = "bench.bin";

void quietDebug(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type != QtDebugMsg)
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

QByteArray contentBlock()
{
    QByteArray block(kBlockSize, Qt::Uninitialized);
    for (int i = 0; i < kBlockSize; ++i)
        block[i] = char((i * 151 + 3) % 253);
    return block;
}

// The bytes of the file of size bytes from offset at to at + length.
QByteArray contentAt(const QByteArray &block, qint64 at, int length)
{
    QByteArray bytes;
    while (bytes.size() < length) {
        const int from = int(at % kBlockSize);
        const int take = qMin(length - bytes.size(), kBlockSize - from);
        bytes += block.mid(from, take);
        at += take;
    }
    return bytes;
}

QByteArray md5OfContent(const QByteArray &block, qint64 size)
{
    QCryptographicHash hash(QCryptographicHash::Md5);
    for (qint64 at = 0; at < size; at += kBlockSize)
        hash.addData(block.constData(), int(qMin<qint64>(kBlockSize, size - at)));
    return hash.result().toHex().toUpper();
}

// Data packets and the file end, written kPacketsPerWrite at a time.
bool sendContent(QTcpSocket &socket, const QByteArray &block, qint64 size)
{
    qint64 at = 0;
    QByteArray batch;
    for (; at + kPayload <= size; at += kPayload) {
        QByteArray data = packet(1);
        putText(data, 8, contentAt(block, at, kPayload));
        batch += data;
        if (batch.size() >= kPacketsPerWrite * kPacket) {
            if (!send(socket, batch))
                return false;
            batch.clear();
        }
    }
    QByteArray end = packet(2);
    putU64(end, 8, quint64(size - at));
    putText(end, 16, contentAt(block, at, int(size - at)));
    return send(socket, batch + end);
}

// One transfer from a connected sender; accept starts the worker once the descriptor is on its
// way (through the gap, the gap connects only then). True when the file was confirmed received.
bool transfer(QTcpSocket &sender, ReceiverFixture &fixture, const QByteArray &block, qint64 size,
    const QByteArray &md5, const std::function<bool()> &accept)
{
    if (!send(sender, descriptor(size, kPathKey, kFileName, md5)) || !accept())
        return false;
    if (u64(readBytes(sender, kPacket), 0) != 9 || !sendContent(sender, block, size))
        return false;
    const bool confirmed = u64(readBytes(sender, kPacket, 600000), 0) == 5;
    return fixture.waitForWorkers() && confirmed;
}

double cpuSecondsOf(int who)
{
    rusage usage {};
    getrusage(who, &usage);
    const auto seconds = [](const timeval &t) { return double(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// CPU seconds the work cost the process apart from this thread: in the straight run, what the
// receiving worker spent while this thread played the sender.
double otherThreadsCpuOf(const std::function<void()> &work)
{
    const double processBefore = cpuSecondsOf(RUSAGE_SELF);
    const double threadBefore = cpuSecondsOf(RUSAGE_THREAD);
    work();
    return (cpuSecondsOf(RUSAGE_SELF) - processBefore)
        - (cpuSecondsOf(RUSAGE_THREAD) - threadBefore);
}

void printRate(const char *label, double secs, double mib, bool delivered)
{
    std::printf("%-14s %.2f s  %.1f MiB/s  delivered with matching digest: %s\n", label, secs,
        mib / secs, delivered ? "yes" : "NO");
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(quietDebug);
    QCommandLineParser parser;
    parser.addOptions({ { "size-mib", "File size in MiB.", "N", "1024" },
        { "dir", "Directory for the files (default: temporary).", "DIR" } });
    parser.process(app);
    const qint64 size = parser.value("size-mib").toLongLong() * kMiB;
    if (qEnvironmentVariableIsEmpty("GAP_BIN_DIR"))
        qputenv("GAP_BIN_DIR", QCoreApplication::applicationDirPath().toLocal8Bit());

    QTemporaryDir dir(parser.isSet("dir") ? parser.value("dir") + "/recv-bench-XXXXXX" : QString());
    const QString recvDir = dir.filePath(QStringLiteral("recv"));
    QDir().mkpath(recvDir);
    QDir::setCurrent(dir.path()); // the audit store, where the audit library is found
    const QByteArray block = contentBlock();
    const QByteArray md5 = md5OfContent(block, size);
    const QString received = recvDir + "/" + QString::fromLatin1(kFileName);
    const double mib = double(size) / kMiB;

    bool direct = false;
    double receiverCpu = 0;
    const double directSecs = secondsOf([&] {
        ReceiverFixture fixture(recvDir);
        fixture.addRule(kPathKey, ReceiverFixture::kGapAddress, recvDir);
        QTcpSocket sender;
        receiverCpu = otherThreadsCpuOf([&] {
            direct = fixture.connectGap(sender)
                && transfer(sender, fixture, block, size, md5, [] { return true; });
        });
    });
    const double md5Secs = secondsOf([&] { BaseFunction::getFileMd5(received); });
    const double copySecs = secondsOf([&] { QFile::copy(received, received + ".copy"); });
    QFile::remove(received + ".copy");
    QFile::remove(received);

    bool relayed = false;
    const double gapSecs = secondsOf([&] {
        ReceiverFixture fixture(recvDir);
        fixture.addRule(kPathKey, ReceiverFixture::kGapAddress, recvDir);
        GapsimProcess gapsim(dir.path());
        const QString config = QStringLiteral("[user.alice]\npassword = a\n"
                                              "[user.bob]\npassword = b\naddress = 127.0.0.1\n"
                                              "file_port = %1\n"
                                              "[path.%2]\nfrom = alice\nto = bob\n")
                                   .arg(fixture.port())
                                   .arg(QString::fromLatin1(kPathKey));
        if (!gapsim.start(config)) {
            std::fprintf(stderr, "gapsim did not start\n");
            return;
        }
        QTcpSocket sender;
        sender.connectToHost(QHostAddress::LocalHost, gapsim.port());
        relayed
            = sender.waitForConnected(kWaitMs) && transfer(sender, fixture, block, size, md5, [&] {
                  return u64(readBytes(sender, kPacket), 0) == 3 && fixture.acceptGap(kWaitMs);
              });
        gapsim.stop();
    });

    std::printf("file           %.0f MiB\n", mib);
    printRate("direct", directSecs, mib, direct);
    printRate("through gapsim", gapSecs, mib, relayed);
    std::printf("md5 pass       %.2f s  %.1f MiB/s\n", md5Secs, mib / md5Secs);
    std::printf("copy           %.2f s  %.1f MiB/s\n", copySecs, mib / copySecs);
    std::printf("direct / (md5 + copy)  %.2f\n", directSecs / (md5Secs + copySecs));
    std::printf(
        "receiver CPU (direct)  %.2f s, %.2f s per GiB\n", receiverCpu, receiverCpu / (mib / 1024));
    std::printf("peak memory (worker, sender and harness)  %s\n", qPrintable(peakMemory()));
    return direct && relayed ? 0 : 1;
}
