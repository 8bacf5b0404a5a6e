#pragma once

#include "audit/AuditDetail.h"
#include "audit/AuditEvent.h"
#include "audit/AuditKind.h"
#include "views/transfers/TransferOutcome.h"

// An event's outcome in the client's vocabulary (TransferOutcome): a send or a receive by its
// flag and message, any other event by its flag alone (success, or failure).
namespace AuditOutcome {

TransferOutcome::Kind of(AuditKind kind, int flag, const AuditDetail &detail);
TransferOutcome::Kind of(const AuditEvent &event);

} // namespace AuditOutcome
