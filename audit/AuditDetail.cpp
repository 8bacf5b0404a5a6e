#include "audit/AuditDetail.h"

#include <QList>

namespace {

constexpr const char *kLoginSeparator = "','";
constexpr const char *kTransferSeparator = "', '";
constexpr int kTransferFields = 4;
constexpr char kQuote = '\'';

// The quoted fields between the separators; empty when the text is not wholly quoted.
QList<QByteArray> quotedFields(const QByteArray &detail, const char *separator)
{
    if (detail.size() < 2 || !detail.startsWith(kQuote) || !detail.endsWith(kQuote))
        return {};
    const QByteArray inner = detail.mid(1, detail.size() - 2);
    QList<QByteArray> fields;
    int from = 0;
    for (int at; (at = inner.indexOf(separator, from)) >= 0; from = at + int(qstrlen(separator)))
        fields.append(inner.mid(from, at - from));
    fields.append(inner.mid(from));
    return fields;
}

AuditDetail loginDetail(const QByteArray &detail)
{
    AuditDetail parts;
    const QList<QByteArray> fields = quotedFields(detail, kLoginSeparator);
    if (fields.size() < 2) {
        parts.message = detail;
        return parts;
    }
    parts.localAddress = fields.first();
    parts.message = fields.mid(1).join(kLoginSeparator);
    return parts;
}

// A file name may itself hold the separator: the address comes first, the user and the message
// last, and the file name is whatever lies between.
AuditDetail transferDetail(const QByteArray &detail)
{
    AuditDetail parts;
    const QList<QByteArray> fields = quotedFields(detail, kTransferSeparator);
    if (fields.size() < kTransferFields) {
        parts.message = detail;
        return parts;
    }
    parts.localAddress = fields.first();
    parts.fileName = fields.mid(1, fields.size() - 3).join(kTransferSeparator);
    parts.peerUser = fields.at(fields.size() - 2);
    parts.message = fields.last();
    return parts;
}

} // namespace

AuditDetail AuditDetail::parse(const QByteArray &detail, AuditKind kind)
{
    switch (kind) {
    case AuditKind::Login:
    case AuditKind::Logout:
        return loginDetail(detail);
    case AuditKind::Send:
    case AuditKind::Receive:
        return transferDetail(detail);
    default:
        break;
    }
    AuditDetail parts;
    parts.message = detail;
    return parts;
}
