#pragma once

#include <QByteArray>
#include <QVector>

// One stored event as read back. Texts are the stored bytes; a null QByteArray is SQL NULL.
struct AuditEvent {
    qint64 id = 0;
    QByteArray timeUtc;
    QByteArray timeLocal;
    QByteArray gap;
    QByteArray category;
    QByteArray user;
    QByteArray operation;
    int outcome = 0;
    QByteArray detail;
    qint64 pid = 0;
    qint64 thread = 0;
};

// One named value of an event, for the export formats, which list every field in table order.
struct AuditField {
    const char *name;
    QByteArray value;
    bool isNumber;
};

QVector<AuditField> auditFields(const AuditEvent &event);
