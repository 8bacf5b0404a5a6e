#include "audit/AuditOutcome.h"

namespace AuditOutcome {

TransferOutcome::Kind of(AuditKind kind, int flag, const AuditDetail &detail)
{
    if (kind == AuditKind::Send || kind == AuditKind::Receive)
        return TransferOutcome::ofEvent(flag, QString::fromUtf8(detail.message));
    return flag == 1 ? TransferOutcome::Done : TransferOutcome::Failed;
}

TransferOutcome::Kind of(const AuditEvent &event)
{
    const AuditKind kind = auditKindOf(event);
    return of(kind, event.outcome, AuditDetail::parse(event.detail, kind));
}

} // namespace AuditOutcome
