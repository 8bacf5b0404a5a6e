#pragma once

// Measuring helpers shared by the benchmarks.

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QString>
#include <functional>

namespace BenchSupport {

// Wall-clock seconds that the work took.
inline double secondsOf(const std::function<void()> &work)
{
    QElapsedTimer clock;
    clock.start();
    work();
    return double(clock.nsecsElapsed()) / 1e9;
}

// The process's peak resident memory (VmHWM) as the kernel prints it, "?" when unknown.
inline QString peakMemory()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return QStringLiteral("?");
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return QString::fromLatin1(line.mid(6).trimmed());
    }
    return QStringLiteral("?");
}

} // namespace BenchSupport
