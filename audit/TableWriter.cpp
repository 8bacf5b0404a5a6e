#include "audit/TableWriter.h"

#include <QIODevice>
#include <algorithm>

namespace {

constexpr int kColumnGap = 2;
constexpr uint kFirstPrintable = 0x20;
constexpr uint kDelete = 0x7f;
constexpr uint kLastC1Control = 0x9f;

// Code point ranges that a terminal shows two cells wide (CJK, Hangul, full-width forms).
constexpr uint kWideRanges[][2] = {
    { 0x1100, 0x115F },
    { 0x2E80, 0x303E },
    { 0x3041, 0x33FF },
    { 0x3400, 0x4DBF },
    { 0x4E00, 0x9FFF },
    { 0xA000, 0xA4CF },
    { 0xAC00, 0xD7A3 },
    { 0xF900, 0xFAFF },
    { 0xFE30, 0xFE4F },
    { 0xFF00, 0xFF60 },
    { 0xFFE0, 0xFFE6 },
    { 0x20000, 0x3FFFD },
};

bool isWide(uint code)
{
    return std::any_of(std::begin(kWideRanges), std::end(kWideRanges),
        [code](const uint *range) { return code >= range[0] && code <= range[1]; });
}

QString outcomeText(int outcome)
{
    if (outcome == 1)
        return QStringLiteral("success");
    if (outcome == 0)
        return QStringLiteral("failure");
    return QString::number(outcome);
}

} // namespace

void TableWriter::write(const AuditEvent &event)
{
    m_rows.append({ visible(event.timeLocal), visible(event.gap), visible(event.category),
        visible(event.user), visible(event.operation), outcomeText(event.outcome),
        visible(event.detail) });
}

void TableWriter::end()
{
    const Row header = { "time", "gap", "category", "user", "operation", "outcome", "detail" };
    QVector<int> widths;
    for (const QString &name : header)
        widths.append(displayWidth(name));
    for (const Row &row : qAsConst(m_rows))
        for (int i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], displayWidth(row[i]));
    writeRow(header, widths);
    for (const Row &row : qAsConst(m_rows))
        writeRow(row, widths);
}

void TableWriter::writeRow(const Row &row, const QVector<int> &widths)
{
    QString line;
    int padding = 0;   // added only before a column with text, so that no line ends in blanks
    for (int i = 0; i < row.size(); ++i) {
        if (!row[i].isEmpty()) {
            line += QString(padding, ' ') + row[i];
            padding = 0;
        }
        padding += widths[i] - displayWidth(row[i]) + kColumnGap;
    }
    m_out->write(line.toUtf8() + '\n');
}

QString TableWriter::visible(const QByteArray &text)
{
    QString shown;
    for (const uint code : QString::fromUtf8(text).toUcs4()) {
        if (code == '\n')
            shown += QLatin1String("\\n");
        else if (code == '\t')
            shown += QLatin1String("\\t");
        else if (code == '\r')
            shown += QLatin1String("\\r");
        else if (code < kFirstPrintable || (code >= kDelete && code <= kLastC1Control))
            shown += QStringLiteral("\\x%1").arg(code, 2, 16, QLatin1Char('0'));
        else
            shown += QString::fromUcs4(&code, 1);
    }
    return shown;
}

int TableWriter::displayWidth(const QString &text)
{
    int width = 0;
    for (const uint code : text.toUcs4())
        width += isWide(code) ? 2 : 1;
    return width;
}
