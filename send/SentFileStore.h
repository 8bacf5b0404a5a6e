#pragma once

#include "model/FileKey.h"

#include <QMutex>
#include <QString>
#include <QVector>
#include <functional>

struct sqlite3;
struct sqlite3_stmt;

// The keys of files that were sent and kept in their send directory (the keep setting on), so
// that a restart of the client does not send them again. One SQLite database in the working
// directory, owner-only, opened when first needed. A rule's keys are those of the files under its
// directory, so a rule that is changed but keeps its directory keeps them.
//
// Callers are the sending workers (add) and the scanner (load, remove), never the GUI thread.
// Every call runs under the store's own lock. A database that cannot be opened or read whole
// (corrupt, busy past its time-out, not a database) is set aside as "sentfiles.db.damaged" and a
// fresh one started: no partial set of keys is ever used. The user is told once (the reporter),
// as files kept after sending may then be sent again. A database that cannot be written is told
// once too; sending itself never depends on the store.
class SentFileStore
{
public:
    static SentFileStore &instance();

    // Where the database is; "config/sentfiles.db" in the working directory unless set. Closes
    // the connection to the previous one.
    void setLocation(const QString &path);

    // Receives what the user is to be told, once; it is called under the store's lock and must
    // neither block nor call the store. Without one, the log alone says it.
    using Reporter = std::function<void(const QString &text)>;
    void setReporter(Reporter reporter);

    // The keys stored for files under the directory; empty when nothing was ever stored, or when
    // the database could not be read whole (then it is set aside).
    QVector<FileKey> load(const QString &directory);
    void add(const FileKey &key);
    // Forgets the keys, in one transaction.
    void remove(const QVector<FileKey> &keys);

private:
    SentFileStore();

    bool openLocked(bool create);
    // One try; unreadable tells a database that is there but cannot be read from a directory
    // that cannot be written.
    bool tryOpenLocked(bool *unreadable);
    void closeLocked();
    bool runLocked(sqlite3_stmt *statement, const FileKey &key);
    void reportLocked(const QString &why);
    // Moves an unreadable database (and its journal) aside and says so.
    void setAsideLocked(const QString &why);
    void tellLocked(const QString &text);

    QMutex m_mutex;
    QString m_path;
    sqlite3 *m_db = nullptr;
    sqlite3_stmt *m_insert = nullptr;
    sqlite3_stmt *m_delete = nullptr;
    bool m_failing = false;
    bool m_told = false;
    QString m_openError;
    Reporter m_reporter;
};
