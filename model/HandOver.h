#pragma once

// Hand-overs between threads that ThreadSanitizer cannot see, because Qt makes them inside its own
// uninstrumented code: a thread's end observed through QThread::wait() or its finished signal, an
// answer returned through a blocking queued call. The thread that hands over calls release() after
// its last access to what it hands over; the thread that takes over calls acquire() before its
// first. Both do nothing unless the build uses ThreadSanitizer.

#if defined(__SANITIZE_THREAD__)
#define GAP_TSAN_BUILD 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define GAP_TSAN_BUILD 1
#endif
#endif

#ifdef GAP_TSAN_BUILD
extern "C" void __tsan_acquire(void *addr);
extern "C" void __tsan_release(void *addr);
#endif

namespace HandOver {

inline void release(const void *token)
{
#ifdef GAP_TSAN_BUILD
    __tsan_release(const_cast<void *>(token));
#else
    (void)token;
#endif
}

inline void acquire(const void *token)
{
#ifdef GAP_TSAN_BUILD
    __tsan_acquire(const_cast<void *>(token));
#else
    (void)token;
#endif
}

// The last member of a plain type that crosses threads as a queued signal's argument. Qt copies
// the argument in the emitting thread; the copy's mark is copied last and releases, so the slot
// that calls taken() on it before reading sees every member. Empty unless ThreadSanitizer is on.
struct Mark {
    Mark() = default;
    Mark(const Mark &) { release(this); }
    Mark &operator=(const Mark &)
    {
        release(this);
        return *this;
    }
    void taken() const { acquire(this); }
};

} // namespace HandOver
