// Sends one large file with the client's sending worker through gapsim to a receiving sink on
// loopback, and prints the time beside an MD5 pass and a copy of the same file, and the peak
// memory of the process (worker and sink). It reports; it never fails on a figure.
//
//     sender_bench [--size-mib 1024] [--dir DIR]
//
// Needs gapsim next to it (GAP_BIN_DIR, default: its own directory).
// "bench/bench.sh sender_bench" builds and runs it.

#include "bench/BenchSupport.h"
#include "model/BaseFunction.h"
#include "send/ScriptedTransferPeer.h"
#include "send/SendWorkThread.h"
#include "send/SenderFixture.h"
#include "send/SenderTestSupport.h"
#include "tools/gapsim/GapsimProcess.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThreadPool>
#include <cstdio>
#include <functional>

namespace {

using BenchSupport::peakMemory;
using BenchSupport::secondsOf;

constexpr qint64 kMiB = 1024 * 1024;
constexpr qint64 kChunk = 4 * kMiB;

void quietDebug(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type != QtDebugMsg)
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

bool writeFile(const QString &path, qint64 size)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    for (qint64 done = 0; done < size; done += kChunk) {
        const QByteArray chunk = patternedContent(qMin(kChunk, size - done), int(done / kChunk));
        if (file.write(chunk) != chunk.size())
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(quietDebug);
    QCommandLineParser parser;
    parser.addOptions({ { "size-mib", "File size in MiB.", "N", "1024" },
        { "dir", "Directory for the file (default: temporary).", "DIR" } });
    parser.process(app);
    const qint64 size = parser.value("size-mib").toLongLong() * kMiB;
    if (qEnvironmentVariableIsEmpty("GAP_BIN_DIR"))
        qputenv("GAP_BIN_DIR", QCoreApplication::applicationDirPath().toLocal8Bit());
    SenderTestSupport::claimGapPort();

    QTemporaryDir dir(
        parser.isSet("dir") ? parser.value("dir") + "/sender-bench-XXXXXX" : QString());
    SenderTestSupport::useAuditDatabase(dir.path());
    PeerScript sink = PeerScript::receiver();
    sink.keepContent = false;
    ScriptedTransferPeer receiver(sink);
    GapsimProcess gapsim(dir.path());
    SenderFixture fixture(dir.path());
    const QString name = QStringLiteral("bench.bin");
    if (!receiver.startListening()
        || !SenderTestSupport::startGapsim(gapsim, SenderTestSupport::gapsimConfig(receiver.port()))
        || !writeFile(fixture.pathOf(name), size)) {
        std::fprintf(stderr, "set-up failed\n");
        return 1;
    }
    const QString path = fixture.pathOf(name);
    const double md5Secs = secondsOf([&] { BaseFunction::getFileMd5(path); });
    const double copySecs = secondsOf([&] { QFile::copy(path, path + ".copy"); });
    QFile::remove(path + ".copy");

    _FINDFILEINFO *record = fixture.handOver(name);
    QThreadPool pool;
    const double sendSecs = secondsOf([&] {
        pool.start(new SendWorkThread(&fixture.rule, record));
        while (!pool.waitForDone(10))
            app.processEvents();
    });
    receiver.stop();
    const QList<PeerTransfer> transfers = receiver.transfers();
    const bool delivered = transfers.size() == 1 && transfers.first().digestMatches
        && transfers.first().size == size;

    const double mib = double(size) / kMiB;
    std::printf("file           %.0f MiB\n", mib);
    std::printf("send (e2e)     %.2f s  %.1f MiB/s  delivered with matching digest: %s\n", sendSecs,
        mib / sendSecs, delivered ? "yes" : "NO");
    std::printf("md5 pass       %.2f s  %.1f MiB/s\n", md5Secs, mib / md5Secs);
    std::printf("copy           %.2f s  %.1f MiB/s\n", copySecs, mib / copySecs);
    std::printf("send / (md5 + copy)  %.2f\n", sendSecs / (md5Secs + copySecs));
    std::printf("peak memory (worker, sink and harness)  %s\n", qPrintable(peakMemory()));
    return delivered ? 0 : 1;
}
