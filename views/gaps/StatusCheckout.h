#pragma once

#include <QObject>
#include <QString>

class QTimer;
struct _SENDPATH_LISTDATA;
struct _VKGAPIP_CONF;

// The client's clock: once a second it works out the state of every gap and the status text of
// every send and receive rule, and every ten seconds it runs the heartbeat that also reconnects
// lost gaps. Lives in a thread of its own; its signals reach the views queued.
class StatusCheckout : public QObject
{
    Q_OBJECT

public:
    static constexpr int kStateIntervalMs = 1000;
    static constexpr int kHeartbeatIntervalMs = 10000;

    explicit StatusCheckout(QObject *parent = nullptr);

signals:
    void setSendPathItemValue(int row, QString sendState);
    void setRecvPathItemValue(int row, QString recvState);
    void updateGapState();

public slots:
    void onGapStateCheck();
    void onGapHeartCheck();

private:
    void checkGaps();
    void checkSendRules();
    void checkRecvRules();
    // Whether the gap's state deserves a redraw of the gap list this second.
    bool checkGap(_VKGAPIP_CONF *gap);
    // The state text of a started rule, or an empty text when its state has none.
    QString sendStateText(_SENDPATH_LISTDATA *rule, _VKGAPIP_CONF *gap);

    QTimer *m_stateTimer;
    QTimer *m_heartTimer;
};
