#include "audit/AuditFilter.h"

bool AuditFilter::setBound(const QString &text, TimeBound::Kind kind)
{
    TimeBound bound;
    if (!TimeBound::parse(text, kind, &bound))
        return false;
    if (kind == TimeBound::Since) {
        sinceUtc = bound.utc;
        return true;
    }
    // One end bound at a time: the later call replaces the earlier one.
    untilUtc = bound.inclusive ? bound.utc : QByteArray();
    beforeUtc = bound.inclusive ? QByteArray() : bound.utc;
    return true;
}
