#include "audit/TimeBound.h"

#include <QDate>
#include <QDateTime>

namespace {

constexpr int kDateLength = 10; // "yyyy-MM-dd"
constexpr const char *kStoredFormat = "yyyy-MM-dd'T'HH:mm:ss.zzz'Z'";

} // namespace

bool TimeBound::parse(const QString &text, Kind kind, TimeBound *bound)
{
    QDateTime time;
    bound->inclusive = true;
    if (text.size() == kDateLength) {
        const QDate date = QDate::fromString(text, Qt::ISODate);
        if (!date.isValid())
            return false;
        // The end of a day is the start of the next one, excluded.
        const bool toDayEnd = kind == Until;
        time = QDateTime(toDayEnd ? date.addDays(1) : date, QTime(0, 0), Qt::LocalTime);
        bound->inclusive = !toDayEnd;
    } else {
        QString iso = text;
        if (iso.size() > kDateLength && iso.at(kDateLength) == ' ')
            iso[kDateLength] = 'T';
        time = QDateTime::fromString(iso, Qt::ISODateWithMs);
    }
    if (!time.isValid())
        return false;
    bound->utc = time.toUTC().toString(QLatin1String(kStoredFormat)).toLatin1();
    return true;
}
