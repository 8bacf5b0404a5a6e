#pragma once

#include <QObject>
#include <QString>
#include <memory>

class ControlThread;
class QTimer;
struct _SENDPATH_LISTDATA;
struct _VKGAPIP_CONF;

// The client's clock: once a second it works out the state of every gap and the status text of
// every send and receive rule, and every ten seconds it runs the heartbeat that also reconnects
// lost gaps. Lives in a thread of its own; its signals reach the views queued. The heartbeat runs
// in a further thread, so that its waits on the network never hold up the state checks.
class StatusCheckout : public QObject
{
    Q_OBJECT

public:
    static constexpr int kStateIntervalMs = 1000;
    static constexpr int kHeartbeatIntervalMs = 10000;

    explicit StatusCheckout(QObject *parent = nullptr);
    // Cancels a heartbeat pass under way and waits for its thread, which the cancel ends at once.
    ~StatusCheckout() override;

signals:
    void setSendPathItemValue(int row, QString sendState);
    void setRecvPathItemValue(int row, QString recvState);
    void updateGapState();

public slots:
    void onGapStateCheck();
    // Starts a heartbeat pass in its thread, unless the last one is still under way: ticks that
    // fall due meanwhile merge.
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
    std::unique_ptr<ControlThread> m_heartbeat; // the last pass
};
