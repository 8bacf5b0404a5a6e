// The send-directory scanner over a large directory in which nothing is to be sent: once with
// empty files, once with files already sent and kept (keep setting on) after a restart of the
// client, whose keys come back from the store. For each it prints the CPU time of the scanner's
// walks (the first one, the walks that follow, the periodic full listing), the share of a core
// the running scanner takes over an idle stretch, and the memory it keeps per known file. Then
// the rate at which it hands 1 000 small new files to a pool whose workers end at once, and the
// time from a whole file's rename into the send directory to its hand-over (median over 100
// files, with the default settle time of 2 s, which a rename does not wait for). It reports; it
// never fails on a figure.
//
//     scan_bench [--files 100000] [--idle-seconds 30] [--renames 100] [--dir DIR]
//
// "bench/bench.sh scan_bench" builds and runs it.

#include "bench/BenchSupport.h"
#include "model/GlobalData.h"
#include "send/Controller.h"
#include "send/DirectoryTraversal.h"
#include "send/ScanFixture.h"
#include "send/SendLedger.h"
#include "send/SendSlots.h"
#include "send/SentFileStore.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QThreadPool>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr int kWarmUpMs = 3000;
// The walk that lists everything again as a safety net.
constexpr int kFullListingWalk = 60;
constexpr int kSmallFiles = 1000;
constexpr int kSmallFileKiB = 4;

void quietDebug(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type != QtDebugMsg)
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

double threadCpuMs()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

double processCpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec
        + usage.ru_stime.tv_usec / 1e6;
}

// Bytes the process has allocated and not freed.
qint64 allocatedBytes() { return qint64(mallinfo2().uordblks); }

bool createFiles(const QString &dir, int count, int size)
{
    const QByteArray content(size, 'x');
    for (int i = 0; i < count; ++i) {
        const QByteArray path = QFile::encodeName(dir) + "/f" + QByteArray::number(i);
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0 || ::write(fd, content.constData(), size_t(size)) != size)
            return false;
        ::close(fd);
    }
    return true;
}

// Sends every file of the directory as far as the bookkeeping goes: handed over, confirmed, kept.
void sendAndKeep(const QString &dir)
{
    _SENDPATH_LISTDATA rule;
    rule.SendPath = dir;
    g_sysbaseconf.ifDelSendFile = true;
    g_sysbaseconf.settleSeconds = 0;
    DirectoryTraversal traversal;
    QObject::connect(&traversal, &DirectoryTraversal::insertItem,
        [](_FINDFILEINFO *file, _SENDPATH_LISTDATA *to) {
            SendLedger::markSent(to, *file);
            SendSlots::giveBack();
        });
    QThreadPool::globalInstance()->setMaxThreadCount(1 << 20);
    traversal.findFile(dir, &rule);
    traversal.findFile(dir, &rule);
    QThreadPool::globalInstance()->setMaxThreadCount(QThread::idealThreadCount());
    g_sysbaseconf.settleSeconds = 2;
    freeRecords(rule);
}

double walkMs(DirectoryTraversal &traversal, _SENDPATH_LISTDATA &rule)
{
    const double before = threadCpuMs();
    traversal.findFile(rule.SendPath, &rule);
    return threadCpuMs() - before;
}

void waitMs(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// The scanner as the client runs it, in its own thread, over the rule.
double idleShareOfACore(_SENDPATH_LISTDATA &rule, int seconds)
{
    g_SendPathList.append(&rule);
    auto *controller = new Controller;
    controller->start();
    waitMs(kWarmUpMs);
    const double before = processCpuSeconds();
    waitMs(seconds * 1000);
    const double used = processCpuSeconds() - before;
    Controller::stopRule(&rule);
    controller->stop();
    delete controller;
    g_SendPathList.removeOne(&rule);
    rule.stopFlag = false;
    return used / seconds;
}

void measure(const char *title, const QString &dir, int files, int idleSeconds)
{
    std::printf("%d files, %s\n", files, title);
    _SENDPATH_LISTDATA rule;
    rule.SendPath = dir;
    const qint64 allocatedBefore = allocatedBytes();
    {
        DirectoryTraversal traversal;
        const double first = walkMs(traversal, rule);
        const double second = walkMs(traversal, rule);
        double later = 0;
        for (int walk = 3; walk < kFullListingWalk; ++walk)
            later += walkMs(traversal, rule);
        const double fullListing = walkMs(traversal, rule);
        const qint64 kept = allocatedBytes() - allocatedBefore;
        std::printf("  first walk (lists and looks up everything)  %9.1f ms CPU\n", first);
        std::printf("  second walk                                  %9.2f ms CPU\n", second);
        std::printf("  walks 3 to %d, each                          %9.3f ms CPU\n",
            kFullListingWalk - 1, later / (kFullListingWalk - 3));
        std::printf("  walk %d (full listing, sent files checked)   %9.1f ms CPU\n",
            kFullListingWalk, fullListing);
        std::printf("  memory kept (bookkeeping and tree)           %9.1f MiB, %lld bytes a file\n",
            kept / 1048576.0, kept / files);
    }
    const double share = idleShareOfACore(rule, idleSeconds);
    std::printf("  idle scanner over %d s                        %9.2f %% of a core\n", idleSeconds,
        share * 100);
    freeRecords(rule);
}

// The scanner alone handing new files over, to workers that end at once: how fast files reach
// the pool, from the moment they are there to the last hand-over. Without a settle time: this is
// the pace of the scanner and the pool, not of the files' writers.
void measureHandOver(const QString &dir, int files)
{
    g_sysbaseconf.settleSeconds = 0;
    _SENDPATH_LISTDATA rule;
    rule.SendPath = dir;
    g_SendPathList.append(&rule);
    int handed = 0;
    QEventLoop allHanded;
    auto *controller = new Controller;
    QObject::connect(controller, &Controller::insertItem, [&](_FINDFILEINFO *file) {
        SendLedger::markSent(&rule, *file);
        QThreadPool::globalInstance()->start([] { SendSlots::giveBack(); });
        if (++handed == files)
            allHanded.quit();
    });
    const double seconds = BenchSupport::secondsOf([&] {
        controller->start();
        allHanded.exec();
    });
    std::printf("%d new files of %d KiB handed over to a pool of %d: %.2f s, %.0f files/s\n", files,
        kSmallFileKiB, QThreadPool::globalInstance()->maxThreadCount(), seconds, files / seconds);
    Controller::stopRule(&rule);
    controller->stop();
    delete controller;
    g_SendPathList.removeOne(&rule);
    freeRecords(rule);
    g_sysbaseconf.settleSeconds = 2;
}

double percentile(QVector<double> values, double fraction)
{
    std::sort(values.begin(), values.end());
    return values.at(qMin(values.size() - 1, int(values.size() * fraction)));
}

// A whole file renamed into the send directory, one after the other with the scanner idle in
// between, as a producer that writes under a temporary name does: from the rename to the moment
// the GUI thread has the file (the scanner's thread and the queued hand-over included).
void measureRenameLatency(const QString &dir, int renames)
{
    _SENDPATH_LISTDATA rule;
    rule.SendPath = dir;
    g_SendPathList.append(&rule);
    auto *controller = new Controller;
    QElapsedTimer clock;
    qint64 renamedAtNs = 0;
    QVector<double> latencies;
    QEventLoop handed;
    QObject::connect(controller, &Controller::insertItem, [&](_FINDFILEINFO *file) {
        latencies << (clock.nsecsElapsed() - renamedAtNs) / 1e6;
        SendLedger::markSent(&rule, *file);
        QThreadPool::globalInstance()->start([] { SendSlots::giveBack(); });
        handed.quit();
    });
    controller->start();
    clock.start();
    waitMs(kWarmUpMs);
    const QByteArray content(kSmallFileKiB * 1024, 'r');
    for (int i = 0; i < renames; ++i) {
        const QByteArray hidden = QFile::encodeName(dir) + "/.upload.part";
        const QByteArray path = QFile::encodeName(dir) + "/renamed-" + QByteArray::number(i);
        const int fd = ::open(hidden.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0 || ::write(fd, content.constData(), size_t(content.size())) != content.size())
            break;
        ::close(fd);
        waitMs(200); // the scanner idle again
        renamedAtNs = clock.nsecsElapsed();
        ::rename(hidden.constData(), path.constData());
        QTimer::singleShot(10000, &handed, &QEventLoop::quit);
        handed.exec();
    }
    std::printf("%d whole files renamed into the send directory (settle time %d s): hand-over "
                "after median %.1f ms, 90th percentile %.1f ms, longest %.1f ms (%d handed)\n",
        renames, g_sysbaseconf.settleSeconds.load(), percentile(latencies, 0.5),
        percentile(latencies, 0.9), percentile(latencies, 1.0), latencies.size());
    Controller::stopRule(&rule);
    controller->stop();
    delete controller;
    g_SendPathList.removeOne(&rule);
    freeRecords(rule);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(quietDebug);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({ "files", "Files in the directory.", "count", "100000" });
    parser.addOption({ "idle-seconds", "Length of the idle stretch.", "seconds", "30" });
    parser.addOption({ "renames", "Files renamed into the send directory.", "count", "100" });
    parser.addOption({ "dir", "Where to make the directories (a disk, not tmpfs).", "dir" });
    parser.process(app);
    const int files = parser.value("files").toInt();
    const int idleSeconds = parser.value("idle-seconds").toInt();

    QTemporaryDir root(parser.isSet("dir") ? parser.value("dir") + "/scan_bench-XXXXXX"
                                           : QDir::tempPath() + "/scan_bench-XXXXXX");
    const QString emptyDir = root.filePath("empty");
    const QString sentDir = root.filePath("sent");
    const QString smallDir = root.filePath("small");
    const QString renameDir = root.filePath("renamed");
    SentFileStore::instance().setLocation(root.filePath("sentfiles.db"));
    if (!QDir().mkpath(emptyDir) || !QDir().mkpath(sentDir) || !QDir().mkpath(smallDir)
        || !QDir().mkpath(renameDir) || !createFiles(emptyDir, files, 0)
        || !createFiles(sentDir, files, 1)
        || !createFiles(smallDir, kSmallFiles, kSmallFileKiB * 1024)) {
        std::fprintf(
            stderr, "scan_bench: cannot create the files under %s\n", qPrintable(root.path()));
        return 1;
    }
    std::printf("scanner benchmark, %d cores, files under %s\n", QThread::idealThreadCount(),
        qPrintable(root.path()));
    measure("empty", emptyDir, files, idleSeconds);

    const double storing = BenchSupport::secondsOf([&sentDir] { sendAndKeep(sentDir); });
    std::printf("(%d files sent and kept beforehand: %.1f s, keys stored)\n", files, storing);
    measure("already sent and kept, after a restart", sentDir, files, idleSeconds);
    measureHandOver(smallDir, kSmallFiles);
    measureRenameLatency(renameDir, parser.value("renames").toInt());
    std::printf("peak memory of the process: %s\n", qPrintable(BenchSupport::peakMemory()));
    return 0;
}
