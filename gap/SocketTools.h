#pragma once

#include <QMutex>
#include <QString>
#include <QTcpSocket>

struct _VKGAPIP_CONF;
struct _PACKET_CONF_DATA;
struct key_info;

// The control connection to a gap: login, rules, keys, heartbeat and logout. Every operation is
// blocking with fixed time-outs and runs in the caller's thread; each use is a fresh instance.
// Another thread may cancel() the operation under way.
class SocketTools
{
public:
    static constexpr int kConnectTimeoutMs = 5000;
    static constexpr int kIoTimeoutMs = 30000;
    // How long a heartbeat waits for the gap's answer: a gap that has not answered by the next
    // heartbeat shows as interrupted.
    static constexpr int kHeartbeatAnswerMs = 10000;

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
    ~SocketTools();
    SocketTools(const SocketTools &) = delete;
    SocketTools &operator=(const SocketTools &) = delete;

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

    // Ends the operation under way in another thread at once: its connection is shut down, so
    // that the wait on it returns, and no further connection is made (one being made ends with
    // its connect time-out at the latest). Thread-safe; once cancelled, the object stays so.
    void cancel();
    bool isCancelled() const;

    // Keeps the message of a login without rules for the caller (notice()) instead of showing it
    // here: for a login that runs outside the GUI thread, whose caller shows it when it ends.
    void deferNotices() { m_deferNotices = true; }
    QString notice() const { return m_notice; }

private:
    int loginExchange(_VKGAPIP_CONF *gap);
    int fetchRules(_VKGAPIP_CONF *gap, bool restartOnEntry);
    void heartBeatGap(_VKGAPIP_CONF *gap);
    void refreshRules(_VKGAPIP_CONF *gap);
    void gapDidNotAnswer(_VKGAPIP_CONF *gap);
    static void releaseGap(_VKGAPIP_CONF *gap);
    void tell(const QString &text);
    // cancel() shuts down a duplicate of the connection's descriptor: it stays a descriptor of
    // that connection whatever the socket does with its own, so a cancel can never reach a
    // descriptor number the system has since given to someone else. The connection itself
    // closes once the socket has closed it and the duplicate is dropped.
    void watchConnection(const QTcpSocket &socket);
    void dropWatchedConnection();

    quint16 port;
    QTcpSocket socket;
    mutable QMutex m_cancelMutex;
    bool m_cancelled = false; // m_cancelMutex
    int m_watched = -1; // m_cancelMutex
    bool m_deferNotices = false;
    QString m_notice;
};
