#pragma once

#include "model/FileKey.h"

#include <QMutex>
#include <QString>
#include <QVector>

struct sqlite3;
struct sqlite3_stmt;

// The keys of files that were sent and kept in their send directory (the keep setting on), so
// that a restart of the client does not send them again. One SQLite database in the working
// directory, owner-only, opened when first needed. A rule's keys are those of the files under its
// directory, so a rule that is changed but keeps its directory keeps them.
//
// Callers are the sending workers (add) and the scanner (load, remove), never the GUI thread.
// Every call runs under the store's own lock. A failure is logged once and the store goes on
// without the database: sending itself never depends on it.
class SentFileStore
{
public:
    static SentFileStore &instance();

    // Where the database is; "config/sentfiles.db" in the working directory unless set. Closes
    // the connection to the previous one.
    void setLocation(const QString &path);

    // The keys stored for files under the directory; empty when nothing was ever stored.
    QVector<FileKey> load(const QString &directory);
    void add(const FileKey &key);
    // Forgets the keys, in one transaction.
    void remove(const QVector<FileKey> &keys);

private:
    SentFileStore();

    bool openLocked(bool create);
    void closeLocked();
    bool runLocked(sqlite3_stmt *statement, const FileKey &key);
    void reportLocked(const QString &why);

    QMutex m_mutex;
    QString m_path;
    sqlite3 *m_db = nullptr;
    sqlite3_stmt *m_insert = nullptr;
    sqlite3_stmt *m_delete = nullptr;
    bool m_failing = false;
};
