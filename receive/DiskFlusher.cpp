#include "receive/DiskFlusher.h"

#include <cerrno>
#include <system_error>
#include <unistd.h>

void DiskFlusher::request(int fd)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_busy || m_stopping)
            return;
        if (!m_thread.joinable()) {
            try {
                m_thread = std::thread(&DiskFlusher::flushRequested, this);
            } catch (const std::system_error &) {
                return;
            }
        }
        m_fd = fd;
        m_busy = true;
    }
    m_requested.notify_one();
}

int DiskFlusher::result()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    waitIdle(lock);
    return m_error;
}

void DiskFlusher::reset()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    waitIdle(lock);
    m_error = 0;
}

void DiskFlusher::stop()
{
    if (!m_thread.joinable())
        return;
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        waitIdle(lock);
        m_stopping = true;
    }
    m_requested.notify_one();
    m_thread.join();
    m_stopping = false;
}

void DiskFlusher::waitIdle(std::unique_lock<std::mutex> &lock)
{
    m_idle.wait(lock, [this] { return !m_busy; });
}

void DiskFlusher::flushRequested()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_requested.wait(lock, [this] { return m_stopping || m_busy; });
        if (m_stopping)
            return;
        const int fd = m_fd;
        lock.unlock();
        const int error = ::fdatasync(fd) == 0 ? 0 : errno;
        lock.lock();
        if (error != 0 && m_error == 0)
            m_error = error;
        m_busy = false;
        m_fd = -1;
        m_idle.notify_all();
    }
}
