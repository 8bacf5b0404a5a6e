#pragma once

#include "protocol/PacketCommon.h"

#include <QByteArray>
#include <QString>

// How the rule dialogs and lists turn the text fields of a rule into bytes and back. Path keys and
// the sending users of receive paths arrive from the gap as UTF-8 and are decoded so; storing
// their UTF-8 bytes hands the gap back exactly the bytes it sent, which Latin-1 would turn into
// '?' for a key outside ASCII. Addresses and receiving users are Latin-1 throughout.
namespace RuleFields {

inline QByteArray utf8Bytes(const QString &text) { return text.toUtf8(); }
inline QByteArray latin1Bytes(const QString &text) { return text.toLatin1(); }

inline QString utf8Text(const char *field, int size)
{
    return QString::fromUtf8(field, fieldLength(field, size));
}

inline QString latin1Text(const char *field, int size)
{
    return QString::fromLatin1(field, fieldLength(field, size));
}

// The bytes a field of this size keeps of the text, as copyToField would store them.
inline QByteArray storedBytes(const QByteArray &bytes, int size) { return bytes.left(size - 1); }

} // namespace RuleFields
