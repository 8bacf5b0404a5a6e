#pragma once

#include <QByteArray>
#include <QString>

// A --since or --until argument turned into a bound on the stored UTC times. A date-time
// without an offset is local time; a date alone means from the start (--since) or to the end
// (--until) of that local day.
class TimeBound
{
public:
    enum Kind { Since, Until };

    static bool parse(const QString &text, Kind kind, TimeBound *bound);

    // The stored UTC text the bound compares with, and whether that time itself is included.
    QByteArray utc;
    bool inclusive = true;
};
