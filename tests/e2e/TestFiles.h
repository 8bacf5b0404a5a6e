#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

// Files of the end-to-end tests: contents to send and what a directory holds.
namespace TestFiles {

// Bytes of the given size that differ with the seed and repeat only every 253 bytes.
QByteArray contentOfSize(int size, int seed);
// Everything under a directory by path relative to it, hidden files included.
QMap<QString, QByteArray> filesUnder(const QString &root);
// The part files the receiver writes into before a file takes its name, where the file system
// holds no unnamed files.
QStringList partFiles(const QString &root);

} // namespace TestFiles
