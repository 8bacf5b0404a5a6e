#include "views/history/HistoryRow.h"

#include "audit/AuditOutcome.h"
#include "audit/AuditText.h"

HistoryRow HistoryRow::from(const AuditEvent &event)
{
    HistoryRow row;
    row.event = event;
    row.kind = auditKindOf(event);
    row.detail = AuditDetail::parse(event.detail, row.kind);
    row.outcome = AuditOutcome::of(row.kind, event.outcome, row.detail);
    row.localTime = AuditText::localTime(event);
    return row;
}
