#include "views/history/HistoryRow.h"

#include "audit/VisibleText.h"

#include <QDateTime>

namespace {

const QString kShownTimeFormat = QStringLiteral("yyyy-MM-dd hh:mm:ss");

// The stored UTC time in this machine's zone; the writer's own local time when the UTC text does
// not read as a time.
QString localTimeOf(const AuditEvent &event)
{
    const QDateTime utc
        = QDateTime::fromString(QString::fromLatin1(event.timeUtc), Qt::ISODateWithMs);
    if (!utc.isValid())
        return visibleText(event.timeLocal);
    return utc.toLocalTime().toString(kShownTimeFormat);
}

} // namespace

HistoryRow HistoryRow::from(const AuditEvent &event)
{
    HistoryRow row;
    row.event = event;
    row.kind = auditKindOf(event);
    row.detail = AuditDetail::parse(event.detail, row.kind);
    row.localTime = localTimeOf(event);
    return row;
}
