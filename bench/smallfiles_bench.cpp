// Many small files through gapsim to a real receiving client (gapclient): files per second, once
// from a real sending client (the whole product: scanner, sending workers, receiver) and once from
// a raw sender that sends them one after the other (the gap and the receiver alone). Every file
// must arrive intact. It reports; it never fails on a figure.
//
//     smallfiles_bench [--files 1000] [--size-kib 4] [--dir DIR]
//
// Needs gapclient, gapsim and libdlog.so next to it (or in GAP_BIN_DIR).
// "bench/bench.sh smallfiles_bench" builds and runs it.

#include "bench/BenchSupport.h"
#include "bench/ClientSite.h"
#include "bench/PatternFile.h"
#include "bench/ScriptedSender.h"
#include "model/BaseFunction.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <vector>

namespace {

using BenchSupport::secondsOf;

constexpr qint64 kWaitPerFileMs = 2000;
constexpr qint64 kWaitFloorMs = 120000;
const char *const kBatch = "batch";

std::vector<PatternFile> makeFiles(const QByteArray &prefix, int count, qint64 size)
{
    std::vector<PatternFile> files;
    for (int i = 0; i < count; ++i)
        files.push_back(PatternFile::make(
            prefix + QByteArray::number(i).rightJustified(5, '0') + ".dat", size, i));
    return files;
}

// How many arrived with their content under the receive directory; removes them.
int intactAndRemove(const QString &recvDir, const std::vector<PatternFile> &files)
{
    int intact = 0;
    for (const PatternFile &file : files) {
        const QString path = recvDir + '/' + QString::fromUtf8(file.name);
        intact += BaseFunction::getFileMd5(path) == file.md5 ? 1 : 0;
        QFile::remove(path);
    }
    return intact;
}

void print(const char *what, double seconds, int intact, int count)
{
    std::printf("%-34s %.2f s  %.1f files/s  intact %d/%d\n", what, seconds, count / seconds,
        intact, count);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOptions({ { "files", "Number of files.", "N", "1000" },
        { "size-kib", "Size of each file in KiB.", "N", "4" },
        { "dir", "Directory for the clients and the files (default: temporary).", "DIR" } });
    parser.process(app);
    const int count = parser.value("files").toInt();
    const qint64 size = parser.value("size-kib").toLongLong() * 1024;

    QTemporaryDir dir(
        parser.isSet("dir") ? parser.value("dir") + "/smallfiles-bench-XXXXXX" : QString());
    ClientSite site(dir.path());
    const std::vector<PatternFile> dropped
        = makeFiles(QByteArray(kBatch) + "/client-", count, size);
    const QString staged = dir.filePath(kBatch);
    bool written = dir.isValid() && QDir().mkpath(staged);
    for (const PatternFile &file : dropped)
        written = written && file.writeTo(dir.filePath(QString::fromUtf8(file.name)));
    if (!written || !site.start(true)) {
        std::fprintf(stderr, "set-up failed: %s\n", qPrintable(site.error()));
        return 1;
    }

    // The whole batch appears at once, renamed in as one directory.
    // The send directory empties as the receiver confirms each file.
    bool sent = false;
    const double clientSecs = secondsOf([&] {
        sent = QFile::rename(staged, site.sendDir() + '/' + kBatch)
            && site.waitUntil([&site] { return ClientSite::filesUnder(site.sendDir()).isEmpty(); },
                qMax(kWaitFloorMs, count * kWaitPerFileMs));
    });
    const int clientIntact = sent ? intactAndRemove(site.recvDir(), dropped) : 0;

    const std::vector<PatternFile> scripted = makeFiles("raw-", count, size);
    int confirmed = 0;
    const double rawSecs = secondsOf([&] {
        site.runAside([&] {
            for (const PatternFile &file : scripted) {
                QString error;
                if (ScriptedSender::send(site.gapPort(), file, &error)
                    == ScriptedSender::kConfirmed)
                    ++confirmed;
            }
        });
    });
    const int rawIntact = intactAndRemove(site.recvDir(), scripted);

    std::printf("files                              %d of %lld bytes\n", count, size);
    print("sending client -> gapsim -> client", clientSecs, clientIntact, count);
    print("raw sender, one at a time -> client", rawSecs, rawIntact, count);
    std::printf("raw sender confirmations           %d/%d\n", confirmed, count);
    return clientIntact == count && rawIntact == count ? 0 : 1;
}
