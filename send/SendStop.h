#pragma once

#include <atomic>

// What ends a sending worker early: a stop of its rule (sending switched off, the client closing)
// or a stop of its own file (the user's stop of its row). Both flags outlive the worker.
struct SendStop {
    const std::atomic<bool> &rule;
    const std::atomic<bool> &file;

    bool requested() const { return rule || file; }
};
