#pragma once

#include <QByteArray>
#include <QString>

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
    static bool DeleteFileOrFolder(const QString &path);
    static _VKGAPIP_CONF *findVkgapinfo(const QString &address);

    // The password codec works in place on a NUL-terminated buffer of at least kCodecBufferSize
    // bytes; text beyond kCodecMaxLength characters is cut, never written past the buffer.
    static constexpr int kCodecBufferSize = 20;
    static constexpr int kCodecMaxLength = 19;
    static char *crypPasswd(char *passwd);
    static char *deCrypPasswd(char *passwd);

    // Merges one configuration-data packet into a gap record and the send rules.
    static void DealWithConfData(_VKGAPIP_CONF *gap, const _PACKET_CONF_DATA *pkt);
};
