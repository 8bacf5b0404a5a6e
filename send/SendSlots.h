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

    // Waits until the deadline, until cancelled is set, until eventFd (when not -1) is readable,
    // until wake() is called, or, when wantSlot is true, until fewer than capacity files are in
    // flight. True when it ended on eventFd or wake().
    static bool wait(const QDeadlineTimer &deadline, int capacity, bool wantSlot,
        const std::atomic<bool> &cancelled, int eventFd = -1);
    // Makes a wait() look at its conditions again: a waiter that has just been cancelled notices at
    // once, and one that waits for the next pass starts it (a file asked for by the user).
    static void wake();
};
