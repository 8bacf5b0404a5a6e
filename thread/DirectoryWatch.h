#pragma once

#include <QByteArray>
#include <functional>

// The scanner's inotify instance: tells which entries of its directories changed, so that a pass
// looks only at those. Qt's QFileSystemWatcher reports that a directory changed, not which of its
// files was written to, so inotify is used directly.
class DirectoryWatch
{
public:
    // What an event is about: an entry of the directory (its name given), the directory itself
    // (removed or moved), or the end of the watch (the directory is gone or was unwatched).
    enum Subject { Entry, Directory, WatchEnded };
    using EventHandler = std::function<void(int watch, Subject subject, const QByteArray &name)>;

    DirectoryWatch();
    ~DirectoryWatch();
    DirectoryWatch(const DirectoryWatch &) = delete;
    DirectoryWatch &operator=(const DirectoryWatch &) = delete;

    // Starts watching a directory (a link to one is followed only when followLink is true);
    // returns the watch or -1. Watching the same directory again gives the same watch. The first
    // time the system's limit of watches is reached it says so in the log.
    int add(const QByteArray &nativePath, bool followLink);
    void remove(int watch);

    // Hands every event queued so far to the handler, without waiting: an entry of a directory
    // that was created, removed, renamed, written to or changed its permissions, the directory
    // itself removed or moved, or a watch that ended. False when events were lost because too
    // many came at once.
    bool readEvents(const EventHandler &handler);

private:
    int m_fd;
    bool m_limitReported = false;
};
