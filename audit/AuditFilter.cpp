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

void AuditFilter::setDays(const QDate &first, const QDate &last)
{
    if (first.isValid())
        setBound(first.toString(Qt::ISODate), TimeBound::Since);
    if (last.isValid())
        setBound(last.toString(Qt::ISODate), TimeBound::Until);
}

AuditFilter::Outcome AuditFilter::forKind(TransferOutcome::Kind kind)
{
    switch (kind) {
    case TransferOutcome::Done:
        return Success;
    case TransferOutcome::Refused:
        return Refused;
    case TransferOutcome::Failed:
        return Failed;
    case TransferOutcome::Waiting:
        return Waiting;
    case TransferOutcome::Running:
        break;
    }
    return AnyOutcome;
}
