#include "audit/AuditText.h"

#include "audit/VisibleText.h"

#include <QDateTime>

namespace {

const QString kShownTimeFormat = QStringLiteral("yyyy-MM-dd hh:mm:ss");

} // namespace

namespace AuditText {

QString kindLabel(AuditKind kind, const AuditEvent &event)
{
    switch (kind) {
    case AuditKind::Login:
        return QStringLiteral("登录");
    case AuditKind::Logout:
        return QStringLiteral("退出");
    case AuditKind::Send:
        return QStringLiteral("发送");
    case AuditKind::Receive:
        return QStringLiteral("接收");
    default:
        return visibleText(event.category);
    }
}

QString localTime(const AuditEvent &event)
{
    const QDateTime utc
        = QDateTime::fromString(QString::fromLatin1(event.timeUtc), Qt::ISODateWithMs);
    if (!utc.isValid())
        return visibleText(event.timeLocal);
    return utc.toLocalTime().toString(kShownTimeFormat);
}

QString peer(AuditKind kind, const AuditDetail &detail)
{
    if (detail.peerUser.isEmpty())
        return {};
    if (kind == AuditKind::Send)
        return QStringLiteral("发往 %1").arg(visibleText(detail.peerUser));
    if (kind == AuditKind::Receive)
        return QStringLiteral("来自 %1").arg(visibleText(detail.peerUser));
    return {};
}

} // namespace AuditText
