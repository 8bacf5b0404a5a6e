#include "views/transfers/TransferPace.h"

#include "views/transfers/RateText.h"

#include <cmath>

namespace {

constexpr qint64 kMsPerSecond = 1000;
constexpr qint64 kSecondsPerMinute = 60;
constexpr qint64 kSecondsPerHour = 3600;
constexpr double kMsPerSecondF = 1000.0;
// Short spans are told to a tenth of a second.
constexpr qint64 kTenthsBelowSeconds = 10;

QString twoDigits(qint64 value) { return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0')); }

} // namespace

void TransferPace::onReport(const TransferStateInfo &info, qint64 nowMs)
{
    m_last = info;
    m_outcome = TransferOutcome::of(
        info.at(TransferStateInfo::Status), info.at(TransferStateInfo::EndTime));
    if (m_outcome == TransferOutcome::Running)
        m_endMs = -1;
    else if (m_endMs < 0)
        m_endMs = nowMs;
}

QString TransferPace::rateToolTip() const
{
    switch (m_outcome) {
    case TransferOutcome::Running:
        return timeLeft();
    case TransferOutcome::Done:
        return average();
    case TransferOutcome::Refused:
    case TransferOutcome::Failed:
    case TransferOutcome::Waiting:
        break;
    }
    return QString();
}

QString TransferPace::timeLeft() const
{
    const double rate = RateText::bytesPerSecond(m_last.at(TransferStateInfo::Rate));
    const double size = RateText::bytesOfSize(m_last.at(TransferStateInfo::Size));
    bool ok = false;
    const double done = m_last.at(TransferStateInfo::Progress).toDouble(&ok);
    if (rate <= 0 || size <= 0 || !ok || !std::isfinite(done) || done >= 1.0)
        return QString();
    const double leftMs = size * (1.0 - qMax(0.0, done)) / rate * kMsPerSecondF;
    return QStringLiteral("预计剩余 %1").arg(duration(qint64(std::ceil(leftMs))));
}

QString TransferPace::shownRate() const
{
    const double average = m_outcome == TransferOutcome::Done ? averageRate() : -1.0;
    if (average >= 0)
        return RateText::fixed(average);
    return RateText::whileRunning(m_last.at(TransferStateInfo::Rate));
}

QString TransferPace::average() const
{
    const double rate = averageRate();
    if (rate < 0)
        return QString();
    return QStringLiteral("平均速率 %1，用时 %2").arg(RateText::fixed(rate), duration(tookMs()));
}

double TransferPace::averageRate() const
{
    const double size = RateText::bytesOfSize(m_last.at(TransferStateInfo::Size));
    if (size < 0 || m_endMs < 0)
        return -1.0;
    return size * kMsPerSecondF / double(tookMs());
}

// A transfer quicker than the clock's step took at least one step.
qint64 TransferPace::tookMs() const { return qMax<qint64>(1, m_endMs); }

QString TransferPace::duration(qint64 ms)
{
    const qint64 seconds = ms / kMsPerSecond;
    if (seconds < kTenthsBelowSeconds)
        return QStringLiteral("%1秒").arg(double(ms) / kMsPerSecondF, 0, 'f', 1);
    if (seconds < kSecondsPerMinute)
        return QStringLiteral("%1秒").arg(seconds);
    if (seconds < kSecondsPerHour)
        return QStringLiteral("%1分%2秒")
            .arg(seconds / kSecondsPerMinute)
            .arg(twoDigits(seconds % kSecondsPerMinute));
    return QStringLiteral("%1小时%2分")
        .arg(seconds / kSecondsPerHour)
        .arg(twoDigits(seconds % kSecondsPerHour / kSecondsPerMinute));
}
