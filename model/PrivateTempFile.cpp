#include "model/PrivateTempFile.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>

namespace PrivateTempFile {

QString preferredDirectory()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    const QFileInfo info(runtime);
    if (!runtime.isEmpty() && info.isAbsolute() && info.isDir())
        return runtime;
    return QDir::tempPath();
}

bool open(QTemporaryFile *file, const QString &stem)
{
    QStringList directories { preferredDirectory() };
    if (directories.first() != QDir::tempPath())
        directories << QDir::tempPath();
    for (const QString &directory : directories) {
        // QTemporaryFile creates the file exclusively, with owner-only permissions.
        file->setFileTemplate(QDir(directory).filePath(stem + QStringLiteral("-XXXXXX")));
        if (file->open())
            return true;
    }
    return false;
}

} // namespace PrivateTempFile
