#pragma once

#include "audit/EventWriter.h"

// RFC 4180: a header row, CRLF line ends, fields quoted when they hold a comma, a quote or a
// line break, quotes doubled. Texts are written as stored.
class CsvWriter : public EventWriter
{
public:
    using EventWriter::EventWriter;

    void begin() override;
    void write(const AuditEvent &event) override;

private:
    static QByteArray field(const QByteArray &value);
};
