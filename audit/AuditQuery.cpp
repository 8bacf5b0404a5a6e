#include "audit/AuditQuery.h"

#include "audit/AuditSchema.h"

#include <QFile>
#include <QStringList>
#include <QVector>
#include <memory>
#include <sqlite3.h>

namespace {

using Statement = std::unique_ptr<sqlite3_stmt, decltype(&sqlite3_finalize)>;

QByteArray columnText(sqlite3_stmt *statement, int column)
{
    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(statement, column));
    if (!text)
        return {};
    return QByteArray(text, sqlite3_column_bytes(statement, column));
}

AuditEvent readEvent(sqlite3_stmt *s)
{
    AuditEvent event;
    event.id = sqlite3_column_int64(s, 0);
    event.timeUtc = columnText(s, 1);
    event.timeLocal = columnText(s, 2);
    event.gap = columnText(s, 3);
    event.category = columnText(s, 4);
    event.user = columnText(s, 5);
    event.operation = columnText(s, 6);
    event.outcome = sqlite3_column_int(s, 7);
    event.detail = columnText(s, 8);
    event.pid = sqlite3_column_int64(s, 9);
    event.thread = sqlite3_column_int64(s, 10);
    return event;
}

// The WHERE clause for the filter and the texts to bind to its placeholders, in order.
QByteArray whereClause(const AuditFilter &filter, QVector<QByteArray> *values)
{
    QList<QByteArray> terms;
    const auto add = [&](const QByteArray &value, const char *term) {
        if (value.isEmpty())
            return;
        terms.append(term);
        values->append(value);
    };
    add(filter.sinceUtc, "time_utc >= ?");
    add(filter.beforeUtc, "time_utc < ?");
    add(filter.untilUtc, "time_utc <= ?");
    add(filter.category, "category = ?");
    add(filter.user, "user = ?");
    add(filter.gap, "gap = ?");
    if (filter.outcome == AuditFilter::Success)
        terms.append("outcome = 1");
    else if (filter.outcome == AuditFilter::Failure)
        terms.append("outcome <> 1"); // anything but success needs an auditor's look
    return terms.isEmpty() ? QByteArray() : " WHERE " + terms.join(" AND ");
}

} // namespace

AuditQuery::~AuditQuery() { sqlite3_close(m_db); }

bool AuditQuery::open(const QString &path)
{
    // SQLite would create a missing file; a reader must say that there is none instead.
    if (!QFile::exists(path)) {
        m_error = QStringLiteral("no audit database at %1").arg(path);
        return false;
    }
    const QByteArray name = QFile::encodeName(path);
    if (sqlite3_open_v2(name.constData(), &m_db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK
        || sqlite3_busy_timeout(m_db, AuditSchema::kBusyTimeoutMs) != SQLITE_OK) {
        m_error = QStringLiteral("cannot open %1: %2")
                      .arg(path, QString::fromUtf8(m_db ? sqlite3_errmsg(m_db) : "out of memory"));
        return false;
    }
    return true;
}

bool AuditQuery::forEach(
    const AuditFilter &filter, const std::function<void(const AuditEvent &)> &visit)
{
    QVector<QByteArray> values;
    const QByteArray sql = QByteArray("SELECT ") + AuditSchema::kColumns + " FROM events"
        + whereClause(filter, &values) + " ORDER BY time_utc, id";
    sqlite3_stmt *raw = nullptr;
    const int prepared = sqlite3_prepare_v2(m_db, sql.constData(), -1, &raw, nullptr);
    Statement statement(raw, &sqlite3_finalize);
    if (prepared != SQLITE_OK) {
        m_error = QStringLiteral("cannot read events: %1").arg(sqlite3_errmsg(m_db));
        return false;
    }
    for (int i = 0; i < values.size(); ++i)
        sqlite3_bind_text(raw, i + 1, values[i].constData(), values[i].size(), SQLITE_STATIC);
    int step;
    while ((step = sqlite3_step(raw)) == SQLITE_ROW)
        visit(readEvent(raw));
    if (step != SQLITE_DONE) {
        m_error = QStringLiteral("reading events failed: %1").arg(sqlite3_errmsg(m_db));
        return false;
    }
    return true;
}
