// Feeds the input as the byte stream of one connection from a listed gap to a receiving worker,
// exactly as the client runs it (the worker builds its socket from an accepted descriptor in its
// own thread). The gap's side reads the worker's answers and closes once the worker has taken every
// byte and gone quiet, so the worker sees the end (a half-close would not do: the socket treats it
// as the end of the connection on its next write). After each input: the
// worker has ended, nothing was written outside the receive directory, no part file is left, and
// a file under a final name is only one whose digest the stream announced.
//
// "fuzz_recvstream --write-seeds DIR" writes whole valid transfers of 0, 1, 1444 and 1445 bytes,
// so that mutations start from streams that reach the data and file-end states.
#include "model/GlobalData.h"
#include "protocol/PacketCommon.h"
#include "protocol/TransferPackets.h"
#include "thread/RecvWorkThread.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr const char *kGapAddress = "127.0.0.1";
constexpr const char *kRuleKey = "KEY-1";
constexpr const char *kFromUser = "alice";
constexpr int kWorkerWaitMs = 20000; // the worker sees the end at once; this only catches a hang
constexpr int kQuietMs = 5; // no answer for this long after the stream was taken: the worker waits
constexpr int kDrainLimitMs = 5000;
constexpr int kSeedSizes[] = { 0, 1, kPayloadSize, kPayloadSize + 1 };

// The worker logs every step; only warnings and worse are worth the fuzzer's output.
void quietDebug(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type != QtDebugMsg)
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

void check(bool ok)
{
    if (!ok)
        std::abort();
}

QByteArray md5Text(const QByteArray &content)
{
    return QCryptographicHash::hash(content, QCryptographicHash::Md5).toHex().toUpper();
}

// A whole valid transfer of one file of size bytes.
QByteArray validTransfer(int size)
{
    QByteArray content(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        content[i] = char(i * 131 + 17);
    const auto descriptor = buildDescriptor(size, QString::fromLatin1(kGapAddress), kRuleKey,
        QStringLiteral("dir/seed.bin"), kFromUser, "bob", md5Text(content));
    check(descriptor.has_value());
    QByteArray stream = packetBytes(*descriptor);
    int at = 0;
    for (qint64 i = 0; i < dataPacketCount(size); ++i, at += kPayloadSize)
        stream += packetBytes(buildDataPacket(content.constData() + at));
    return stream + packetBytes(buildFileEnd(content.constData() + at, tailLength(size)));
}

void writeSeeds(const QString &dir)
{
    check(QDir().mkpath(dir));
    for (int size : kSeedSizes) {
        QFile file(QStringLiteral("%1/valid-%2").arg(dir).arg(size));
        check(file.open(QIODevice::WriteOnly) && file.write(validTransfer(size)) > 0);
    }
}

// The worker's world: a work directory (audit store) and a receive directory under one root, the
// gap listed and one rule into the receive directory.
struct World {
    QTemporaryDir root;
    QString recvDir;
    QString workDir;
    int listener = -1;
    sockaddr_in address {};
};

World *g_world = nullptr;

void listRuleAndGap(const QString &recvDir)
{
    // Static: the registries hold them for the whole run.
    static _VKGAPIP_CONF gap;
    copyToField(gap.HostIP, kHostIPSize, kGapAddress);
    gap.hostIPStr = QString::fromLatin1(kGapAddress);
    g_GapInfoList.append(&gap);
    static _RECVPATH_LISTDATA rule;
    rule.RecvPath = recvDir;
    copyToField(rule.RecvPathID, kPathIDSize, kRuleKey);
    copyToField(rule.GapIP, kHostIPSize, kGapAddress);
    copyToField(rule.FromUser, kUserNameSize, kFromUser);
    g_RecvPathList.append(&rule);
}

void openListener(World &world)
{
    world.listener = ::socket(AF_INET, SOCK_STREAM, 0);
    world.address.sin_family = AF_INET;
    world.address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof world.address;
    check(::bind(world.listener, reinterpret_cast<sockaddr *>(&world.address), length) == 0);
    check(::listen(world.listener, 4) == 0);
    check(
        ::getsockname(world.listener, reinterpret_cast<sockaddr *>(&world.address), &length) == 0);
}

// Sends the input while reading the worker's answers, so neither side's buffer blocks the other.
// The duplicate descriptor keeps the connection open after the worker closed its own, so its end
// is seen by the thread finishing.
void sendStream(int gap, const QThread &worker, const uint8_t *data, size_t size)
{
    char answers[kPacketSize];
    const QDeadlineTimer deadline(kDrainLimitMs);
    while (size > 0 && !worker.isFinished() && !deadline.hasExpired()) {
        pollfd ready { gap, POLLIN | POLLOUT, 0 };
        if (::poll(&ready, 1, kQuietMs) < 0 || (ready.revents & (POLLERR | POLLHUP)))
            return;
        if ((ready.revents & POLLIN) && ::recv(gap, answers, sizeof answers, 0) <= 0)
            return;
        if (ready.revents & POLLOUT) {
            const ssize_t sent = ::send(gap, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (sent < 0 && errno != EAGAIN)
                return;
            data += std::max<ssize_t>(sent, 0);
            size -= size_t(std::max<ssize_t>(sent, 0));
        }
    }
}

// Reads answers until the worker has ended, or has taken every byte (its receive queue, seen
// through the duplicate of its descriptor, is empty) and answered nothing for kQuietMs.
void drainUntilQuiet(int gap, const QThread &worker, int workerSide)
{
    char answers[kPacketSize];
    const QDeadlineTimer deadline(kDrainLimitMs);
    while (!worker.isFinished() && !deadline.hasExpired()) {
        int queued = 0;
        pollfd ready { gap, POLLIN, 0 };
        const int got = ::poll(&ready, 1, kQuietMs);
        if (got > 0 && ::recv(gap, answers, sizeof answers, 0) <= 0)
            return;
        ::ioctl(workerSide, FIONREAD, &queued);
        if (got == 0 && queued == 0)
            return;
    }
}

// Every file below dir, hidden ones included, as absolute paths.
QStringList filesUnder(const QString &dir)
{
    QStringList files;
    QDirIterator it(dir, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(it.next());
    return files;
}

void checkOutcome(const World &world, const QByteArray &input)
{
    const QStringList rootEntries
        = QDir(world.root.path())
              .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    check(rootEntries == QStringList({ QStringLiteral("recv"), QStringLiteral("work") }));
    for (const QString &path : filesUnder(world.workDir))
        check(QFileInfo(path).fileName().startsWith(QLatin1String("audit.db")));
    for (const QString &path : filesUnder(world.recvDir)) {
        check(!QFileInfo(path).fileName().endsWith(QLatin1String(".part")));
        QFile file(path);
        check(file.open(QIODevice::ReadOnly));
        check(input.contains(md5Text(file.readAll())));
    }
}

void clearRecvDir(const World &world)
{
    QDir recv(world.recvDir);
    check(recv.removeRecursively() && QDir().mkpath(world.recvDir));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    if (*argc == 3 && std::strcmp((*argv)[1], "--write-seeds") == 0) {
        writeSeeds(QString::fromLocal8Bit((*argv)[2]));
        std::exit(0);
    }
    static QCoreApplication app(*argc, *argv);
    qInstallMessageHandler(quietDebug);
    g_world = new World;
    check(g_world->root.isValid());
    g_world->recvDir = g_world->root.filePath(QStringLiteral("recv"));
    g_world->workDir = g_world->root.filePath(QStringLiteral("work"));
    check(QDir().mkpath(g_world->recvDir) && QDir().mkpath(g_world->workDir));
    // The audit store, where the audit library is found; the working directory stays as given,
    // since corpus paths may be relative to it.
    qputenv("DLOG_DB", QFile::encodeName(g_world->workDir + QStringLiteral("/audit.db")));
    listRuleAndGap(g_world->recvDir);
    openListener(*g_world);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    World &world = *g_world;
    const int gap = ::socket(AF_INET, SOCK_STREAM, 0);
    check(::connect(gap, reinterpret_cast<const sockaddr *>(&world.address), sizeof world.address)
        == 0);
    const int accepted = ::accept(world.listener, nullptr, nullptr);
    check(accepted >= 0);

    const int workerSide = ::dup(accepted); // the worker closes its descriptor when it ends

    RecvWorkThread worker(accepted);
    worker.start();
    sendStream(gap, worker, data, size);
    drainUntilQuiet(gap, worker, workerSide);
    ::close(gap);
    check(worker.wait(kWorkerWaitMs));
    ::close(workerSide);

    checkOutcome(world, QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size)));
    clearRecvDir(world);
    return 0;
}
