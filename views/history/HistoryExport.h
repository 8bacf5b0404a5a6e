#pragma once

#include "audit/AuditFilter.h"

#include <QString>
#include <functional>

// Writes the events a filter lets through into a CSV file exactly as gapaudit --format csv does
// (oldest first, for a spreadsheet), readable by its owner only like the store. The file appears whole
// or not at all. Runs in any thread, with a read-only connection of its own.
class HistoryExport
{
public:
    struct Result {
        bool written = false;
        int events = 0;
        QString error;
    };

    static Result writeCsv(const QString &database, const AuditFilter &filter,
        const QString &fileName, const std::function<bool()> &cancelled);
};
