#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

// File names are bytes. Every file operation uses them as they are; what the window shows and
// the wire carries is text, UTF-8 on the wire. Most names are UTF-8 already; names from archives
// and shares made on Windows at a Chinese site are in its legacy encoding, GBK, which GB18030
// reads whole (and maps back to the same bytes), so such a name arrives under the name its
// maker saw.
class NativeName
{
public:
    // The name's bytes read as UTF-8 when they are UTF-8, else as GB18030 when that reads them
    // whole; a null text when neither does.
    static QString decode(const QByteArray &bytes);
    // The bytes a decoded name may have on disk: its UTF-8, and its GB18030 where that differs.
    static QVector<QByteArray> encodings(const QString &name);
    // For the window and the log only: the bytes read as UTF-8, unreadable parts replaced.
    static QString shown(const QByteArray &bytes);
};
