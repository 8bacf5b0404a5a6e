#pragma once

#include "audit/AuditEvent.h"

#include <QString>
#include <QStringList>

// What an event records, read from its category and operation: the four kinds of event the
// client writes. An event of any other category or operation is Other; Any stands for every
// event in a filter.
enum class AuditKind { Any, Login, Logout, Send, Receive, Other };

// The category and operation that make an event of a kind; both null for Any and Other.
struct AuditKindSignature {
    const char *category;
    const char *operation;
};

AuditKindSignature auditKindSignature(AuditKind kind);
AuditKind auditKindOf(const AuditEvent &event);

// The kinds by the names gapaudit takes: login, logout, send, receive.
QStringList auditKindNames();
bool parseAuditKind(const QString &name, AuditKind *kind);
