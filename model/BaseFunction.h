#pragma once

#include <QByteArray>
#include <QString>
#include <atomic>

class QFileDevice;
class QIODevice;
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
    // The digest of the next size bytes of an open file, read in pieces from where it stands.
    // Empty when the file ends early or fails, or when stop (or stopToo) is set: they are tested
    // between pieces.
    static QByteArray md5OfOpenFile(QIODevice &file, qint64 size,
        const std::atomic<bool> *stop = nullptr, const std::atomic<bool> *stopToo = nullptr);
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
