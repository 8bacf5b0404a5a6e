#include "ReceiveFaults.h"

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <mutex>
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::atomic<bool> g_noUnnamedFiles { false };
std::atomic<bool> g_directorySyncRefused { false };
std::atomic<bool> g_locksRefused { false };
std::atomic<int> g_threadFailures { 0 };
std::atomic<int> g_dataSyncFailures { 0 };

// Takes one of the failures left in counter, if there is one.
bool takeFailure(std::atomic<int> &counter)
{
    for (int left = counter; left > 0;) {
        if (counter.compare_exchange_weak(left, left - 1))
            return true;
    }
    return false;
}

std::mutex g_traceMutex;
bool g_tracing = false;
std::string g_trace;

void record(const char *call)
{
    const std::lock_guard<std::mutex> lock(g_traceMutex);
    if (!g_tracing)
        return;
    if (!g_trace.empty())
        g_trace += ',';
    g_trace += call;
}

bool listed(const char *list, const char *fault)
{
    const size_t length = std::strlen(fault);
    for (const char *at = list; (at = std::strstr(at, fault)); at += length) {
        const bool starts = at == list || at[-1] == ',';
        if (starts && (at[length] == '\0' || at[length] == ','))
            return true;
    }
    return false;
}

__attribute__((constructor)) void takeFaultsFromEnvironment()
{
    const char *faults = std::getenv("GAP_FAULTS");
    if (!faults)
        return;
    g_noUnnamedFiles = listed(faults, "no-tmpfile");
    g_directorySyncRefused = listed(faults, "dir-fsync-einval");
    g_locksRefused = listed(faults, "no-locks");
}

template <typename Function> Function next(const char *name)
{
    return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

bool takesMode(int flags) { return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE; }

} // namespace

namespace ReceiveFaults {

void setNoUnnamedFiles(bool on) { g_noUnnamedFiles = on; }
void setDirectorySyncRefused(bool on) { g_directorySyncRefused = on; }
void setLocksRefused(bool on) { g_locksRefused = on; }
void failThreadStarts(int count) { g_threadFailures = count; }

void failDataSyncs(int count) { g_dataSyncFailures = count; }

void startTrace()
{
    const std::lock_guard<std::mutex> lock(g_traceMutex);
    g_tracing = true;
    g_trace.clear();
}

void mark(const char *what) { record(what); }

std::string trace()
{
    const std::lock_guard<std::mutex> lock(g_traceMutex);
    return g_trace;
}

} // namespace ReceiveFaults

extern "C" {

int openat(int dirFd, const char *path, int flags, ...)
{
    mode_t mode = 0;
    if (takesMode(flags)) {
        va_list arguments;
        va_start(arguments, flags);
        mode = mode_t(va_arg(arguments, int));
        va_end(arguments);
    }
    if (g_noUnnamedFiles && (flags & O_TMPFILE) == O_TMPFILE) {
        errno = EOPNOTSUPP;
        return -1;
    }
    static const auto real = next<int (*)(int, const char *, int, ...)>("openat");
    return real(dirFd, path, flags, mode);
}

// The same call on 64-bit Linux, where files are large anyway.
int openat64(int dirFd, const char *path, int flags, ...) __attribute__((alias("openat")));

int fsync(int fd)
{
    struct stat what {
    };
    const bool directory = ::fstat(fd, &what) == 0 && S_ISDIR(what.st_mode);
    record(directory ? "fsync dir" : "fsync");
    if (g_directorySyncRefused && directory) {
        errno = EINVAL;
        return -1;
    }
    static const auto real = next<int (*)(int)>("fsync");
    return real(fd);
}

int fdatasync(int fd)
{
    record("fdatasync");
    if (takeFailure(g_dataSyncFailures)) {
        errno = EIO;
        return -1;
    }
    static const auto real = next<int (*)(int)>("fdatasync");
    return real(fd);
}

int linkat(int fromDirFd, const char *from, int toDirFd, const char *to, int flags) noexcept
{
    record("linkat");
    static const auto real = next<int (*)(int, const char *, int, const char *, int)>("linkat");
    return real(fromDirFd, from, toDirFd, to, flags);
}

int renameat2(
    int fromDirFd, const char *from, int toDirFd, const char *to, unsigned int flags) noexcept
{
    record("renameat2");
    using Rename = int (*)(int, const char *, int, const char *, unsigned int);
    static const auto real = next<Rename>("renameat2");
    return real(fromDirFd, from, toDirFd, to, flags);
}

int flock(int fd, int operation) noexcept
{
    if (g_locksRefused) {
        errno = ENOLCK;
        return -1;
    }
    static const auto real = next<int (*)(int, int)>("flock");
    return real(fd, operation);
}

int pthread_create(pthread_t *thread, const pthread_attr_t *attributes, void *(*start)(void *),
    void *argument) noexcept
{
    if (takeFailure(g_threadFailures))
        return EAGAIN;
    using Create = int (*)(pthread_t *, const pthread_attr_t *, void *(*)(void *), void *);
    static const auto real = next<Create>("pthread_create");
    return real(thread, attributes, start, argument);
}

} // extern "C"
