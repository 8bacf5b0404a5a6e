#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGINT and SIGTERM into a Qt signal in the event loop: the handler only writes the signal
// number into a socket pair, which is all a handler may safely do.
class SignalWatcher : public QObject
{
    Q_OBJECT

public:
    explicit SignalWatcher(QObject *parent = nullptr);
    ~SignalWatcher() override;

    bool install();

signals:
    void stopRequested(const QString &signalName);

private:
    static void handle(int signalNumber);
    void onReadable();

    QSocketNotifier *m_notifier = nullptr;
    static int s_fds[2];
};
