#pragma once

#include <QDeadlineTimer>
#include <atomic>

// How many files the scanner has handed to sending workers that have not ended yet. The scanner
// hands a file over only while this count is below the size of the pool that runs the workers,
// so that no file waits in the pool's queue, and when the pool is full it waits for a worker's
// end instead of a fixed pause. Process-wide, as the pool is.
//
// A file taken into the count is given back exactly once: when its worker is destroyed (the
// transfer item connects that), or when the hand-over is dropped because sending stopped.
class SendSlots
{
public:
    // Counts one more file in flight, unless capacity files are in flight already.
    static bool tryTake(int capacity);
    static void giveBack();
    static int inFlight();
    // Forgets the count: only when no worker runs and no hand-over is under way, that is when
    // sending starts after the pool has run dry.
    static void reset();

    // Waits until the deadline, until wake() is called or cancelled is set, or, when wantSlot is
    // true, until fewer than capacity files are in flight.
    static void wait(const QDeadlineTimer &deadline, int capacity, bool wantSlot,
        const std::atomic<bool> &cancelled);
    // Wakes every wait(), so that a waiter that has just been cancelled notices at once.
    static void wake();
};
