#pragma once

// Helpers for the audit tests: where the built programs are, and reading the database with
// SQLite directly, independently of the code under test.

#include <QByteArray>
#include <QString>
#include <QVector>
#include <sqlite3.h>

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

} // namespace AuditTestSupport

// Rows of a query, failing the test when the query fails.
#define AUDIT_QUERY(rows, database, sql)                                                           \
    QString rows##Error;                                                                           \
    const QVector<AuditTestSupport::Row> rows                                                      \
        = AuditTestSupport::query(database, sql, &rows##Error);                                    \
    QVERIFY2(rows##Error.isEmpty(), qPrintable(rows##Error))
