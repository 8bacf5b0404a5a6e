#pragma once

#include <climits>

class QThread;

// Starting and ending a QThread that other threads post to and delete. QThread synchronises its
// start, its end and wait() inside Qt, out of ThreadSanitizer's sight; these hand the thread over
// explicitly (model/HandOver.h). Without ThreadSanitizer all they add is the wait for the start.
class ThreadHandOver
{
public:
    // Starts the thread and returns once it runs: what the thread set up for itself (its event
    // dispatcher among it) is ordered before whatever the caller then posts to it. Its end is
    // handed over to wait().
    static void start(QThread *thread);
    // Called before the last events that make a thread started by start() end (its quit(), the
    // deletion of its last object): what the caller did so far is ordered before the thread's end.
    static void end(QThread *thread);
    // Waits for the end of a thread started by start(); when it ended, everything the thread did
    // is ordered before the caller's next steps.
    static bool wait(QThread *thread, unsigned long timeoutMs = ULONG_MAX);
};
