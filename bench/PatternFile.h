#pragma once

#include <QByteArray>
#include <QString>

// A file whose content is one block of pseudo-random payloads repeated, so that a file of any
// size is written, sent or checked without holding it in memory. Its digest is known before it
// exists anywhere.
struct PatternFile {
    static constexpr int kBlockPayloads = 100; // one burst of data packets

    QByteArray name; // the relative path it is sent or written under
    qint64 size = 0;
    QByteArray block; // kBlockPayloads payloads
    QByteArray md5; // upper-case hex, as the client writes digests

    static PatternFile make(const QByteArray &name, qint64 size, int seed);

    // The content from offset on, at most length bytes.
    QByteArray content(qint64 offset, int length) const;
    bool writeTo(const QString &path) const;
};
