#pragma once

#include "audit/AuditDetail.h"
#include "audit/AuditEvent.h"
#include "audit/AuditKind.h"
#include "views/transfers/TransferOutcome.h"

#include <QMetaType>
#include <QString>

// One audit event as the history page shows it, prepared away from the GUI thread.
struct HistoryRow {
    AuditEvent event;
    AuditKind kind = AuditKind::Other;
    AuditDetail detail;
    TransferOutcome::Kind outcome = TransferOutcome::Failed;
    QString localTime; // in this machine's time zone

    static HistoryRow from(const AuditEvent &event);
};

Q_DECLARE_METATYPE(HistoryRow)
