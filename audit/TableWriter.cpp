#include "audit/TableWriter.h"

#include "audit/AuditOutcome.h"
#include "audit/VisibleText.h"

#include <QIODevice>
#include <algorithm>

namespace {

constexpr int kColumnGap = 2;

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

} // namespace

void TableWriter::write(const AuditEvent &event)
{
    m_rows.append({ visibleText(event.timeLocal), visibleText(event.gap),
        visibleText(event.category), visibleText(event.user), visibleText(event.operation),
        TransferOutcome::label(AuditOutcome::of(event)), visibleText(event.detail) });
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
    int padding = 0; // added only before a column with text, so that no line ends in blanks
    for (int i = 0; i < row.size(); ++i) {
        if (!row[i].isEmpty()) {
            line += QString(padding, ' ') + row[i];
            padding = 0;
        }
        padding += widths[i] - displayWidth(row[i]) + kColumnGap;
    }
    m_out->write(line.toUtf8() + '\n');
}

int TableWriter::displayWidth(const QString &text)
{
    int width = 0;
    for (const uint code : text.toUcs4())
        width += isWide(code) ? 2 : 1;
    return width;
}
