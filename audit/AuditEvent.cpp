#include "audit/AuditEvent.h"

QVector<AuditField> auditFields(const AuditEvent &event)
{
    return {
        { "id", QByteArray::number(event.id), true },
        { "time_utc", event.timeUtc, false },
        { "time_local", event.timeLocal, false },
        { "gap", event.gap, false },
        { "category", event.category, false },
        { "user", event.user, false },
        { "operation", event.operation, false },
        { "outcome", QByteArray::number(event.outcome), true },
        { "detail", event.detail, false },
        { "pid", QByteArray::number(event.pid), true },
        { "thread", QByteArray::number(event.thread), true },
    };
}
