// Feeds the input as the byte stream of one connection from a listed gap to a receiving worker's
// packet loop, run in this thread over an in-memory device (RecvWorkThread::receive), so that
// each input costs file-system calls rather than a thread and sockets. The receive directory holds
// links that lead outside it. Every other input runs on a file system without unnamed files (the
// receiver then writes named part files). After each input a valid second file is delivered into
// the same directory and a sweep runs over it; then nothing appeared outside the receive
// directory, the links are unchanged, no part file is left (by the receiver's own predicate), the
// second file arrived, and a file under a final name is only one whose digest was announced.
//
// "fuzz_recvstream --write-seeds DIR" writes whole valid transfers of 0, 1, 1444 and 1445 bytes,
// and of small files whose paths meet the links, so that mutations start from streams that reach
// the data and file-end states and the path walk.
#include "model/GlobalData.h"
#include "protocol/PacketCommon.h"
#include "protocol/TransferPackets.h"
#include "receive/ReceiveFaults.h"
#include "receive/RecvPartFiles.h"
#include "receive/RecvWorkThread.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

constexpr const char *kGapAddress = "127.0.0.1";
constexpr const char *kRuleKey = "KEY-1";
constexpr const char *kFromUser = "alice";
constexpr int kSeedSizes[] = { 0, 1, kPayloadSize, kPayloadSize + 1 };
const char *const kSeedPaths[]
    = { "linkdir/x/evil.bin", "dangle.txt", "sub/mid/e.bin", "sub/new.bin" };
// The second file of each input: where the inputs' own files are likely to be.
const char *const kSecondPath = "sub/new.bin";
constexpr int kSecondSize = kPayloadSize + 1;

// Links inside the receive directory, each with its target: a directory outside, a name outside
// that does not exist, and a directory outside reached from a real sub-directory.
struct Link {
    const char *path;
    const char *target;
};
constexpr Link kLinks[] = { { "linkdir", "../outside" }, { "dangle.txt", "../outside/planted.txt" },
    { "sub/mid", "../../outside" } };

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

QByteArray seedContent(int size)
{
    QByteArray content(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        content[i] = char(i * 131 + 17);
    return content;
}

// A whole valid transfer of one file of size bytes.
QByteArray validTransfer(int size, const char *relativePath)
{
    const QByteArray content = seedContent(size);
    const auto descriptor = buildDescriptor(size, QString::fromLatin1(kGapAddress), kRuleKey,
        QString::fromUtf8(relativePath), kFromUser, "bob", md5Text(content));
    check(descriptor.has_value());
    QByteArray stream = packetBytes(*descriptor);
    int at = 0;
    for (qint64 i = 0; i < dataPacketCount(size); ++i, at += kPayloadSize)
        stream += packetBytes(buildDataPacket(content.constData() + at));
    return stream + packetBytes(buildFileEnd(content.constData() + at, tailLength(size)));
}

void writeSeed(const QString &path, const QByteArray &stream)
{
    QFile file(path);
    check(file.open(QIODevice::WriteOnly) && file.write(stream) == stream.size());
}

void writeSeeds(const QString &dir)
{
    check(QDir().mkpath(dir));
    for (int size : kSeedSizes)
        writeSeed(
            QStringLiteral("%1/valid-%2").arg(dir).arg(size), validTransfer(size, "dir/seed.bin"));
    for (const char *path : kSeedPaths)
        writeSeed(
            QStringLiteral("%1/path-%2").arg(dir, QString::fromLatin1(path).replace('/', '-')),
            validTransfer(kPayloadSize + 1, path));
}

// The connection: the input as what the gap sends; the types of the answers are kept.
class InputStream : public QIODevice
{
public:
    QList<quint64> answers;

    InputStream(const char *data, qint64 size)
        : m_data(data)
        , m_size(size)
    {
        open(QIODevice::ReadWrite | QIODevice::Unbuffered);
    }
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override { return m_size - m_at + QIODevice::bytesAvailable(); }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        const qint64 n = qMin(maxSize, m_size - m_at);
        std::memcpy(data, m_data + m_at, size_t(n));
        m_at += n;
        return n;
    }
    qint64 writeData(const char *data, qint64 size) override
    {
        if (size == kPacketSize)
            answers.append(packetType(data));
        return size;
    }

private:
    const char *m_data;
    qint64 m_size;
    qint64 m_at = 0;
};

// Under a memory file system when there is one: the worker syncs every verified file and its
// directory, which a disk makes the slowest part of an input.
QString memoryBackedRoot()
{
    const QString shared = QStringLiteral("/dev/shm");
    return QFileInfo(shared).isWritable()
        ? shared + QStringLiteral("/fuzz_recvstream-XXXXXX")
        : QDir::tempPath() + QStringLiteral("/fuzz_recvstream-XXXXXX");
}

// The worker's world: a receive directory with its links, and the directory they lead to, under
// one root; the gap listed and one rule into the receive directory. The directories are held open:
// the checks after each input read them by descriptor, without Qt's allocations.
struct World {
    QTemporaryDir root { memoryBackedRoot() };
    QString recvDir;
    int rootFd = -1;
    int recvFd = -1;
    int outsideFd = -1;
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

int openDir(int parentFd, const char *name)
{
    const int fd = ::openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    check(fd >= 0);
    return fd;
}

void makeWorld(World &world)
{
    world.recvDir = world.root.filePath(QStringLiteral("recv"));
    world.rootFd = openDir(AT_FDCWD, QFile::encodeName(world.root.path()).constData());
    check(::mkdirat(world.rootFd, "outside", 0700) == 0
        && ::mkdirat(world.rootFd, "recv", 0700) == 0);
    world.outsideFd = openDir(world.rootFd, "outside");
    world.recvFd = openDir(world.rootFd, "recv");
    check(::mkdirat(world.recvFd, "sub", 0700) == 0);
    for (const Link &link : kLinks)
        check(::symlinkat(link.target, world.recvFd, link.path) == 0);
}

// An entry of a directory: its name and its type as the directory read gave it (DT_UNKNOWN where
// the file system does not say).
struct Entry {
    QByteArray name;
    unsigned char type;
};

// The entries of a directory but "." and "..". Read with getdents64 into a buffer on the stack:
// readdir would allocate 32 KiB for each directory, each input.
QList<Entry> entriesOf(int dirFd)
{
    QList<Entry> entries;
    check(::lseek(dirFd, 0, SEEK_SET) == 0);
    alignas(8) char buffer[8192];
    for (long got; (got = ::syscall(SYS_getdents64, dirFd, buffer, sizeof buffer)) > 0;) {
        for (long at = 0; at < got;) {
            const auto *entry = reinterpret_cast<const dirent64 *>(buffer + at);
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                entries.append({ QByteArray(entry->d_name), entry->d_type });
            at += entry->d_reclen;
        }
    }
    return entries;
}

QList<QByteArray> namesOf(int dirFd)
{
    QList<QByteArray> names;
    for (const Entry &entry : entriesOf(dirFd))
        names.append(entry.name);
    return names;
}

// The type of an entry; a stat only where the directory read did not tell.
unsigned char typeOf(int dirFd, const Entry &entry)
{
    if (entry.type != DT_UNKNOWN)
        return entry.type;
    struct stat status {
    };
    check(::fstatat(dirFd, entry.name.constData(), &status, AT_SYMLINK_NOFOLLOW) == 0);
    return S_ISLNK(status.st_mode) ? DT_LNK
        : S_ISDIR(status.st_mode)  ? DT_DIR
        : S_ISREG(status.st_mode)  ? DT_REG
                                   : DT_UNKNOWN;
}

const Link *linkAt(const QByteArray &path)
{
    for (const Link &link : kLinks) {
        if (path == link.path)
            return &link;
    }
    return nullptr;
}

// The digest of a file of the directory, read through a buffer on the stack.
QByteArray md5TextOf(int dirFd, const QByteArray &name)
{
    const int fd = ::openat(dirFd, name.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    check(fd >= 0);
    QCryptographicHash md5(QCryptographicHash::Md5);
    char chunk[16384];
    for (ssize_t got; (got = ::read(fd, chunk, sizeof chunk)) > 0;)
        md5.addData(chunk, int(got));
    ::close(fd);
    return md5.result().toHex().toUpper();
}

// The digests a file under a final name may have: one the input announced, or the second file's.
struct Announced {
    QByteArray input;
    QByteArray second;

    bool contains(const QByteArray &md5) const { return md5 == second || input.contains(md5); }
};

// Checks what the input and the second file left below a directory of the receive directory, and
// removes it, so that the next input finds the directory as it was: no part file (by the
// receiver's own predicate), no link but the world's own (unchanged), every file one whose digest
// was announced.
void checkAndClear(int dirFd, const QByteArray &path, const Announced &announced)
{
    for (const Entry &entry : entriesOf(dirFd)) {
        const QByteArray &name = entry.name;
        check(!RecvPartFiles::isPartName(name));
        const QByteArray entryPath = path.isEmpty() ? name : path + '/' + name;
        const unsigned char type = typeOf(dirFd, entry);
        if (const Link *link = linkAt(entryPath)) {
            char target[256] = {};
            check(type == DT_LNK
                && ::readlinkat(dirFd, name.constData(), target, sizeof target - 1) > 0
                && std::strcmp(target, link->target) == 0);
            continue;
        }
        if (type == DT_DIR) {
            const int sub = openDir(dirFd, name.constData());
            checkAndClear(sub, entryPath, announced);
            ::close(sub);
            if (entryPath != "sub")
                check(::unlinkat(dirFd, name.constData(), AT_REMOVEDIR) == 0);
            continue;
        }
        check(type == DT_REG);
        check(announced.contains(md5TextOf(dirFd, name)));
        check(::unlinkat(dirFd, name.constData(), 0) == 0);
    }
}

void checkOutcome(const World &world, const Announced &announced)
{
    QList<QByteArray> top = namesOf(world.rootFd);
    std::sort(top.begin(), top.end());
    check(top == QList<QByteArray>({ "outside", "recv" }));
    check(entriesOf(world.outsideFd).isEmpty());
    checkAndClear(world.recvFd, QByteArray(), announced);
}

} // namespace

// Each input allocates well under a megabyte, so a use after free within an input is still caught
// with a quarantine of 16 MB; the default 256 MB hands every allocation cold pages, which cost a
// third of each input.
extern "C" const char *__asan_default_options() { return "quarantine_size_mb=16"; }

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    if (*argc == 3 && std::strcmp((*argv)[1], "--write-seeds") == 0) {
        writeSeeds(QString::fromLocal8Bit((*argv)[2]));
        std::exit(0);
    }
    // Local time without a look at /etc/localtime for each time stamp the worker takes.
    qputenv("TZ", "UTC");
    static QCoreApplication app(*argc, *argv);
    qInstallMessageHandler(quietDebug);
    // Not even formatted: the worker writes a line for each step of each input.
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    // The audit store is no part of the packet loop, and its writes would cost most of each input.
    qputenv("VARKO_DLOG_LIBRARY", "/nonexistent/libdlog.so");
    g_world = new World;
    check(g_world->root.isValid());
    makeWorld(*g_world);
    listRuleAndGap(g_world->recvDir);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const World &world = *g_world;
    static const QByteArray second = validTransfer(kSecondSize, kSecondPath);
    static const QByteArray secondMd5 = md5Text(seedContent(kSecondSize));
    static RecvWorkThread worker(0); // never started: the loop runs here, its buffers kept
    ReceiveFaults::setNoUnnamedFiles(size % 2 == 1);

    const char *bytes = reinterpret_cast<const char *>(data);
    InputStream gap(bytes, qint64(size));
    worker.receive(&gap, kGapAddress, kGapAddress);
    InputStream next(second.constData(), second.size());
    worker.receive(&next, kGapAddress, kGapAddress);
    check(next.answers == QList<quint64>({ kTypeMetaAccepted, kTypeConfirmOk }));
    check(RecvPartFiles::sweepNow(world.recvDir) == 0);

    checkOutcome(world, { QByteArray::fromRawData(bytes, int(size)), secondMd5 });
    return 0;
}
