#pragma once

#include <QByteArray>
#include <QString>

class QFileDevice;
struct _VKGAPIP_CONF;
struct _PACKET_CONF_DATA;

// Stateless helpers shared by every part of the client.
class BaseFunction
{
public:
    BaseFunction() = default;

    static QString formatDateTime(qint64 secs);
    static QString calcSize(qint64 bytes);
    static QString readableRate(quint64 rate);
    static QByteArray getFileMd5(const QString &path);
    // The digest of an open file's whole content, read from its start.
    static QByteArray getFileMd5(QFileDevice &file);
    static bool DeleteFileOrFolder(const QString &path);
    static _VKGAPIP_CONF *findVkgapinfo(const QString &address);

    // The password codec works in place on the text up to its terminator, at most
    // kCodecMaxLength characters: a longer text is cut there (its buffer must then be
    // kCodecBufferSize bytes), and nothing is read or written past the terminator otherwise.
    // A password with a character that would scramble to NUL cannot be carried: crypPasswd
    // leaves it empty. canScramble tells beforehand whether a password survives the round trip.
    static constexpr int kCodecBufferSize = 20;
    static constexpr int kCodecMaxLength = 19;
    static char *crypPasswd(char *passwd);
    static char *deCrypPasswd(char *passwd);
    static bool canScramble(const QByteArray &passwd);

    // Merges one configuration-data packet into a gap record and the send rules.
    static void DealWithConfData(_VKGAPIP_CONF *gap, const _PACKET_CONF_DATA *pkt);
};
