#include "audit/dlog.h"

#include "audit/AuditStore.h"

#include <cstdio>
#include <ctime>
#include <string>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// The address belongs to the calling thread, so that a sending and a receiving worker whose
// triples overlap each keep their own gap.
thread_local std::string currentGap;
thread_local bool hasGap = false;

constexpr long kNanosPerMilli = 1000000;
constexpr long kSecondsPerMinute = 60;
constexpr long kMinutesPerHour = 60;

// "2026-05-01T08:30:00.123Z"
std::string formatUtc(const timespec &now)
{
    tm utc {};
    gmtime_r(&now.tv_sec, &utc);
    char text[40];
    const size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text + n, sizeof text - n, ".%03ldZ", now.tv_nsec / kNanosPerMilli);
    return text;
}

// "2026-05-01T16:30:00.123+08:00"
std::string formatLocal(const timespec &now)
{
    tm local {};
    localtime_r(&now.tv_sec, &local);
    char text[48];
    const size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    const long offsetMinutes = local.tm_gmtoff / kSecondsPerMinute;
    const long absMinutes = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
    std::snprintf(text + n, sizeof text - n, ".%03ld%c%02ld:%02ld", now.tv_nsec / kNanosPerMilli,
        offsetMinutes < 0 ? '-' : '+', absMinutes / kMinutesPerHour, absMinutes % kMinutesPerHour);
    return text;
}

} // namespace

extern "C" {

void dlog_init(const char *gapAddress)
{
    try {
        hasGap = gapAddress != nullptr;
        currentGap = hasGap ? gapAddress : "";
    } catch (...) {
        hasGap = false;
    }
}

void dlog(const char *category, const char *user, const char *operation, int outcome,
    const char *detail, ...)
{
    // The caller must never fail because of its audit trail; out of memory drops the event.
    try {
        timespec now {};
        clock_gettime(CLOCK_REALTIME, &now);
        AuditRecord record;
        record.timeUtc = formatUtc(now);
        record.timeLocal = formatLocal(now);
        record.gap = hasGap ? currentGap.c_str() : nullptr;
        record.category = category;
        record.user = user;
        record.operation = operation;
        record.outcome = outcome;
        record.detail = detail;
        record.pid = getpid();
        record.thread = syscall(SYS_gettid);
        AuditStore::instance().write(record);
    } catch (...) {
        std::fputs("dlog: out of memory, an audit event is dropped\n", stderr);
    }
}

void dlog_destroy(void)
{
    hasGap = false;
    currentGap.clear();
}

} // extern "C"
