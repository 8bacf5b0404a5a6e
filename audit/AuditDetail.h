#pragma once

#include "audit/AuditKind.h"

#include <QByteArray>
#include <QString>

// The parts of an event's detail as the client writes it: "'local','reason'" for a login or a
// logout, "'local', 'file', 'user', 'message'" for a send (the receiving user) or a receive (the
// sending user). A detail of another shape is all message.
struct AuditDetail {
    QByteArray localAddress;
    QByteArray fileName;
    QByteArray peerUser;
    QByteArray message;

    static AuditDetail parse(const QByteArray &detail, AuditKind kind);
};
