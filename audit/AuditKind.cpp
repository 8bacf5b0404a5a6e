#include "audit/AuditKind.h"

#include <algorithm>

namespace {

struct KindEntry {
    AuditKind kind;
    const char *name;
    AuditKindSignature signature;
};

// The events the client writes: category and operation as its callers pass them.
const KindEntry kKinds[] = {
    { AuditKind::Login, "login", { "CLIENT_LOGIN", "登录" } },
    { AuditKind::Logout, "logout", { "CLIENT_LOGIN", "登出" } },
    { AuditKind::Send, "send", { "CLIENT_SEND", "发送" } },
    { AuditKind::Receive, "receive", { "CLIENT_RECV", "接收文件" } },
};

} // namespace

AuditKindSignature auditKindSignature(AuditKind kind)
{
    for (const KindEntry &entry : kKinds) {
        if (entry.kind == kind)
            return entry.signature;
    }
    return { nullptr, nullptr };
}

AuditKind auditKindOf(const AuditEvent &event)
{
    const auto matches = [&event](const KindEntry &entry) {
        return event.category == entry.signature.category
            && event.operation == entry.signature.operation;
    };
    const auto *found = std::find_if(std::begin(kKinds), std::end(kKinds), matches);
    return found == std::end(kKinds) ? AuditKind::Other : found->kind;
}

QStringList auditKindNames()
{
    QStringList names;
    for (const KindEntry &entry : kKinds)
        names.append(QLatin1String(entry.name));
    return names;
}

bool parseAuditKind(const QString &name, AuditKind *kind)
{
    for (const KindEntry &entry : kKinds) {
        if (name == QLatin1String(entry.name)) {
            *kind = entry.kind;
            return true;
        }
    }
    return false;
}
