#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <atomic>

// Copies files and folders into a send directory, to be sent: each under a hidden temporary name
// there (the scanner lists no hidden name), renamed to its own name only once it is whole and on
// disk, so that the scanner never takes part of one. A name already taken in the directory gives
// way to the stamped name a receiver would give it. Links, devices and the like are skipped, as
// is anything that lies in the directory already or holds it. The sources are never changed.
class DropCopy
{
public:
    struct Result {
        QStringList placed; // the names taken in the directory, one per source copied
        int files = 0; // regular files copied, those inside folders included
        QStringList skipped; // sources, or files inside them, left out, each with why
        QString error; // why the copy stopped; empty when it did not
        bool cancelled = false;
    };

    DropCopy(const QStringList &sources, const QString &directory);

    // Copies every source in turn; runs in any one thread. A source that fails leaves nothing in
    // the directory and stops the copy.
    Result run();
    // Any thread: run() stops soon and removes what it had begun.
    void cancel() { m_cancelled = true; }

    // Any thread, while run() works: the bytes of regular files to copy, and those copied.
    qint64 bytesTotal() const { return m_total; }
    qint64 bytesDone() const { return m_done; }

    // The prefix of the temporary names, which the scanner never lists.
    static const QByteArray kTemporaryPrefix;

private:
    bool copySource(const QString &source, Result *result);
    bool copyEntry(const QByteArray &from, const QByteArray &to, Result *result);
    bool copyFile(const QByteArray &from, const QByteArray &to, Result *result);
    bool copyFolder(const QByteArray &from, const QByteArray &to, Result *result);
    bool place(const QByteArray &temporary, const QByteArray &name, Result *result);
    bool refuses(const QString &source, Result *result) const;
    bool fail(Result *result, const QString &what, int error);
    static qint64 sizeUnder(const QByteArray &path);

    const QStringList m_sources;
    const QString m_directory;
    std::atomic<bool> m_cancelled { false };
    std::atomic<qint64> m_total { 0 };
    std::atomic<qint64> m_done { 0 };
};

Q_DECLARE_METATYPE(DropCopy::Result)
