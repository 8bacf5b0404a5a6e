#include "bench/TraceTimeline.h"

#include <QFile>
#include <time.h>

qint64 TraceTimeline::nowNs()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

TraceTimeline::TraceTimeline(const QString &traceFile, const QByteArray &fileName, qint64 startNs)
{
    QFile file(traceFile);
    if (!file.open(QIODevice::ReadOnly))
        return;
    // "<ns> <pid> <side> <phase> <file name>"; the name may hold blanks.
    constexpr int kFieldsBeforeName = 4;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() <= kFieldsBeforeName)
            continue;
        const qint64 ns = fields.at(0).toLongLong();
        const QByteArray name = fields.mid(kFieldsBeforeName).join(' ');
        const QByteArray key = fields.at(2) + ' ' + fields.at(3);
        if (name == fileName && ns >= startNs && !m_marks.contains(key))
            m_marks.insert(key, double(ns - startNs) / 1e9);
    }
}

double TraceTimeline::at(const QByteArray &side, const QByteArray &phase) const
{
    return m_marks.value(side + ' ' + phase, -1);
}

double TraceTimeline::between(const QByteArray &fromSide, const QByteArray &fromPhase,
    const QByteArray &toSide, const QByteArray &toPhase) const
{
    const double from = at(fromSide, fromPhase);
    const double to = at(toSide, toPhase);
    return from < 0 || to < 0 ? -1 : to - from;
}
