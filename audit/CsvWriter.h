#pragma once

#include "audit/EventWriter.h"

// CSV for a spreadsheet: UTF-8 with a byte-order mark (so that spreadsheets read it as UTF-8), a
// header row in Chinese, one event per line in the words of the history page (local time, kind,
// outcome) and the detail split into its fields. RFC 4180 otherwise: CRLF line ends, fields
// quoted when they hold a comma, a quote or a line break, quotes doubled.
class CsvWriter : public EventWriter
{
public:
    using EventWriter::EventWriter;

    void begin() override;
    void write(const AuditEvent &event) override;

private:
    static QByteArray field(const QString &value);
};
