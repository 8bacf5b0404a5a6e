#include "receive/ContentHasher.h"

#include <algorithm>
#include <cstring>
#include <system_error>

ContentHasher::ContentHasher(int blockCapacity, qint64 inlineBytes)
    : m_blockCapacity(blockCapacity)
    , m_inlineBytes(inlineBytes)
{
    m_digest.emplace();
}

ContentHasher::~ContentHasher() { stop(); }

void ContentHasher::add(const char *data, qint64 length)
{
    if (!m_handingOver && m_added + length > m_inlineBytes)
        m_handingOver = startThread();
    m_added += length;
    if (!m_handingOver) {
        m_digest->addData(data, length);
        return;
    }
    for (qint64 done = 0; done < length; done += m_blockCapacity)
        queue(data + done, int(std::min<qint64>(m_blockCapacity, length - done)));
}

QByteArray ContentHasher::finish()
{
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        waitIdle(lock);
    }
    return m_digest->hexResult();
}

void ContentHasher::reset()
{
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (const Queued &dropped : m_queued)
            m_free.push_back(dropped.buffer);
        m_queued.clear();
        waitIdle(lock);
    }
    m_digest.emplace();
    m_added = 0;
    m_handingOver = false;
}

void ContentHasher::stop()
{
    if (m_thread.joinable()) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stopping = true;
            m_queued.clear();
        }
        m_queuedChanged.notify_one();
        m_thread.join();
        m_stopping = false;
        m_free.clear();
        std::vector<std::vector<char>>().swap(m_buffers);
    }
    reset();
}

// Without a thread (none could be started) the content is hashed in the caller, as a small one.
bool ContentHasher::startThread()
{
    if (m_thread.joinable())
        return true;
    m_buffers.assign(kBuffers, std::vector<char>(size_t(m_blockCapacity)));
    for (int i = 0; i < kBuffers; ++i)
        m_free.push_back(i);
    try {
        m_thread = std::thread(&ContentHasher::hashQueued, this);
    } catch (const std::system_error &) {
        m_free.clear();
        std::vector<std::vector<char>>().swap(m_buffers);
        return false;
    }
    return true;
}

void ContentHasher::queue(const char *data, int length)
{
    int buffer = 0;
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_bufferFreed.wait(lock, [this] { return !m_free.empty(); });
        buffer = m_free.back();
        m_free.pop_back();
    }
    // The buffer is the caller's until it is queued.
    std::memcpy(m_buffers[size_t(buffer)].data(), data, size_t(length));
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_queued.push_back({ buffer, length });
    }
    m_queuedChanged.notify_one();
}

void ContentHasher::waitIdle(std::unique_lock<std::mutex> &lock)
{
    m_bufferFreed.wait(lock, [this] { return m_queued.empty() && !m_busy; });
}

void ContentHasher::hashQueued()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_queuedChanged.wait(lock, [this] { return m_stopping || !m_queued.empty(); });
        if (m_stopping)
            return;
        const Queued block = m_queued.front();
        m_queued.pop_front();
        m_busy = true;
        lock.unlock();
        m_digest->addData(m_buffers[size_t(block.buffer)].data(), block.length);
        lock.lock();
        m_busy = false;
        m_free.push_back(block.buffer);
        m_bufferFreed.notify_all();
    }
}
