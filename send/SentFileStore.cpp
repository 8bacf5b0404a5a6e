#include "send/SentFileStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtDebug>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>
#include <utility>

namespace {

const QString kDefaultLocation = QStringLiteral("config/sentfiles.db");
const char *const kDamagedSuffix = ".damaged";
// Which files were sent is the user's business only. SQLite gives its -wal and -shm files the
// mode of the database file.
constexpr mode_t kDatabaseMode = 0600;
constexpr int kBusyTimeoutMs = 5000;
// WAL: a key is stored without waiting for the disk; a power cut may lose the last few, which
// then sends their files once more, never loses one.
constexpr const char *kPragmas = "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;";
constexpr const char *kCreate = "CREATE TABLE IF NOT EXISTS sent_files("
                                "path TEXT NOT NULL, born_ns INTEGER NOT NULL, "
                                "inode INTEGER NOT NULL, PRIMARY KEY(path, born_ns, inode)) "
                                "WITHOUT ROWID;";
constexpr const char *kInsert
    = "INSERT OR IGNORE INTO sent_files(path, born_ns, inode) VALUES(?1, ?2, ?3);";
constexpr const char *kDelete
    = "DELETE FROM sent_files WHERE path = ?1 AND born_ns = ?2 AND inode = ?3;";
// The files under a directory: paths from "dir/" up to, not including, "dir0" ('0' follows '/').
constexpr const char *kSelectUnder
    = "SELECT path, born_ns, inode FROM sent_files WHERE path >= ?1 AND path < ?2;";

bool createOwnerOnly(const QString &path)
{
    QDir().mkpath(QFileInfo(path).path());
    const int fd
        = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, kDatabaseMode);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

void bindKey(sqlite3_stmt *statement, const QByteArray &path, const FileKey &key)
{
    sqlite3_bind_text(statement, 1, path.constData(), path.size(), SQLITE_STATIC);
    sqlite3_bind_int64(statement, 2, key.bornNs);
    sqlite3_bind_int64(statement, 3, sqlite3_int64(key.inode));
}

QString textColumn(sqlite3_stmt *statement, int column)
{
    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(statement, column));
    return QString::fromUtf8(text, sqlite3_column_bytes(statement, column));
}

} // namespace

SentFileStore &SentFileStore::instance()
{
    // Never destroyed: a worker may still record a file while the process exits. Without a
    // close, the next start replays the write-ahead log.
    static SentFileStore *store = new SentFileStore;
    return *store;
}

SentFileStore::SentFileStore()
    : m_path(kDefaultLocation)
{
}

void SentFileStore::setLocation(const QString &path)
{
    QMutexLocker lock(&m_mutex);
    closeLocked();
    m_path = path;
    m_failing = false;
    m_told = false;
}

QVector<FileKey> SentFileStore::load(const QString &directory)
{
    QMutexLocker lock(&m_mutex);
    QVector<FileKey> keys;
    if (!openLocked(false))
        return keys;
    const QString prefix = directory.endsWith('/') ? directory : directory + '/';
    const QByteArray from = prefix.toUtf8();
    QByteArray to = from;
    to[to.size() - 1] = '0';
    sqlite3_stmt *select = nullptr;
    if (sqlite3_prepare_v2(m_db, kSelectUnder, -1, &select, nullptr) != SQLITE_OK) {
        setAsideLocked(QString::fromUtf8(sqlite3_errmsg(m_db)));
        return keys;
    }
    sqlite3_bind_text(select, 1, from.constData(), from.size(), SQLITE_STATIC);
    sqlite3_bind_text(select, 2, to.constData(), to.size(), SQLITE_STATIC);
    int step = SQLITE_ROW;
    while ((step = sqlite3_step(select)) == SQLITE_ROW) {
        keys.append({ textColumn(select, 0), sqlite3_column_int64(select, 1),
            quint64(sqlite3_column_int64(select, 2)) });
    }
    sqlite3_finalize(select);
    if (step != SQLITE_DONE) {
        // Part of the keys is no set of keys: files the rest would have held back go again.
        setAsideLocked(QString::fromUtf8(sqlite3_errstr(step)));
        keys.clear();
    }
    return keys;
}

void SentFileStore::add(const FileKey &key)
{
    QMutexLocker lock(&m_mutex);
    if (openLocked(true) && !runLocked(m_insert, key))
        reportLocked(QString::fromUtf8(sqlite3_errmsg(m_db)));
}

void SentFileStore::remove(const QVector<FileKey> &keys)
{
    if (keys.isEmpty())
        return;
    QMutexLocker lock(&m_mutex);
    if (!openLocked(false))
        return;
    bool ok = sqlite3_exec(m_db, "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK;
    for (const FileKey &key : keys)
        ok = ok && runLocked(m_delete, key);
    ok = sqlite3_exec(m_db, ok ? "COMMIT" : "ROLLBACK", nullptr, nullptr, nullptr) == SQLITE_OK
        && ok;
    if (!ok)
        reportLocked(QString::fromUtf8(sqlite3_errmsg(m_db)));
}

// Without create, a database that does not exist yet is left so: there is nothing to read.
bool SentFileStore::openLocked(bool create)
{
    if (m_db)
        return true;
    if (!create && !QFileInfo::exists(m_path))
        return false;
    bool unreadable = false;
    if (tryOpenLocked(&unreadable))
        return true;
    if (!unreadable)
        return false;
    // Corrupt, not a database, or busy past the time-out: a fresh database takes its place, once.
    setAsideLocked(m_openError);
    return tryOpenLocked(&unreadable);
}

bool SentFileStore::tryOpenLocked(bool *unreadable)
{
    if (!createOwnerOnly(m_path)) {
        reportLocked(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    const QByteArray path = QFile::encodeName(m_path);
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX;
    const bool ok = sqlite3_open_v2(path.constData(), &m_db, flags, nullptr) == SQLITE_OK
        && sqlite3_busy_timeout(m_db, kBusyTimeoutMs) == SQLITE_OK
        && sqlite3_exec(m_db, kPragmas, nullptr, nullptr, nullptr) == SQLITE_OK
        && sqlite3_exec(m_db, kCreate, nullptr, nullptr, nullptr) == SQLITE_OK
        && sqlite3_prepare_v2(m_db, kInsert, -1, &m_insert, nullptr) == SQLITE_OK
        && sqlite3_prepare_v2(m_db, kDelete, -1, &m_delete, nullptr) == SQLITE_OK;
    if (!ok) {
        m_openError = m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QStringLiteral("no memory");
        *unreadable = m_db && sqlite3_errcode(m_db) != SQLITE_CANTOPEN
            && sqlite3_errcode(m_db) != SQLITE_READONLY;
        closeLocked();
        if (!*unreadable)
            reportLocked(m_openError);
    }
    return ok;
}

void SentFileStore::closeLocked()
{
    sqlite3_finalize(m_insert);
    sqlite3_finalize(m_delete);
    m_insert = nullptr;
    m_delete = nullptr;
    sqlite3_close(m_db);
    m_db = nullptr;
}

bool SentFileStore::runLocked(sqlite3_stmt *statement, const FileKey &key)
{
    const QByteArray path = key.path.toUtf8();
    bindKey(statement, path, key);
    const bool done = sqlite3_step(statement) == SQLITE_DONE;
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    return done;
}

void SentFileStore::setReporter(Reporter reporter)
{
    QMutexLocker lock(&m_mutex);
    m_reporter = std::move(reporter);
}

void SentFileStore::reportLocked(const QString &why)
{
    if (m_failing)
        return;
    m_failing = true;
    tellLocked(QStringLiteral("已发送文件记录无法保存，重启后保留的已发送文件可能再次发送：")
        + m_path + QStringLiteral("（") + why + QStringLiteral("）"));
}

void SentFileStore::setAsideLocked(const QString &why)
{
    closeLocked();
    const QString damaged = m_path + QLatin1String(kDamagedSuffix);
    for (const char *part : { "", "-wal", "-shm" }) {
        QFile::remove(damaged + QLatin1String(part));
        QFile::rename(m_path + QLatin1String(part), damaged + QLatin1String(part));
    }
    tellLocked(QStringLiteral("已发送文件记录无法读取，已另存为 ") + damaged + QStringLiteral("（")
        + why + QStringLiteral("）。保留在发送目录中的已发送文件可能会再次发送。"));
}

void SentFileStore::tellLocked(const QString &text)
{
    qWarning().noquote() << text;
    if (std::exchange(m_told, true))
        return;
    if (m_reporter)
        m_reporter(text);
}
