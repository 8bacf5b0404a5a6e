#pragma once

#include <QString>
#include <QTcpSocket>

struct _VKGAPIP_CONF;
struct _PACKET_CONF_DATA;
struct key_info;

// The control connection to a gap: login, rules, keys, heartbeat and logout. Every operation is
// blocking with fixed time-outs and runs in the caller's thread; each use is a fresh instance.
class SocketTools
{
public:
    static constexpr int kConnectTimeoutMs = 5000;
    static constexpr int kIoTimeoutMs = 30000;

    SocketTools();

    // 0 connected, 1 not connected within kConnectTimeoutMs.
    int connectToHost(const QString &host, quint16 port, QTcpSocket &socket);
    // 0 success, 1 no connection, -1 exchange failed, 3 no rules, or the gap's refusal code.
    int connectToGapHost(_VKGAPIP_CONF *gap);
    // 1 rules received, 2 no rules, 0 failure.
    int recvConfInfo(_PACKET_CONF_DATA pkt, _VKGAPIP_CONF *gap, QTcpSocket &socket);
    void onGetKey(_VKGAPIP_CONF *gap);
    int recvKeyInfo(key_info *info);
    void gapHeartBeat();
    int disconnectFromGap();

private:
    quint16 port;
    QTcpSocket socket;
};
