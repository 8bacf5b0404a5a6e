#pragma once

// Helpers for the audit tests: where the built programs are, and reading the database with
// SQLite directly, independently of the code under test.

#include "audit/AuditSchema.h"

#include <QByteArray>
#include <QProcess>
#include <QStringList>
#include <QtDebug>
#include <QString>
#include <QVector>
#include <sqlite3.h>
#include <sys/stat.h>

namespace AuditTestSupport {

using Row = QVector<QByteArray>; // one result row; SQL NULL is a null QByteArray

inline QString builtFile(const char *name)
{
    return qEnvironmentVariable("GAP_BIN_DIR") + '/' + QLatin1String(name);
}

// Runs one statement and returns its rows; fails the calling test on error.
inline QVector<Row> query(const QString &database, const QByteArray &sql, QString *error)
{
    QVector<Row> rows;
    sqlite3 *db = nullptr;
    sqlite3_stmt *statement = nullptr;
    const QByteArray path = database.toLocal8Bit();
    if (sqlite3_open_v2(path.constData(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK
        || sqlite3_busy_timeout(db, 10000) != SQLITE_OK
        || sqlite3_prepare_v2(db, sql.constData(), -1, &statement, nullptr) != SQLITE_OK) {
        *error = QString::fromUtf8(sqlite3_errmsg(db));
        sqlite3_close(db);
        return rows;
    }
    int step;
    while ((step = sqlite3_step(statement)) == SQLITE_ROW) {
        Row row;
        for (int i = 0; i < sqlite3_column_count(statement); ++i) {
            const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(statement, i));
            row.append(text ? QByteArray(text, sqlite3_column_bytes(statement, i)) : QByteArray());
        }
        rows.append(row);
    }
    if (step != SQLITE_DONE)
        *error = QString::fromUtf8(sqlite3_errmsg(db));
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return rows;
}

// One event to store as the library would have, with a chosen time.
struct StoredEvent {
    QByteArray timeUtc;
    QByteArray category;
    QByteArray operation;
    int outcome;
    QByteArray detail;
    QByteArray gap = "10.0.0.1";
    QByteArray user = "张三";
};

// Creates an owner-only store with the library's layout holding the events, in order (event n
// has id n + 1); false with the reason on failure.
inline bool createStore(const QString &database, const QVector<StoredEvent> &events, QString *error)
{
    const QByteArray path = database.toLocal8Bit();
    sqlite3 *db = nullptr;
    sqlite3_stmt *insert = nullptr;
    bool ok = sqlite3_open(path.constData(), &db) == SQLITE_OK
        && ::chmod(path.constData(), 0600) == 0
        && sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr) == SQLITE_OK
        && sqlite3_exec(db, AuditSchema::kCreate, nullptr, nullptr, nullptr) == SQLITE_OK
        && sqlite3_prepare_v2(db, AuditSchema::kInsert, -1, &insert, nullptr) == SQLITE_OK;
    for (int i = 0; ok && i < events.size(); ++i) {
        const StoredEvent &e = events[i];
        const QByteArray texts[] = { e.timeUtc, e.timeUtc, e.gap, e.category, e.user, e.operation };
        for (int t = 0; t < int(std::size(texts)); ++t)
            sqlite3_bind_text(insert, t + 1, texts[t].constData(), texts[t].size(), SQLITE_STATIC);
        sqlite3_bind_int(insert, 7, e.outcome);
        sqlite3_bind_text(insert, 8, e.detail.constData(), e.detail.size(), SQLITE_STATIC);
        sqlite3_bind_int(insert, 9, 1);
        sqlite3_bind_int(insert, 10, 1);
        ok = sqlite3_step(insert) == SQLITE_DONE && sqlite3_reset(insert) == SQLITE_OK;
    }
    if (!ok)
        *error = QString::fromUtf8(db ? sqlite3_errmsg(db) : "out of memory");
    sqlite3_finalize(insert);
    sqlite3_close(db);
    return ok;
}

// What gapaudit prints for the database and arguments, in a time zone (empty: the test's own);
// empty, with a warning, when it fails.
inline QByteArray gapaudit(
    const QString &database, const QStringList &arguments, const QByteArray &zone = {})
{
    constexpr int kWaitMs = 120000;
    QProcess tool;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!zone.isEmpty())
        env.insert("TZ", zone);
    tool.setProcessEnvironment(env);
    tool.start(builtFile("gapaudit"), QStringList { "--db", database } + arguments);
    if (!tool.waitForFinished(kWaitMs) || tool.exitCode() != 0) {
        qWarning() << "gapaudit failed:" << tool.readAllStandardError();
        return {};
    }
    return tool.readAllStandardOutput();
}

inline mode_t fileMode(const QString &path)
{
    struct stat info {
    };
    return ::stat(path.toLocal8Bit().constData(), &info) == 0 ? info.st_mode & 0777 : 0;
}

} // namespace AuditTestSupport

// Rows of a query, failing the test when the query fails.
#define AUDIT_QUERY(rows, database, sql)                                                           \
    QString rows##Error;                                                                           \
    const QVector<AuditTestSupport::Row> rows                                                      \
        = AuditTestSupport::query(database, sql, &rows##Error);                                    \
    QVERIFY2(rows##Error.isEmpty(), qPrintable(rows##Error))
