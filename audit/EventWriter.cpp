#include "audit/EventWriter.h"

#include "audit/CsvWriter.h"
#include "audit/JsonWriter.h"
#include "audit/TableWriter.h"

QStringList EventWriter::formats()
{
    return { QStringLiteral("table"), QStringLiteral("csv"), QStringLiteral("json") };
}

std::unique_ptr<EventWriter> EventWriter::create(const QString &format, QIODevice *out)
{
    if (format == QLatin1String("table"))
        return std::make_unique<TableWriter>(out);
    if (format == QLatin1String("csv"))
        return std::make_unique<CsvWriter>(out);
    if (format == QLatin1String("json"))
        return std::make_unique<JsonWriter>(out);
    return nullptr;
}
