#include "views/history/HistoryExport.h"

#include "audit/AuditQuery.h"
#include "audit/CsvWriter.h"

#include <QSaveFile>

namespace {

// Exported audit records are evidence like the store they come from.
constexpr QFileDevice::Permissions kOwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

} // namespace

HistoryExport::Result HistoryExport::writeCsv(const QString &database, const AuditFilter &filter,
    const QString &fileName, const std::function<bool()> &cancelled)
{
    Result result;
    AuditQuery query;
    if (!query.open(database)) {
        result.error = query.errorString();
        return result;
    }
    query.setCancelCheck(cancelled);
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly) || !file.setPermissions(kOwnerOnly)) {
        result.error = file.errorString();
        return result;
    }
    CsvWriter writer(&file);
    writer.begin();
    const bool read = query.forEach(filter, [&](const AuditEvent &event) {
        writer.write(event);
        ++result.events;
    });
    writer.end();
    if (!read) {
        result.error = query.errorString();
        return result;
    }
    if (!file.commit()) {
        result.error = file.errorString();
        return result;
    }
    result.written = true;
    return result;
}
