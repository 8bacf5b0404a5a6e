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

    // Results of connectToGapHost besides the gap's own refusal codes.
    static constexpr int kResultOk = 0;
    static constexpr int kResultNoConnection = 1;
    static constexpr int kResultExchangeFailed = -1;
    static constexpr int kResultNoRules = 3;
    // A refusal whose code would read as one of the results above (a refusal with code 0 would
    // otherwise pass for a success); callers show it as a refusal without a specific reason.
    static constexpr int kResultRefused = -2;

    // Results of recvConfInfo.
    static constexpr int kRulesFailed = 0;
    static constexpr int kRulesReceived = 1;
    static constexpr int kRulesNone = 2;

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
    int loginExchange(_VKGAPIP_CONF *gap);
    int fetchRules(_VKGAPIP_CONF *gap, bool restartOnEntry);
    void heartBeatGap(_VKGAPIP_CONF *gap);
    void refreshRules(_VKGAPIP_CONF *gap);
    static void releaseGap(_VKGAPIP_CONF *gap);

    quint16 port;
    QTcpSocket socket;
};
