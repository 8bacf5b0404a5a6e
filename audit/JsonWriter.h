#pragma once

#include "audit/EventWriter.h"

// An array of objects, one line per event, fields in table order. Non-ASCII text stays as UTF-8;
// bytes that are not UTF-8 become U+FFFD so that the output is always valid JSON.
class JsonWriter : public EventWriter
{
public:
    using EventWriter::EventWriter;

    void begin() override;
    void write(const AuditEvent &event) override;
    void end() override;

private:
    static QByteArray string(const QByteArray &value);

    bool m_first = true;
};
