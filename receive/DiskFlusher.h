#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

// Flushes what a large content has written so far to the disk, in a thread of its own, while the
// receiving loop goes on writing. A disk (or the host of a virtual one) keeps written data in a
// volatile cache until a flush; one flush at the end of a large file waits for all of it, and
// answer 5 with it. Flushing on the way leaves the last flush a short tail.
//
// Only a help: the caller's own fdatasync after the last byte still decides. A flush that fails
// is kept and reported by result(), because the kernel reports a write error to one fdatasync
// only: the caller's own would then succeed over lost data.
//
// Used by one caller thread; the thread starts with the first request.
class DiskFlusher
{
public:
    DiskFlusher() = default;
    ~DiskFlusher() { stop(); }
    DiskFlusher(const DiskFlusher &) = delete;
    DiskFlusher &operator=(const DiskFlusher &) = delete;

    // Asks for an fdatasync of fd; none is asked while the previous one still runs. Without a
    // thread (none could be started) nothing is done.
    void request(int fd);
    // Waits for a flush in progress; 0, or the errno of the first flush that failed since the
    // last reset(). After it the caller may close the file.
    int result();
    // Waits for a flush in progress and forgets its outcome, for the next file.
    void reset();
    // Ends the thread, after a flush in progress.
    void stop();

private:
    void flushRequested();
    void waitIdle(std::unique_lock<std::mutex> &lock);

    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_requested; // a file to flush, or stop asked
    std::condition_variable m_idle;
    int m_fd = -1; // the file to flush next, or the one being flushed while m_busy
    bool m_busy = false;
    bool m_stopping = false;
    int m_error = 0;
};
