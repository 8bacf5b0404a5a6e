#pragma once

#include "audit/AuditEvent.h"
#include "audit/AuditFilter.h"

#include <QString>
#include <QVector>
#include <functional>
#include <memory>

struct sqlite3;
struct sqlite3_stmt;

// One page of a newest-first listing, and the id of the event stored last when it was read.
struct AuditPage {
    QVector<AuditEvent> events;
    qint64 lastId = 0;
};

// Reads events from an audit database, read-only: it never creates or changes the database, and
// the library goes on writing while it reads (WAL). gapaudit and the client's history page both
// list events through it, so that a filter means the same in both.
class AuditQuery
{
public:
    AuditQuery() = default;
    ~AuditQuery();
    AuditQuery(const AuditQuery &) = delete;
    AuditQuery &operator=(const AuditQuery &) = delete;

    // The database the library writes: $DLOG_DB, else audit.db in the working directory.
    static QString defaultDatabase();

    bool open(const QString &path);
    // Whether the last open failed because there is no database yet.
    bool missing() const { return m_missing; }

    // Oldest first, every event the filter lets through.
    bool forEach(const AuditFilter &filter, const std::function<void(const AuditEvent &)> &visit);
    // Newest first: at most limit events that follow `after` in that order (from the newest when
    // after.id is 0), read in one snapshot with the id of the event stored last. With
    // filter.afterId set and nothing stored since that event, the page is empty at once.
    bool newestFirst(
        const AuditFilter &filter, const AuditEvent &after, int limit, AuditPage *page);

    // While set, a running statement gives up as soon as this returns true, and the call fails
    // with cancelled() true.
    void setCancelCheck(std::function<bool()> cancelled);
    bool cancelled() const { return m_cancelled; }
    QString errorString() const { return m_error; }

private:
    using Statement = std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt *)>;

    Statement prepare(const QByteArray &sql, const QVector<QByteArray> &values);
    bool readEvents(sqlite3_stmt *statement, const std::function<void(const AuditEvent &)> &visit);
    bool readLastId(qint64 *id);
    bool readNewest(
        const AuditFilter &filter, const AuditEvent &after, int limit, QVector<AuditEvent> *events);
    bool fail(const char *what);
    static int progress(void *query);

    sqlite3 *m_db = nullptr;
    std::function<bool()> m_cancelCheck;
    bool m_cancelled = false;
    bool m_missing = false;
    QString m_error;
};
