// Feeds the input as the byte stream of one connection from a listed gap to a receiving worker's
// packet loop, run in this thread over an in-memory device (RecvWorkThread::receive), so that
// each input costs file-system calls rather than a thread and sockets. The receive directory holds
// links that lead outside it. After each input: nothing appeared outside the receive directory,
// the links are unchanged, no part file is left, and a file under a final name is only one whose
// digest the stream announced.
//
// "fuzz_recvstream --write-seeds DIR" writes whole valid transfers of 0, 1, 1444 and 1445 bytes,
// and of small files whose paths meet the links, so that mutations start from streams that reach
// the data and file-end states and the path walk.
#include "model/GlobalData.h"
#include "protocol/PacketCommon.h"
#include "protocol/TransferPackets.h"
#include "receive/RecvWorkThread.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr const char *kGapAddress = "127.0.0.1";
constexpr const char *kRuleKey = "KEY-1";
constexpr const char *kFromUser = "alice";
constexpr int kSeedSizes[] = { 0, 1, kPayloadSize, kPayloadSize + 1 };
const char *const kSeedPaths[]
    = { "linkdir/x/evil.bin", "dangle.txt", "sub/mid/e.bin", "sub/new.bin" };

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

// A whole valid transfer of one file of size bytes.
QByteArray validTransfer(int size, const char *relativePath)
{
    QByteArray content(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        content[i] = char(i * 131 + 17);
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

// The connection: the input as what the gap sends, answers taken and dropped.
class InputStream : public QIODevice
{
public:
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
    qint64 writeData(const char *, qint64 size) override { return size; }

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
// one root; the gap listed and one rule into the receive directory.
struct World {
    QTemporaryDir root { memoryBackedRoot() };
    QString recvDir;
    QString outsideDir;
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

void makeRecvDir(const World &world)
{
    check(QDir().mkpath(world.recvDir + QStringLiteral("/sub")));
    for (const Link &link : kLinks)
        check(QFile::link(QString::fromLatin1(link.target),
            world.recvDir + '/' + QString::fromLatin1(link.path)));
}

QStringList entriesOf(const QString &dir)
{
    return QDir(dir).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

// Checks what the input left behind; true when the receive directory holds more than it did.
bool checkOutcome(const World &world, const QByteArray &input)
{
    check(entriesOf(world.root.path())
        == QStringList({ QStringLiteral("outside"), QStringLiteral("recv") }));
    check(entriesOf(world.outsideDir).isEmpty());
    for (const Link &link : kLinks) {
        const QFileInfo info(world.recvDir + '/' + QString::fromLatin1(link.path));
        check(info.isSymLink()
            && QDir(info.absolutePath()).relativeFilePath(info.symLinkTarget())
                == QString::fromLatin1(link.target));
    }
    bool grown = false;
    QDirIterator it(world.recvDir, QDir::AllEntries | QDir::Hidden | QDir::System,
        QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        if (info.fileName() == QLatin1String(".") || info.fileName() == QLatin1String("..")
            || info.isSymLink() || info.filePath() == world.recvDir + QStringLiteral("/sub"))
            continue;
        grown = true;
        if (info.isDir())
            continue;
        check(!info.fileName().endsWith(QLatin1String(".part")));
        QFile file(info.filePath());
        check(file.open(QIODevice::ReadOnly));
        check(input.contains(md5Text(file.readAll())));
    }
    return grown;
}

void resetRecvDir(const World &world)
{
    check(QDir(world.recvDir).removeRecursively());
    makeRecvDir(world);
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
    // The audit store is no part of the packet loop, and its writes would cost most of each input.
    qputenv("VARKO_DLOG_LIBRARY", "/nonexistent/libdlog.so");
    g_world = new World;
    check(g_world->root.isValid());
    g_world->recvDir = g_world->root.filePath(QStringLiteral("recv"));
    g_world->outsideDir = g_world->root.filePath(QStringLiteral("outside"));
    check(QDir().mkpath(g_world->outsideDir));
    makeRecvDir(*g_world);
    listRuleAndGap(g_world->recvDir);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const World &world = *g_world;
    const char *bytes = reinterpret_cast<const char *>(data);
    InputStream gap(bytes, qint64(size));
    static RecvWorkThread worker(0); // never started: the loop runs here, its buffers kept
    worker.receive(&gap, kGapAddress, kGapAddress);
    if (checkOutcome(world, QByteArray::fromRawData(bytes, int(size))))
        resetRecvDir(world);
    return 0;
}
