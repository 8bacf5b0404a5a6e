#pragma once

#include "audit/AuditDetail.h"
#include "audit/AuditEvent.h"
#include "audit/AuditKind.h"

#include <QString>

// An event in the words its readers see, the same on the history page and in gapaudit's CSV.
namespace AuditText {

// "登录", "退出", "发送", "接收"; the stored category for an event of another kind.
QString kindLabel(AuditKind kind, const AuditEvent &event);
// The stored UTC time in this machine's zone ("yyyy-MM-dd hh:mm:ss"); the writer's own local time
// when the UTC text does not read as a time.
QString localTime(const AuditEvent &event);
// Whom a file went to or came from: "发往 bob", "来自 alice"; empty for other events.
QString peer(AuditKind kind, const AuditDetail &detail);

} // namespace AuditText
