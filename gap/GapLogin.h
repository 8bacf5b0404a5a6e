#pragma once

#include "gap/ControlThread.h"
#include "gap/SocketTools.h"
#include "model/GlobalData.h"

#include <QObject>
#include <memory>

// Logs in to one gap (SocketTools::connectToGapHost) in a thread of its own, so that the window
// that asked keeps answering while the gap is slow or silent. The result comes back as a signal
// in the thread that created the object; cancel() ends the exchange at once.
class GapLogin : public QObject
{
    Q_OBJECT

public:
    // Takes the new record that the login fills in. Destroying the object cancels a login still
    // under way and waits for its thread.
    explicit GapLogin(std::unique_ptr<_VKGAPIP_CONF> gap, QObject *parent = nullptr);

    // One login per object.
    void start();
    // Ends the login under way at once; finished() is not emitted for it.
    void cancel();
    // Cancels the login and lets it go without waiting for its thread: the object, with its
    // record, deletes itself once the thread has ended. Its connection is shut down at once; one
    // still being made ends with its connect time-out. Until then the object belongs to the
    // application, whose end waits for it.
    static void dismiss(std::unique_ptr<GapLogin> login);

    // From start() until finished() or cancel().
    bool isRunning() const { return m_running; }
    // The record, for the caller to list after a successful login or to let go.
    std::unique_ptr<_VKGAPIP_CONF> takeGap() { return std::move(m_gap); }
    // What a login without rules leaves to tell before its result; empty when there is nothing.
    QString notice() const { return m_notice; }

signals:
    void finished(int result);

private:
    void onThreadFinished();

    std::unique_ptr<_VKGAPIP_CONF> m_gap;
    int m_result = SocketTools::kResultNoConnection;
    QString m_notice;
    bool m_running = false;
    ControlThread m_control; // last, so that it ends before what its thread writes goes
};
