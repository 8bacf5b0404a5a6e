#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

// The marks both clients wrote into their trace file (VARKO_TRACE, model/TransferTrace.h) for one
// file, as seconds after a moment of the benchmark's own clock: where the time of a transfer went.
class TraceTimeline
{
public:
    // The clock of the marks (CLOCK_MONOTONIC, ns), shared by every process of the machine.
    static qint64 nowNs();

    // The first mark of each side and phase for the file, at or after startNs.
    TraceTimeline(const QString &traceFile, const QByteArray &fileName, qint64 startNs);

    // Seconds from the start to the mark; negative when there is none.
    double at(const QByteArray &side, const QByteArray &phase) const;
    // Seconds between two marks; negative when one is missing.
    double between(const QByteArray &fromSide, const QByteArray &fromPhase,
        const QByteArray &toSide, const QByteArray &toPhase) const;

private:
    QHash<QByteArray, double> m_marks; // "side phase" -> seconds after the start
};
