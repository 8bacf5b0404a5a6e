#include "send/NativeName.h"

#include <QTextCodec>
#include <algorithm>

namespace {

QTextCodec *legacyCodec()
{
    static QTextCodec *const codec = QTextCodec::codecForName("GB18030");
    return codec;
}

bool isAscii(const QByteArray &bytes)
{
    return std::all_of(bytes.cbegin(), bytes.cend(), [](char c) { return uchar(c) < 0x80; });
}

} // namespace

QString NativeName::decode(const QByteArray &bytes)
{
    if (isAscii(bytes))
        return QString::fromLatin1(bytes);
    // A decoder replaces what it cannot read (and may drop a cut sequence at the end) without
    // always saying so: a reading is whole when it gives the same bytes back.
    const QString utf8 = QString::fromUtf8(bytes);
    if (utf8.toUtf8() == bytes)
        return utf8;
    if (QTextCodec *codec = legacyCodec()) {
        const QString legacy = codec->toUnicode(bytes);
        if (codec->fromUnicode(legacy) == bytes)
            return legacy;
    }
    return QString();
}

QVector<QByteArray> NativeName::encodings(const QString &name)
{
    QVector<QByteArray> forms { name.toUtf8() };
    if (QTextCodec *codec = legacyCodec()) {
        const QByteArray legacy = codec->fromUnicode(name);
        if (legacy != forms.first())
            forms.append(legacy);
    }
    return forms;
}

QString NativeName::shown(const QByteArray &bytes) { return QString::fromUtf8(bytes); }
