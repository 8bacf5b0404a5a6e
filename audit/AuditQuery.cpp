#include "audit/AuditQuery.h"

#include "audit/AuditOutcome.h"
#include "audit/AuditSchema.h"

#include <QFile>
#include <QList>
#include <sqlite3.h>

namespace {

constexpr const char *kDefaultDatabase = "audit.db";
constexpr const char *kDatabaseVariable = "DLOG_DB";
// Virtual machine steps between two looks at the cancel check: often enough to give up within a
// millisecond, rarely enough to cost nothing.
constexpr int kProgressSteps = 4000;
constexpr char kLikeEscape = '\\';
// The SQL function that gives an event's outcome in the client's vocabulary, as a number of
// TransferOutcome::Kind, from its category, operation, flag and detail.
constexpr const char *kOutcomeFunction = "gap_outcome";
constexpr int kOutcomeArguments = 4;
constexpr const char *kOutcomeTerm = "gap_outcome(category, operation, outcome, detail) = ";

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

// "%text%" for LIKE, with the text's own wildcards taken literally.
QByteArray containsPattern(const QString &text)
{
    QByteArray escaped;
    for (const char c : text.toUtf8()) {
        if (c == '%' || c == '_' || c == kLikeEscape)
            escaped += kLikeEscape;
        escaped += c;
    }
    return '%' + escaped + '%';
}

int vocabularyOutcome(AuditFilter::Outcome outcome)
{
    switch (outcome) {
    case AuditFilter::Refused:
        return TransferOutcome::Refused;
    case AuditFilter::Waiting:
        return TransferOutcome::Waiting;
    default:
        return TransferOutcome::Failed;
    }
}

QByteArray argumentText(sqlite3_value *value)
{
    const auto *text = reinterpret_cast<const char *>(sqlite3_value_text(value));
    return text ? QByteArray(text, sqlite3_value_bytes(value)) : QByteArray();
}

void outcomeOfRow(sqlite3_context *context, int, sqlite3_value **arguments)
{
    AuditEvent event;
    event.category = argumentText(arguments[0]);
    event.operation = argumentText(arguments[1]);
    event.outcome = sqlite3_value_int(arguments[2]);
    event.detail = argumentText(arguments[3]);
    sqlite3_result_int(context, AuditOutcome::of(event));
}

// The filter's conditions, and the texts to bind to their placeholders, in order.
QList<QByteArray> conditions(const AuditFilter &filter, QVector<QByteArray> *values)
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
    const AuditKindSignature kind = auditKindSignature(filter.kind);
    if (kind.category) {
        add(kind.category, "category = ?");
        add(kind.operation, "operation = ?");
    }
    if (filter.outcome == AuditFilter::Success)
        terms.append("outcome = 1");
    else if (filter.outcome == AuditFilter::Failure)
        terms.append("outcome <> 1"); // anything but success needs an auditor's look
    else if (filter.outcome != AuditFilter::AnyOutcome)
        terms.append(kOutcomeTerm + QByteArray::number(vocabularyOutcome(filter.outcome)));
    if (!filter.search.isEmpty())
        add(containsPattern(filter.search), "detail LIKE ? ESCAPE '\\'");
    if (filter.afterId > 0)
        terms.append("id > " + QByteArray::number(filter.afterId));
    return terms;
}

QByteArray whereClause(const QList<QByteArray> &terms)
{
    return terms.isEmpty() ? QByteArray() : " WHERE " + terms.join(" AND ");
}

} // namespace

AuditQuery::~AuditQuery() { sqlite3_close(m_db); }

QString AuditQuery::defaultDatabase()
{
    const QString chosen = qEnvironmentVariable(kDatabaseVariable);
    return chosen.isEmpty() ? QString::fromLatin1(kDefaultDatabase) : chosen;
}

bool AuditQuery::open(const QString &path)
{
    // SQLite would create a missing file; a reader must say that there is none instead.
    m_missing = !QFile::exists(path);
    if (m_missing) {
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
    sqlite3_progress_handler(m_db, kProgressSteps, &AuditQuery::progress, this);
    if (sqlite3_create_function_v2(m_db, kOutcomeFunction, kOutcomeArguments,
            SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, &outcomeOfRow, nullptr, nullptr, nullptr)
        != SQLITE_OK) {
        m_error = QStringLiteral("cannot open %1: %2").arg(path, QString::fromUtf8(sqlite3_errmsg(m_db)));
        return false;
    }
    return true;
}

bool AuditQuery::forEach(
    const AuditFilter &filter, const std::function<void(const AuditEvent &)> &visit)
{
    QVector<QByteArray> values;
    const QByteArray sql = QByteArray("SELECT ") + AuditSchema::kColumns + " FROM events"
        + whereClause(conditions(filter, &values)) + " ORDER BY time_utc, id";
    const Statement statement = prepare(sql, values);
    return statement && readEvents(statement.get(), visit);
}

bool AuditQuery::newestFirst(
    const AuditFilter &filter, const AuditEvent &after, int limit, AuditPage *page)
{
    // One read transaction, so that the last id and the page come from the same snapshot: an
    // event stored in between is neither missed nor listed twice by the next look for news.
    if (sqlite3_exec(m_db, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK)
        return fail("cannot read events");
    page->events.clear();
    bool read = readLastId(&page->lastId);
    const bool nothingNew = filter.afterId > 0 && page->lastId <= filter.afterId;
    if (read && !nothingNew)
        read = readNewest(filter, after, limit, &page->events);
    sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr);
    return read;
}

void AuditQuery::setCancelCheck(std::function<bool()> cancelled)
{
    m_cancelCheck = std::move(cancelled);
}

AuditQuery::Statement AuditQuery::prepare(const QByteArray &sql, const QVector<QByteArray> &values)
{
    m_error.clear();
    Statement statement(nullptr, &sqlite3_finalize);
    // Also before a statement starts: a short one might never reach the progress handler.
    m_cancelled = m_cancelCheck && m_cancelCheck();
    if (m_cancelled) {
        m_error = QStringLiteral("cancelled");
        return statement;
    }
    sqlite3_stmt *raw = nullptr;
    if (sqlite3_prepare_v2(m_db, sql.constData(), -1, &raw, nullptr) != SQLITE_OK) {
        fail("cannot read events");
        return statement;
    }
    statement.reset(raw);
    for (int i = 0; i < values.size(); ++i)
        sqlite3_bind_text(raw, i + 1, values[i].constData(), values[i].size(), SQLITE_STATIC);
    return statement;
}

bool AuditQuery::readEvents(
    sqlite3_stmt *statement, const std::function<void(const AuditEvent &)> &visit)
{
    int step;
    while ((step = sqlite3_step(statement)) == SQLITE_ROW)
        visit(readEvent(statement));
    if (step != SQLITE_DONE)
        return fail("reading events failed");
    return true;
}

bool AuditQuery::readLastId(qint64 *id)
{
    const Statement statement = prepare("SELECT max(id) FROM events", {});
    if (!statement)
        return false;
    *id = 0;
    const int step = sqlite3_step(statement.get());
    if (step == SQLITE_ROW)
        *id = sqlite3_column_int64(statement.get(), 0);
    else if (step != SQLITE_DONE)
        return fail("reading events failed");
    return true;
}

bool AuditQuery::readNewest(
    const AuditFilter &filter, const AuditEvent &after, int limit, QVector<AuditEvent> *events)
{
    QVector<QByteArray> values;
    QList<QByteArray> terms = conditions(filter, &values);
    if (after.id > 0) {
        terms.append("(time_utc, id) < (?, " + QByteArray::number(after.id) + ')');
        values.append(after.timeUtc);
    }
    // Events stored since a known id are few and found by id: no index would do better, and one
    // chosen for another condition would walk the whole store.
    const char *source = filter.afterId > 0 ? " FROM events NOT INDEXED" : " FROM events";
    const QByteArray sql = QByteArray("SELECT ") + AuditSchema::kColumns + source
        + whereClause(terms) + " ORDER BY time_utc DESC, id DESC LIMIT "
        + QByteArray::number(limit);
    const Statement statement = prepare(sql, values);
    return statement
        && readEvents(statement.get(), [events](const AuditEvent &e) { events->append(e); });
}

bool AuditQuery::fail(const char *what)
{
    m_cancelled = sqlite3_errcode(m_db) == SQLITE_INTERRUPT;
    m_error = QStringLiteral("%1: %2").arg(
        QLatin1String(what), QString::fromUtf8(sqlite3_errmsg(m_db)));
    return false;
}

int AuditQuery::progress(void *query)
{
    const auto *self = static_cast<AuditQuery *>(query);
    return self->m_cancelCheck && self->m_cancelCheck() ? 1 : 0;
}
