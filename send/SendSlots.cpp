#include "send/SendSlots.h"

#include <QMutex>
#include <QMutexLocker>
#include <QWaitCondition>

namespace {

struct InFlight {
    QMutex mutex;
    QWaitCondition changed;
    int inFlight = 0;
};

InFlight &inFlightState()
{
    static InFlight instance;
    return instance;
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
    QMutexLocker lock(&s.mutex);
    // A transfer item that the scanner did not count (one made by hand) gives nothing back.
    if (s.inFlight > 0)
        --s.inFlight;
    s.changed.wakeAll();
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

void SendSlots::wait(
    const QDeadlineTimer &deadline, int capacity, bool wantSlot, const std::atomic<bool> &cancelled)
{
    InFlight &s = inFlightState();
    QMutexLocker lock(&s.mutex);
    while (!cancelled && !(wantSlot && s.inFlight < capacity) && !deadline.hasExpired())
        s.changed.wait(&s.mutex, deadline);
}

void SendSlots::wake()
{
    InFlight &s = inFlightState();
    QMutexLocker lock(&s.mutex);
    s.changed.wakeAll();
}
