#include "audit/VisibleText.h"

#include <QVector>

namespace {

constexpr uint kFirstPrintable = 0x20;
constexpr uint kDelete = 0x7f;
constexpr uint kLastC1Control = 0x9f;

} // namespace

QString visibleText(const QByteArray &text)
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
