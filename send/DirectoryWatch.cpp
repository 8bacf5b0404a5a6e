#include "send/DirectoryWatch.h"

#include "send/ScanNode.h"

#include <QtDebug>
#include <cerrno>
#include <cstring>
#include <sys/inotify.h>
#include <unistd.h>

namespace {

// Everything that can make an entry a new candidate, or the directory's listing stale. Reading
// is left out: the sending workers read the files and their reads must not look like changes.
constexpr quint32 kEntryEvents
    = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_MODIFY | IN_CLOSE_WRITE | IN_ATTRIB;
constexpr quint32 kSelfEvents = IN_DELETE_SELF | IN_MOVE_SELF;
constexpr quint32 kWatchMask = kEntryEvents | kSelfEvents | IN_ONLYDIR | IN_EXCL_UNLINK;
// Room for many events per read; one event is at most its header and a name of NAME_MAX bytes.
constexpr size_t kReadBufferSize = 64 * 1024;

} // namespace

DirectoryWatch::DirectoryWatch()
    : m_fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
{
    if (m_fd < 0)
        qWarning().noquote() << QStringLiteral("发送目录无法监视，改为按修改时间扫描：")
                + QString::fromLocal8Bit(std::strerror(errno));
}

DirectoryWatch::~DirectoryWatch()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool DirectoryWatch::watch(ScanNode &node, bool followLink)
{
    if (node.watch >= 0)
        return true;
    if (m_fd < 0)
        return false;
    const quint32 mask = followLink ? kWatchMask : kWatchMask | IN_DONT_FOLLOW;
    const int watch = ::inotify_add_watch(m_fd, node.nativePath.constData(), mask);
    if (watch < 0) {
        if (errno == ENOSPC && !m_limitReported) {
            m_limitReported = true;
            qWarning().noquote() << QStringLiteral(
                                        "发送目录监视数已达系统上限(fs.inotify.max_user_watches)，"
                                        "未能监视的目录改为按修改时间扫描，首个为：")
                    + node.path;
        }
        return false;
    }
    ScanNode *previous = m_nodes.value(watch);
    if (previous && previous != &node) {
        previous->watch = -1;
        previous->relist = ScanNode::Everything;
    }
    m_nodes.insert(watch, &node);
    node.watch = watch;
    return true;
}

void DirectoryWatch::unwatch(ScanNode &node)
{
    if (node.watch < 0)
        return;
    if (m_nodes.value(node.watch) == &node) {
        m_nodes.remove(node.watch);
        ::inotify_rm_watch(m_fd, node.watch);
    }
    node.watch = -1;
}

bool DirectoryWatch::readEvents(const EventHandler &handler)
{
    if (m_fd < 0)
        return true;
    alignas(struct inotify_event) char buffer[kReadBufferSize];
    bool complete = true;
    for (;;) {
        const ssize_t length = ::read(m_fd, buffer, sizeof buffer);
        if (length <= 0)
            return complete;
        for (ssize_t at = 0; at < length;) {
            const auto *event = reinterpret_cast<const struct inotify_event *>(buffer + at);
            at += ssize_t(sizeof(struct inotify_event) + event->len);
            if (event->mask & IN_Q_OVERFLOW) {
                complete = false;
                continue;
            }
            ScanNode *node = m_nodes.value(event->wd);
            if (!node)
                continue;
            if (event->mask & IN_IGNORED) {
                m_nodes.remove(event->wd);
                node->watch = -1;
                handler(*node, WatchEnded, QByteArray(), event->mask);
            } else if (event->len) {
                // The name is padded with NULs up to len.
                const int size = int(::strnlen(event->name, event->len));
                handler(*node, Entry, QByteArray::fromRawData(event->name, size), event->mask);
            } else if (event->mask & kSelfEvents) {
                handler(*node, Directory, QByteArray(), event->mask);
            }
        }
    }
}
