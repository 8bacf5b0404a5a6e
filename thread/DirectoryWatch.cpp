#include "thread/DirectoryWatch.h"

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
        qWarning().noquote() << QStringLiteral("发送目录无法监视，每轮完整扫描：")
                + QString::fromLocal8Bit(std::strerror(errno));
}

DirectoryWatch::~DirectoryWatch()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

int DirectoryWatch::add(const QByteArray &nativePath, bool followLink)
{
    if (m_fd < 0)
        return -1;
    const quint32 mask = followLink ? kWatchMask : kWatchMask | IN_DONT_FOLLOW;
    const int watch = ::inotify_add_watch(m_fd, nativePath.constData(), mask);
    if (watch < 0 && errno == ENOSPC && !m_limitReported) {
        m_limitReported = true;
        qWarning().noquote() << QStringLiteral(
                                    "发送目录监视数已达系统上限(fs.inotify.max_user_watches)，"
                                    "未能监视的目录改为每轮完整扫描，首个为：")
                + QString::fromLocal8Bit(nativePath);
    }
    return watch;
}

void DirectoryWatch::remove(int watch)
{
    if (m_fd >= 0 && watch >= 0)
        ::inotify_rm_watch(m_fd, watch);
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
            if (event->mask & IN_IGNORED) {
                handler(event->wd, WatchEnded, QByteArray());
            } else if (event->len) {
                // The name is padded with NULs up to len.
                const int size = int(::strnlen(event->name, event->len));
                handler(event->wd, Entry, QByteArray::fromRawData(event->name, size));
            } else if (event->mask & kSelfEvents) {
                handler(event->wd, Directory, QByteArray());
            }
        }
    }
}
