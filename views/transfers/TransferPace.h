#pragma once

#include "model/TransferStateInfo.h"
#include "views/transfers/TransferOutcome.h"

#include <QString>

// How fast one transfer row goes, from the reports its worker sends: the time left while it
// runs, and the average rate of the whole transfer once it is done. Times are milliseconds of a
// monotonic clock, counted from the row's start.
class TransferPace
{
public:
    // Takes a report that arrived at nowMs.
    void onReport(const TransferStateInfo &info, qint64 nowMs);

    TransferOutcome::Kind outcome() const { return m_outcome; }
    // The rate cell's tooltip: "预计剩余 …" while running at a known rate, "平均速率 …，用时 …"
    // once done; empty otherwise.
    QString rateToolTip() const;
    // What the rate cell shows, in one family of units on every row: the worker's rate in fixed
    // precision while it runs, the average of the whole transfer once done, and no movement
    // ("0 byte/s") for a row that ended otherwise.
    QString shownRate() const;

    // A span of time as a user reads it: "0.4秒", "9.5秒", "42秒", "3分05秒", "1小时02分".
    static QString duration(qint64 ms);

private:
    QString timeLeft() const;
    QString average() const;
    // Bytes per second over the whole transfer, or -1 while that is not known.
    double averageRate() const;
    qint64 tookMs() const;

    TransferStateInfo m_last;
    TransferOutcome::Kind m_outcome = TransferOutcome::Running;
    qint64 m_endMs = -1;
};
