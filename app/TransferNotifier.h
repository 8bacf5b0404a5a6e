#pragma once

#include "views/transfers/TransferOutcome.h"

#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>
#include <functional>

// Tells the user, through the tray, that files arrived, were refused or could not be sent, in
// few messages: what ends within a burst is told together ("已接收 300 个文件"), once nothing has
// ended for a short while, or after a longer while during a steady stream. Nothing is told of a
// page that the user is looking at, nor of a file the user stopped, and a file that keeps failing
// is told once until it is sent.
class TransferNotifier : public QObject
{
    Q_OBJECT

public:
    // What a burst is summed up by, in the order the message tells them.
    enum Event { GaveUp, Refused, Received, EventCount };

    // A message goes once nothing has ended for kQuietMs, or kLongestWaitMs after the first
    // event it tells.
    static constexpr qint64 kQuietMs = 2000;
    static constexpr qint64 kLongestWaitMs = 30000;

    explicit TransferNotifier(QObject *parent = nullptr);

    bool isEnabled() const { return m_enabled; }
    // Whether the user sees a page now (its window in front, on that page).
    void setPageSeen(std::function<bool(int page)> seen) { m_seen = std::move(seen); }
    // The clock in milliseconds; a monotonic one by default. Tests set their own.
    void setClock(std::function<qint64()> clock) { m_clock = std::move(clock); }

public slots:
    void setEnabled(bool enabled) { m_enabled = enabled; }
    // A row of the page (of sent files, or of received ones) changed its outcome.
    void onOutcome(int page, bool sending, TransferOutcome::Kind outcome, const QString &fileName,
        const QString &status);
    // Sends the message when it is due; the timer calls it.
    void flushIfDue();

signals:
    // warning: a file was refused or could not be sent. page: where the user finds the files
    // told first.
    void notify(const QString &title, const QString &text, bool warning, int page);

private:
    void add(Event event, const QString &fileName, int page);
    void flush();
    QString text() const;
    QString title() const;

    struct Tally {
        int count = 0;
        QString firstName;
        int page = 0;
    };

    // Files whose failure was told, until they are sent: a file waits and fails again every round.
    QSet<QString> m_failuresTold;
    bool m_enabled = true;
    std::function<bool(int)> m_seen;
    std::function<qint64()> m_clock;
    Tally m_tallies[EventCount];
    qint64 m_firstMs = -1; // of the burst being gathered; -1: none
    qint64 m_lastMs = 0;
    QTimer m_timer;
};
