#pragma once

#include "audit/AuditEvent.h"

#include <QByteArray>
#include <QString>
#include <functional>

struct sqlite3;

// Which events to list. Empty texts do not filter.
struct AuditFilter {
    enum Outcome { AnyOutcome, Success, Failure };

    QByteArray sinceUtc; // first time included, as stored ("...Z")
    QByteArray beforeUtc; // first time excluded
    QByteArray untilUtc; // last time included
    QByteArray category;
    QByteArray user;
    QByteArray gap;
    Outcome outcome = AnyOutcome;
};

// Reads events from an audit database, read-only, oldest first.
class AuditQuery
{
public:
    AuditQuery() = default;
    ~AuditQuery();
    AuditQuery(const AuditQuery &) = delete;
    AuditQuery &operator=(const AuditQuery &) = delete;

    bool open(const QString &path);
    bool forEach(const AuditFilter &filter, const std::function<void(const AuditEvent &)> &visit);
    QString errorString() const { return m_error; }

private:
    sqlite3 *m_db = nullptr;
    QString m_error;
};
