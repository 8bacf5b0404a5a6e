#include "audit/CsvWriter.h"

#include <QIODevice>

namespace {

constexpr const char *kLineEnd = "\r\n";

} // namespace

void CsvWriter::begin()
{
    QList<QByteArray> names;
    for (const AuditField &f : auditFields(AuditEvent()))
        names.append(f.name);
    m_out->write(names.join(',') + kLineEnd);
}

void CsvWriter::write(const AuditEvent &event)
{
    QList<QByteArray> fields;
    for (const AuditField &f : auditFields(event))
        fields.append(field(f.value));
    m_out->write(fields.join(',') + kLineEnd);
}

QByteArray CsvWriter::field(const QByteArray &value)
{
    const bool needsQuotes = value.contains(',') || value.contains('"') || value.contains('\n')
        || value.contains('\r');
    if (!needsQuotes)
        return value;
    QByteArray quoted = value;
    quoted.replace('"', "\"\"");
    return '"' + quoted + '"';
}
