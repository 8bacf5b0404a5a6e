#pragma once

#include <climits>

class QObject;
class QThread;

// Starting and ending a QThread that other threads post to and delete. QThread synchronises its
// start, its end and wait() inside Qt, out of ThreadSanitizer's sight; these hand the thread over
// explicitly (model/HandOver.h). Without ThreadSanitizer all they add is the wait for the start.
class ThreadHandOver
{
public:
    // Starts the thread, in which the resident object lives, and returns once it runs: what the
    // thread set up for itself (its event dispatcher among it) is ordered before whatever the
    // caller then posts to it. The thread ends when the resident is deleted, and its end is handed
    // over to wait().
    static void start(QThread *thread, QObject *resident);
    // Ends a thread started by start(): what the caller did so far is ordered before the end. The
    // resident is deleted in its thread, which then quits from inside: a quit() from here would
    // wake the thread through a descriptor that the ending thread may close without having read.
    static void end(QThread *thread, QObject *resident);
    // Waits for the end of a thread started by start(); when it ended, everything the thread did
    // is ordered before the caller's next steps.
    static bool wait(QThread *thread, unsigned long timeoutMs = ULONG_MAX);
};
