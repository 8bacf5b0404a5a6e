#pragma once

// Measuring helpers shared by the benchmarks.

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QString>
#include <QVector>
#include <algorithm>
#include <functional>
#include <unistd.h>

namespace BenchSupport {

// Wall-clock seconds that the work took.
inline double secondsOf(const std::function<void()> &work)
{
    QElapsedTimer clock;
    clock.start();
    work();
    return double(clock.nsecsElapsed()) / 1e9;
}

// A process's peak resident memory (VmHWM) as the kernel prints it, "?" when unknown; by
// default this process's.
inline QString peakMemory(const QString &pid = QStringLiteral("self"))
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return QStringLiteral("?");
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return QString::fromLatin1(line.mid(6).trimmed());
    }
    return QStringLiteral("?");
}

inline QString peakMemory(qint64 pid) { return peakMemory(QString::number(pid)); }

// The middle value (the upper one of the two middle values of an even count); values not empty.
inline double median(QVector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

// The CPU time (user and system) a process has used so far, in seconds; -1 when unknown.
inline double cpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    // The fields after the command name, which may hold blanks, end with ')'.
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    constexpr int kUserTime = 11;
    constexpr int kSystemTime = 12;
    if (fields.size() <= kSystemTime)
        return -1;
    return double(fields.at(kUserTime).toLongLong() + fields.at(kSystemTime).toLongLong())
        / double(sysconf(_SC_CLK_TCK));
}

} // namespace BenchSupport
