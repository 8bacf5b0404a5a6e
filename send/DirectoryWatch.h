#pragma once

#include <QByteArray>
#include <QHash>
#include <functional>

struct ScanNode;

// The scanner's inotify instance: tells which entries of its directories changed, so that a walk
// looks only at those. Qt's QFileSystemWatcher reports that a directory changed, not which of its
// files was written to, so inotify is used directly.
class DirectoryWatch
{
public:
    // What an event is about: an entry of the directory (its name given), the directory itself
    // (removed or moved), or the end of the watch (the directory is gone).
    enum Subject { Entry, Directory, WatchEnded };
    // The mask is inotify's: what happened to the entry (IN_CREATE, IN_MODIFY, IN_CLOSE_WRITE,
    // IN_MOVED_TO, ...).
    using EventHandler = std::function<void(
        ScanNode &node, Subject subject, const QByteArray &name, quint32 mask)>;

    DirectoryWatch();
    ~DirectoryWatch();
    DirectoryWatch(const DirectoryWatch &) = delete;
    DirectoryWatch &operator=(const DirectoryWatch &) = delete;

    // Starts watching the node's directory (a link to one is followed only when followLink is
    // true); false when it cannot be watched. The first time the system's limit of watches is
    // reached it says so in the log. A directory moved within the tree keeps its watch, which then
    // belongs to the node that watches it last.
    bool watch(ScanNode &node, bool followLink);
    void unwatch(ScanNode &node);

    // Hands every event queued so far to the handler, without waiting: an entry of a directory
    // that was created, removed, renamed, written to or changed its permissions, the directory
    // itself removed or moved, or a watch that ended. False when events were lost because too
    // many came at once.
    bool readEvents(const EventHandler &handler);
    // Readable when events are queued, for a wait that ends on them; -1 without inotify.
    int descriptor() const { return m_fd; }

private:
    int m_fd;
    bool m_limitReported = false;
    QHash<int, ScanNode *> m_nodes; // by watch
};
