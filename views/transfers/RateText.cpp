#include "views/transfers/RateText.h"

#include <QRegularExpression>

namespace {

constexpr double kKiB = 1024.0;
constexpr double kMiB = kKiB * kKiB;
constexpr double kGiB = kMiB * kKiB;
constexpr int kDecimals = 2;

struct Unit {
    const char *name;
    double bytes;
};

// readableRate's units, largest first.
const Unit kRateUnits[] = { { "GB/s", kGiB }, { "MB/s", kMiB }, { "KB/s", kKiB } };
const Unit kSizeUnits[] = { { "GB", kGiB }, { "MB", kMiB }, { "KB", kKiB }, { "bytes", 1.0 } };

// "<number><blank?><unit>" with a unit of the list; -1 when the text is not of that form.
template <size_t N>
double amount(const QString &text, const Unit (&units)[N], const QString &wholeUnit)
{
    static const QRegularExpression form(QStringLiteral("^\\s*([0-9.eE+]+)\\s*(\\S+)\\s*$"));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        return -1.0;
    bool ok = false;
    const double number = match.captured(1).toDouble(&ok);
    if (!ok || number < 0)
        return -1.0;
    const QString unit = match.captured(2);
    if (unit == wholeUnit)
        return number;
    for (const Unit &known : units) {
        if (unit == QLatin1String(known.name))
            return number * known.bytes;
    }
    return -1.0;
}

} // namespace

double RateText::bytesPerSecond(const QString &text)
{
    return amount(text, kRateUnits, QStringLiteral("byte/s"));
}

QString RateText::fixed(double bytesPerSecond)
{
    const double rate = qMax(0.0, bytesPerSecond);
    for (const Unit &unit : kRateUnits) {
        if (rate >= unit.bytes)
            return QStringLiteral("%1 %2")
                .arg(rate / unit.bytes, 0, 'f', kDecimals)
                .arg(QLatin1String(unit.name));
    }
    return QStringLiteral("%1 byte/s").arg(qint64(rate));
}

QString RateText::whileRunning(const QString &text) { return fixed(bytesPerSecond(text)); }

double RateText::bytesOfSize(const QString &text)
{
    return amount(text, kSizeUnits, QStringLiteral("bytes"));
}
