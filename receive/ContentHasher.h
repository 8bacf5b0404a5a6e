#pragma once

#include "model/Md5Digest.h"
#include "protocol/TransferPackets.h"

#include <QByteArray>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

// The digest of a content as it is written, taken in a thread of its own so that hashing runs
// beside the receiving loop instead of after each block. Blocks are copied into a few fixed
// buffers and hashed strictly in the order they came; the caller waits only when every buffer
// is still queued, so memory stays bounded. The first kInlineBytes of a content are hashed in
// the caller: a small file costs no hand-over and starts no thread.
//
// Used by one caller thread. A content abandoned half-way is forgotten by reset() or stop(): its
// queued blocks are dropped, never hashed into the next one.
class ContentHasher
{
public:
    static constexpr qint64 kInlineBytes = 1024 * 1024;
    static constexpr int kBuffers = 3;

    explicit ContentHasher(int blockCapacity = kStagingCapacity, qint64 inlineBytes = kInlineBytes);
    ~ContentHasher();
    ContentHasher(const ContentHasher &) = delete;
    ContentHasher &operator=(const ContentHasher &) = delete;

    void add(const char *data, qint64 length);
    // Waits until every block added is hashed; the digest as Md5Digest::hexResult gives it. Asked
    // for once per content.
    QByteArray finish();
    // Begins a new content, dropping what is queued of the current one.
    void reset();
    // Ends the thread and frees the buffers, then begins a new content; add starts them again.
    void stop();

private:
    struct Queued {
        int buffer;
        int length;
    };

    bool startThread();
    void queue(const char *data, int length);
    void waitIdle(std::unique_lock<std::mutex> &lock);
    void hashQueued();

    const int m_blockCapacity;
    const qint64 m_inlineBytes;
    qint64 m_added = 0; // of the current content, by the caller
    bool m_handingOver = false; // the current content went past the inline bytes

    std::optional<Md5Digest> m_digest; // the thread's while it is busy, otherwise the caller's
    std::vector<std::vector<char>> m_buffers;
    std::thread m_thread;

    std::mutex m_mutex;
    std::condition_variable m_queuedChanged; // a block queued, or stop asked
    std::condition_variable m_bufferFreed;
    std::deque<Queued> m_queued;
    std::vector<int> m_free;
    bool m_busy = false; // the thread hashes a block it took from the queue
    bool m_stopping = false;
};
