#pragma once

#include "audit/EventWriter.h"

#include <QVector>

// Aligned columns for a terminal: local time, gap, category, user, operation, outcome (in the
// client's words), detail.
// Control characters are shown as escapes (visibleText). Columns are sized after the last event,
// so events are held until end().
class TableWriter : public EventWriter
{
public:
    using EventWriter::EventWriter;

    void write(const AuditEvent &event) override;
    void end() override;

private:
    using Row = QVector<QString>;

    void writeRow(const Row &row, const QVector<int> &widths);
    static int displayWidth(const QString &text);

    QVector<Row> m_rows;
};
