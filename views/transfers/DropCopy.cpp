#include "views/transfers/DropCopy.h"

#include "model/UniqueFd.h"
#include "receive/RecvPathResolver.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

const QByteArray DropCopy::kTemporaryPrefix = ".gapdrop-";

namespace {

constexpr qint64 kBlockBytes = 1 << 20;
constexpr mode_t kNewMode = 0666; // less the umask, as any program's new files
constexpr mode_t kNewFolderMode = 0777;

QByteArray joined(const QByteArray &directory, const QByteArray &name)
{
    return directory + '/' + name;
}

QString shown(const QByteArray &path) { return QFile::decodeName(path); }

// The names in a directory but "." and ".."; empty when it cannot be read.
QList<QByteArray> entriesOf(const QByteArray &path, bool *read)
{
    QList<QByteArray> names;
    const std::unique_ptr<DIR, int (*)(DIR *)> dir(::opendir(path.constData()), &::closedir);
    *read = dir != nullptr;
    if (!dir)
        return names;
    while (const dirent *entry = ::readdir(dir.get())) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..")
            names.append(name);
    }
    return names;
}

// Removes a file or a whole folder that this copy made.
void removeTree(const QByteArray &path)
{
    struct stat info {
    };
    if (::lstat(path.constData(), &info) != 0)
        return;
    if (S_ISDIR(info.st_mode)) {
        bool read = false;
        for (const QByteArray &name : entriesOf(path, &read))
            removeTree(joined(path, name));
        ::rmdir(path.constData());
    } else {
        ::unlink(path.constData());
    }
}

bool syncDirectory(const QByteArray &path)
{
    const UniqueFd dir(::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return dir.isValid() && ::fsync(dir.get()) == 0;
}

// Gives the entry the name unless the name is taken; false with errno EEXIST when it is.
bool renameNoReplace(const QByteArray &from, const QByteArray &to)
{
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL)
        return false;
    // A file system without RENAME_NOREPLACE: look first. Only a name taken in between could be
    // replaced, and only by another program.
    struct stat info {
    };
    if (::lstat(to.constData(), &info) == 0) {
        errno = EEXIST;
        return false;
    }
    return ::rename(from.constData(), to.constData()) == 0;
}

} // namespace

DropCopy::DropCopy(const QStringList &sources, const QString &directory)
    : m_sources(sources)
    , m_directory(directory)
{
}

DropCopy::Result DropCopy::run()
{
    Result result;
    if (!QFileInfo(m_directory).isDir()) {
        result.error = QStringLiteral("发送目录 %1 不存在").arg(m_directory);
        return result;
    }
    QStringList accepted;
    qint64 total = 0;
    for (const QString &source : m_sources) {
        if (refuses(source, &result))
            continue;
        accepted.append(source);
        total += sizeUnder(QFile::encodeName(source));
    }
    m_total = total;
    for (const QString &source : qAsConst(accepted)) {
        if (!copySource(source, &result))
            break;
    }
    return result;
}

bool DropCopy::copySource(const QString &source, Result *result)
{
    const QByteArray from = QFile::encodeName(QFileInfo(source).absoluteFilePath());
    struct stat info {
    };
    if (::lstat(from.constData(), &info) != 0 || !(S_ISREG(info.st_mode) || S_ISDIR(info.st_mode))) {
        result->skipped.append(QStringLiteral("%1（不是文件或文件夹）").arg(source));
        return true;
    }
    const QByteArray directory = QFile::encodeName(m_directory);
    const QByteArray temporary = kTemporaryPrefix
        + QByteArray::number(QRandomGenerator::global()->generate64(), 16);
    const QByteArray name = from.mid(from.lastIndexOf('/') + 1);
    const bool copied = copyEntry(from, joined(directory, temporary), result);
    if (!copied || m_cancelled || !place(temporary, name, result)) {
        removeTree(joined(directory, temporary));
        result->cancelled = m_cancelled;
        return false;
    }
    return true;
}

bool DropCopy::refuses(const QString &source, Result *result) const
{
    const QString canonical = QFileInfo(source).canonicalFilePath();
    const QString directory = QFileInfo(m_directory).canonicalFilePath();
    QString why;
    if (canonical.isEmpty())
        why = QStringLiteral("不存在");
    else if (canonical == directory || directory.startsWith(canonical + '/'))
        why = QStringLiteral("包含发送目录本身");
    else if (canonical.startsWith(directory + '/'))
        why = QStringLiteral("已在发送目录中");
    if (why.isEmpty())
        return false;
    result->skipped.append(QStringLiteral("%1（%2）").arg(source, why));
    return true;
}

bool DropCopy::copyEntry(const QByteArray &from, const QByteArray &to, Result *result)
{
    if (m_cancelled)
        return false;
    struct stat info {
    };
    if (::lstat(from.constData(), &info) != 0)
        return fail(result, QStringLiteral("读取 %1 失败").arg(shown(from)), errno);
    if (S_ISREG(info.st_mode))
        return copyFile(from, to, result);
    if (S_ISDIR(info.st_mode))
        return copyFolder(from, to, result);
    result->skipped.append(QStringLiteral("%1（不是文件或文件夹）").arg(shown(from)));
    return true;
}

bool DropCopy::copyFile(const QByteArray &from, const QByteArray &to, Result *result)
{
    const UniqueFd in(::open(from.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!in.isValid()) {
        // A file that cannot be read is left out; the rest still goes.
        result->skipped.append(QStringLiteral("%1（无法读取）").arg(shown(from)));
        return true;
    }
    const UniqueFd out(::open(to.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kNewMode));
    if (!out.isValid())
        return fail(result, QStringLiteral("写入 %1 失败").arg(m_directory), errno);
    QByteArray block(int(kBlockBytes), Qt::Uninitialized);
    for (;;) {
        if (m_cancelled)
            return false;
        const ssize_t read = ::read(in.get(), block.data(), size_t(block.size()));
        if (read < 0 && errno == EINTR)
            continue;
        if (read < 0)
            return fail(result, QStringLiteral("读取 %1 失败").arg(shown(from)), errno);
        if (read == 0)
            break;
        for (ssize_t written = 0; written < read;) {
            const ssize_t step = ::write(out.get(), block.constData() + written, size_t(read - written));
            if (step < 0 && errno == EINTR)
                continue;
            if (step < 0)
                return fail(result, QStringLiteral("写入 %1 失败").arg(m_directory), errno);
            written += step;
        }
        m_done += read;
    }
    // On disk before it takes its name: a sent copy is the file the user dropped.
    if (::fdatasync(out.get()) != 0)
        return fail(result, QStringLiteral("写入 %1 失败").arg(m_directory), errno);
    ++result->files;
    return true;
}

bool DropCopy::copyFolder(const QByteArray &from, const QByteArray &to, Result *result)
{
    if (::mkdir(to.constData(), kNewFolderMode) != 0)
        return fail(result, QStringLiteral("写入 %1 失败").arg(m_directory), errno);
    bool read = false;
    const QList<QByteArray> names = entriesOf(from, &read);
    if (!read) {
        result->skipped.append(QStringLiteral("%1（无法读取）").arg(shown(from)));
        return true;
    }
    for (const QByteArray &name : names) {
        if (!copyEntry(joined(from, name), joined(to, name), result))
            return false;
    }
    return syncDirectory(to) || fail(result, QStringLiteral("写入 %1 失败").arg(m_directory), errno);
}

bool DropCopy::place(const QByteArray &temporary, const QByteArray &name, Result *result)
{
    const QByteArray directory = QFile::encodeName(m_directory);
    const QDateTime now = QDateTime::currentDateTime();
    for (int attempt = 0; attempt < RecvPathResolver::kMaxNameAttempts; ++attempt) {
        const QByteArray candidate
            = attempt == 0 ? name : RecvPathResolver::stampedName(name, now, attempt);
        if (renameNoReplace(joined(directory, temporary), joined(directory, candidate))) {
            syncDirectory(directory);
            result->placed.append(QFile::decodeName(candidate));
            return true;
        }
        if (errno != EEXIST)
            return fail(result, QStringLiteral("放入 %1 失败").arg(m_directory), errno);
    }
    return fail(result, QStringLiteral("放入 %1 失败").arg(m_directory), EEXIST);
}

bool DropCopy::fail(Result *result, const QString &what, int error)
{
    result->error = QStringLiteral("%1：%2").arg(what, qt_error_string(error));
    return false;
}

qint64 DropCopy::sizeUnder(const QByteArray &path)
{
    struct stat info {
    };
    if (::lstat(path.constData(), &info) != 0)
        return 0;
    if (S_ISREG(info.st_mode))
        return info.st_size;
    if (!S_ISDIR(info.st_mode))
        return 0;
    qint64 size = 0;
    bool read = false;
    for (const QByteArray &name : entriesOf(path, &read))
        size += sizeUnder(joined(path, name));
    return size;
}
