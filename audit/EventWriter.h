#pragma once

#include "audit/AuditEvent.h"

#include <QString>
#include <QStringList>
#include <memory>

class QIODevice;

// Writes listed events in one output format: begin(), write() per event, end().
class EventWriter
{
public:
    explicit EventWriter(QIODevice *out)
        : m_out(out)
    {
    }
    virtual ~EventWriter() = default;

    virtual void begin() { }
    virtual void write(const AuditEvent &event) = 0;
    virtual void end() { }

    static QStringList formats();
    // Null for an unknown format.
    static std::unique_ptr<EventWriter> create(const QString &format, QIODevice *out);

protected:
    QIODevice *m_out;
};
