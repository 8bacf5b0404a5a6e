#pragma once

#include <QMutex>
#include <functional>
#include <memory>

class QThread;
class SocketTools;

// One control exchange (a login, a heartbeat pass) in a thread of its own, on a SocketTools made
// in that thread, as its socket must be. The exchange can be cancelled from any thread.
class ControlThread
{
public:
    using Work = std::function<void(SocketTools &)>;

    explicit ControlThread(Work work);
    // Cancels the exchange if it still runs and waits for its thread, which the cancel ends at
    // once.
    ~ControlThread();
    ControlThread(const ControlThread &) = delete;
    ControlThread &operator=(const ControlThread &) = delete;

    // Its finished signal tells the end of the exchange.
    QThread *thread() const { return m_thread.get(); }
    void start();
    // Ends the exchange at once, or keeps it from starting (SocketTools::cancel).
    void cancel();
    bool isRunning() const;
    // Waits for the end of the thread; what the exchange did is then the caller's to read.
    void wait();

private:
    void run();

    Work m_work;
    std::unique_ptr<QThread> m_thread;
    QMutex m_mutex;
    bool m_cancelled = false; // m_mutex
    SocketTools *m_tools = nullptr; // m_mutex, while the exchange runs
};
