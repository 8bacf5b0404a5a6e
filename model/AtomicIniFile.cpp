#include "model/AtomicIniFile.h"

#include <QFileInfo>
#include <QSettings>
#include <QTemporaryFile>
#include <QtDebug>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Qt closes its files without syncing them, and has no way to sync a directory: both are needed
// for a rename that survives a power cut, so these use the system's own calls.
bool syncPath(const QString &path, int flags)
{
    const int fd = ::open(QFile::encodeName(path).constData(), flags | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool synced = ::fsync(fd) == 0;
    return ::close(fd) == 0 && synced;
}

bool ownerOnly(const QString &path)
{
    return QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

} // namespace

bool AtomicIniFile::write(const QString &fileName, const std::function<void(QSettings &)> &fill)
{
    const QFileInfo target(fileName);
    // QTemporaryFile creates the file owner-only, before anything is in it.
    QTemporaryFile temporary(target.absolutePath() + QStringLiteral("/.") + target.fileName()
        + QStringLiteral(".XXXXXX"));
    if (!temporary.open())
        return false;
    temporary.close();
    QSettings::Status status;
    {
        QSettings settings(temporary.fileName(), QSettings::IniFormat);
        fill(settings);
        settings.sync();
        status = settings.status();
    }
    // The settings object may have put a file of its own in the temporary file's place.
    if (status != QSettings::NoError || !ownerOnly(temporary.fileName())
        || !syncPath(temporary.fileName(), O_RDONLY))
        return false;
    // QFile::rename never replaces an existing file; rename(2) does so in one step.
    if (std::rename(QFile::encodeName(temporary.fileName()).constData(),
            QFile::encodeName(target.absoluteFilePath()).constData())
        != 0)
        return false;
    temporary.setAutoRemove(false);
    if (!syncPath(target.absolutePath(), O_RDONLY | O_DIRECTORY))
        qWarning().noquote() << "cannot sync the directory of" << fileName;
    return true;
}
