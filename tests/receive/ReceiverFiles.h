#pragma once

// Contents and directory listings for the receiving tests.

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QStringList>

namespace ReceiverFiles {

inline QByteArray md5Of(const QByteArray &content)
{
    return QCryptographicHash::hash(content, QCryptographicHash::Md5).toHex().toUpper();
}

inline QByteArray contentOfSize(int size, int seed = 0)
{
    QByteArray content(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        content[i] = char((i * 131 + seed * 7 + 17) % 251);
    return content;
}

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Every file below a directory, hidden ones included, relative to it; links are not followed.
inline QStringList filesUnder(const QString &dir)
{
    QStringList files;
    QDirIterator it(dir, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(QDir(dir).relativeFilePath(it.next()));
    files.sort();
    return files;
}

// The part files among them.
inline QStringList partFilesUnder(const QString &dir)
{
    return filesUnder(dir).filter(
        QRegularExpression(QStringLiteral("(^|/)\\.gaprecv-\\d+\\.part$")));
}

} // namespace ReceiverFiles
