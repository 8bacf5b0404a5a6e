#include "audit/CsvWriter.h"

#include "audit/AuditOutcome.h"
#include "audit/AuditText.h"
#include "audit/VisibleText.h"

#include <QIODevice>
#include <QStringList>

namespace {

constexpr const char *kLineEnd = "\r\n";
constexpr const char *kByteOrderMark = "\xEF\xBB\xBF";
const char *const kHeaders[]
    = { "编号", "时间", "网闸", "类别", "用户", "结果", "本机地址", "文件", "对方用户", "说明" };
// A cell beginning with one of these is a formula to a spreadsheet: a file name from the far
// side must not run as one.
const QString kFormulaStarts = QStringLiteral("=+-@");

} // namespace

void CsvWriter::begin()
{
    QList<QByteArray> names;
    for (const char *name : kHeaders)
        names.append(name);
    m_out->write(kByteOrderMark + names.join(',') + kLineEnd);
}

void CsvWriter::write(const AuditEvent &event)
{
    const AuditKind kind = auditKindOf(event);
    const AuditDetail detail = AuditDetail::parse(event.detail, kind);
    const QStringList cells { QString::number(event.id), AuditText::localTime(event),
        visibleText(event.gap), AuditText::kindLabel(kind, event), visibleText(event.user),
        TransferOutcome::label(AuditOutcome::of(kind, event.outcome, detail)),
        visibleText(detail.localAddress), visibleText(detail.fileName),
        visibleText(detail.peerUser), visibleText(detail.message) };
    QList<QByteArray> fields;
    for (const QString &cell : cells)
        fields.append(field(cell));
    m_out->write(fields.join(',') + kLineEnd);
}

QByteArray CsvWriter::field(const QString &value)
{
    QString text = value;
    if (!text.isEmpty() && kFormulaStarts.contains(text.front()))
        text.prepend(QLatin1Char('\''));
    const bool needsQuotes = text.contains(',') || text.contains('"') || text.contains('\n')
        || text.contains('\r');
    if (!needsQuotes)
        return text.toUtf8();
    text.replace(QLatin1String("\""), QLatin1String("\"\""));
    return '"' + text.toUtf8() + '"';
}
