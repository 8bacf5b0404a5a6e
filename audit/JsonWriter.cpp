#include "audit/JsonWriter.h"

#include <QIODevice>
#include <QString>

namespace {

constexpr unsigned char kFirstPrintable = 0x20;

} // namespace

void JsonWriter::begin() { m_out->write("["); }

void JsonWriter::write(const AuditEvent &event)
{
    QList<QByteArray> members;
    for (const AuditField &f : auditFields(event)) {
        const QByteArray value = f.isNumber ? f.value : f.value.isNull() ? "null" : string(f.value);
        members.append('"' + QByteArray(f.name) + "\": " + value);
    }
    m_out->write((m_first ? "\n  {" : ",\n  {") + members.join(", ") + '}');
    m_first = false;
}

void JsonWriter::end() { m_out->write(m_first ? "]\n" : "\n]\n"); }

QByteArray JsonWriter::string(const QByteArray &value)
{
    const QByteArray utf8 = QString::fromUtf8(value).toUtf8();
    QByteArray out;
    out.reserve(utf8.size() + 2);
    out += '"';
    for (const char c : utf8) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < kFirstPrintable)
                out += QByteArray("\\u00") + QByteArray::number(c, 16).rightJustified(2, '0');
            else
                out += c;
        }
    }
    out += '"';
    return out;
}
