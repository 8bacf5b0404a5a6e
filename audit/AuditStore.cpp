#include "audit/AuditStore.h"

#include "audit/AuditSchema.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

namespace {

constexpr const char *kDefaultDatabase = "audit.db";
constexpr const char *kDatabaseVariable = "DLOG_DB";
// Audit records are evidence: only their owner reads or changes them.
constexpr mode_t kDatabaseMode = 0600;
// WAL keeps readers (the query tool) from blocking the client; FULL makes each stored event
// survive a power cut.
constexpr const char *kPragmas = "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;";

std::string databasePath()
{
    const char *path = std::getenv(kDatabaseVariable);
    return path && *path ? path : kDefaultDatabase;
}

// Creates the file with the owner-only mode before SQLite sees it (SQLite would use 0644 less
// the umask). SQLite gives its -wal and -shm files the mode of the database file.
bool createOwnerOnly(const std::string &path, std::string *why)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, kDatabaseMode);
    if (fd < 0) {
        *why = std::strerror(errno);
        return false;
    }
    ::close(fd);
    return true;
}

void bindText(sqlite3_stmt *statement, int index, const char *text)
{
    if (text)
        sqlite3_bind_text(statement, index, text, -1, SQLITE_STATIC);
    else
        sqlite3_bind_null(statement, index);
}

// Closes the connection when the library is unloaded or the process ends, so that the WAL is
// checkpointed into the database file.
struct ShutDownAtExit {
    ~ShutDownAtExit() { AuditStore::instance().shutDown(); }
} shutDownAtExit;

} // namespace

AuditStore &AuditStore::instance()
{
    // Never destroyed: a worker thread may still log while the process exits.
    static AuditStore *store = new AuditStore;
    return *store;
}

void AuditStore::write(const AuditRecord &record)
{
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_shutDown) {
        reportFailureLocked("the audit store is closed");
        return;
    }
    if (!m_db && !openLocked())
        return;
    if (!insertLocked(record)) {
        reportFailureLocked(sqlite3_errmsg(m_db));
        closeLocked();
        return;
    }
    reportRecoveryLocked();
}

void AuditStore::shutDown()
{
    std::lock_guard<std::mutex> lock(m_lock);
    closeLocked();
    m_shutDown = true;
}

bool AuditStore::openLocked()
{
    m_path = databasePath();
    std::string why;
    if (!createOwnerOnly(m_path, &why)) {
        reportFailureLocked(why);
        return false;
    }
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX;
    bool ok = sqlite3_open_v2(m_path.c_str(), &m_db, flags, nullptr) == SQLITE_OK
        && sqlite3_busy_timeout(m_db, AuditSchema::kBusyTimeoutMs) == SQLITE_OK
        && sqlite3_exec(m_db, kPragmas, nullptr, nullptr, nullptr) == SQLITE_OK
        && sqlite3_exec(m_db, AuditSchema::kCreate, nullptr, nullptr, nullptr) == SQLITE_OK
        && sqlite3_prepare_v2(m_db, AuditSchema::kInsert, -1, &m_insert, nullptr) == SQLITE_OK;
    if (!ok) {
        reportFailureLocked(m_db ? sqlite3_errmsg(m_db) : "out of memory");
        closeLocked();
    }
    return ok;
}

void AuditStore::closeLocked()
{
    sqlite3_finalize(m_insert);
    m_insert = nullptr;
    sqlite3_close(m_db);
    m_db = nullptr;
}

bool AuditStore::insertLocked(const AuditRecord &record)
{
    sqlite3_stmt *s = m_insert;
    sqlite3_bind_text(s, 1, record.timeUtc.c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_text(s, 2, record.timeLocal.c_str(), -1, SQLITE_STATIC);
    bindText(s, 3, record.gap);
    bindText(s, 4, record.category);
    bindText(s, 5, record.user);
    bindText(s, 6, record.operation);
    sqlite3_bind_int(s, 7, record.outcome);
    bindText(s, 8, record.detail);
    sqlite3_bind_int64(s, 9, record.pid);
    sqlite3_bind_int64(s, 10, record.thread);
    const bool stored = sqlite3_step(s) == SQLITE_DONE;
    sqlite3_reset(s);
    sqlite3_clear_bindings(s);
    return stored;
}

void AuditStore::reportFailureLocked(const std::string &why)
{
    if (m_failing)
        return;
    m_failing = true;
    std::fprintf(
        stderr, "dlog: audit events are being dropped: %s: %s\n", m_path.c_str(), why.c_str());
}

void AuditStore::reportRecoveryLocked()
{
    if (!m_failing)
        return;
    m_failing = false;
    std::fprintf(stderr, "dlog: audit events are stored again in %s\n", m_path.c_str());
}
