#pragma once

// The audit database's layout, shared by the library that writes it and the readers (gapaudit,
// the client's history page). Times are text: UTC as "yyyy-MM-ddThh:mm:ss.zzzZ" (so that text order
// is time order) and the writer's local time with its offset.
namespace AuditSchema {

constexpr const char *kCreate = "CREATE TABLE IF NOT EXISTS events ("
                                "id INTEGER PRIMARY KEY AUTOINCREMENT,"
                                "time_utc TEXT NOT NULL,"
                                "time_local TEXT NOT NULL,"
                                "gap TEXT,"
                                "category TEXT,"
                                "user TEXT,"
                                "operation TEXT,"
                                "outcome INTEGER NOT NULL,"
                                "detail TEXT,"
                                "pid INTEGER NOT NULL,"
                                "thread INTEGER NOT NULL);"
                                "CREATE INDEX IF NOT EXISTS events_time ON events(time_utc);"
                                // Readers list one kind of event newest first; they never
                                // write, so the library creates the index (an older store gains
                                // it at its next open).
                                "CREATE INDEX IF NOT EXISTS events_kind_time"
                                " ON events(category, operation, time_utc);";

constexpr const char *kInsert = "INSERT INTO events (time_utc, time_local, gap, category, user,"
                                " operation, outcome, detail, pid, thread)"
                                " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";

// Every column in table order, for readers.
constexpr const char *kColumns
    = "id, time_utc, time_local, gap, category, user, operation, outcome, detail, pid, thread";

// Writers wait this long for a reader or another writer before giving up on an event.
constexpr int kBusyTimeoutMs = 5000;

} // namespace AuditSchema
