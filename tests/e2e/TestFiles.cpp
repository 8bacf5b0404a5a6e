#include "TestFiles.h"

#include "receive/ReceiverFiles.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>

namespace TestFiles {

QByteArray contentOfSize(int size, int seed)
{
    QByteArray content(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        content[i] = char((qint64(i) * 151 + seed) % 253);
    return content;
}

QMap<QString, QByteArray> filesUnder(const QString &root)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(
        root, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            files.insert(QDir(root).relativeFilePath(path), file.readAll());
    }
    return files;
}

QStringList partFiles(const QString &root) { return ReceiverFiles::partFilesUnder(root); }

} // namespace TestFiles
