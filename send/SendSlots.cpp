#include "send/SendSlots.h"

#include "model/UniqueFd.h"

#include <QMutex>
#include <QMutexLocker>
#include <climits>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <utility>

namespace {

struct InFlight {
    QMutex mutex;
    int inFlight = 0;
    bool woken = false; // by wake(), since the last wait that noticed it
    // Written whenever the count drops or a waiter is to wake: a wait polls it together with a
    // descriptor of its own (the scanner's inotify instance).
    UniqueFd changed { ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC) };
};

InFlight &inFlightState()
{
    static InFlight instance;
    return instance;
}

void signalChange(InFlight &s)
{
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(s.changed.get(), &one, sizeof one);
}

void drainChanges(InFlight &s)
{
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t read = ::read(s.changed.get(), &count, sizeof count);
}

} // namespace

bool SendSlots::tryTake(int capacity)
{
    InFlight &s = inFlightState();
    QMutexLocker lock(&s.mutex);
    if (s.inFlight >= capacity)
        return false;
    ++s.inFlight;
    return true;
}

void SendSlots::giveBack()
{
    InFlight &s = inFlightState();
    {
        QMutexLocker lock(&s.mutex);
        // A transfer item that the scanner did not count (one made by hand) gives nothing back.
        if (s.inFlight > 0)
            --s.inFlight;
    }
    signalChange(s);
}

int SendSlots::inFlight()
{
    InFlight &s = inFlightState();
    QMutexLocker lock(&s.mutex);
    return s.inFlight;
}

void SendSlots::reset()
{
    InFlight &s = inFlightState();
    QMutexLocker lock(&s.mutex);
    s.inFlight = 0;
}

bool SendSlots::wait(const QDeadlineTimer &deadline, int capacity, bool wantSlot,
    const std::atomic<bool> &cancelled, int eventFd)
{
    InFlight &s = inFlightState();
    for (;;) {
        {
            QMutexLocker lock(&s.mutex);
            if (std::exchange(s.woken, false))
                return true;
            if (cancelled || (wantSlot && s.inFlight < capacity) || deadline.hasExpired())
                return false;
        }
        // A change after the test above is still in the counter, so the poll returns at once.
        pollfd fds[2] = { { s.changed.get(), POLLIN, 0 }, { eventFd, POLLIN, 0 } };
        const int waitMs = int(qBound<qint64>(0, deadline.remainingTime(), INT_MAX));
        if (::poll(fds, eventFd >= 0 ? 2 : 1, waitMs) <= 0)
            continue;
        if (fds[0].revents)
            drainChanges(s);
        if (eventFd >= 0 && fds[1].revents)
            return true;
    }
}

void SendSlots::wake()
{
    InFlight &s = inFlightState();
    {
        QMutexLocker lock(&s.mutex);
        s.woken = true;
    }
    signalChange(s);
}
