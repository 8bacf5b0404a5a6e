#pragma once

#include <mutex>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

// One event as the library received it. Null texts stay null (SQL NULL).
struct AuditRecord {
    std::string timeUtc;
    std::string timeLocal;
    const char *gap = nullptr;
    const char *category = nullptr;
    const char *user = nullptr;
    const char *operation = nullptr;
    int outcome = 0;
    const char *detail = nullptr;
    long long pid = 0;
    long long thread = 0;
};

// The process's one connection to the audit database, opened on the first event. Every write
// runs under the store's own lock. A failure drops the event and is reported on stderr once,
// until an event is stored again; the next event tries again with a fresh connection.
class AuditStore
{
public:
    static AuditStore &instance();

    void write(const AuditRecord &record);

    // Closes the connection for good (at unload or exit); later events are dropped.
    void shutDown();

private:
    AuditStore() = default;

    bool openLocked();
    void closeLocked();
    bool insertLocked(const AuditRecord &record);
    void reportFailureLocked(const std::string &why);
    void reportRecoveryLocked();

    std::mutex m_lock;
    sqlite3 *m_db = nullptr;
    sqlite3_stmt *m_insert = nullptr;
    std::string m_path;
    bool m_failing = false;
    bool m_shutDown = false;
};
