#include "EventLog.h"

#include <unistd.h>

namespace {

bool needsQuotes(const QByteArray &value)
{
    if (value.isEmpty())
        return true;
    for (char c : value) {
        if (c == ' ' || c == '"' || c == '\\' || c == '=' || static_cast<unsigned char>(c) < 0x20
            || c == 0x7f)
            return true;
    }
    return false;
}

QByteArray quoted(const QByteArray &value)
{
    QByteArray out = "\"";
    for (char c : value) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
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
            out += c;
        }
    }
    return out + '"';
}

} // namespace

EventLog::EventLog() = default;

bool EventLog::open(const QString &path, QString *error)
{
    // By descriptor, not through stdio: a pipe must see each line at once.
    if (path.isEmpty())
        return m_file.open(STDOUT_FILENO, QIODevice::WriteOnly | QIODevice::Unbuffered);
    m_file.setFileName(path);
    if (m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return true;
    *error = QStringLiteral("cannot open log file %1: %2").arg(path, m_file.errorString());
    return false;
}

void EventLog::write(const QByteArray &event, const EventFields &fields)
{
    QByteArray line = event;
    for (const auto &field : fields) {
        const QByteArray value = field.second.toUtf8();
        line += ' ' + field.first + '=' + (needsQuotes(value) ? quoted(value) : value);
    }
    m_file.write(line + '\n');
}
