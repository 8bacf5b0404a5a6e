#pragma once

#include <QByteArray>
#include <QString>

// The client's side of the audit-log library: finds libdlog.so at run time (VARKO_DLOG_LIBRARY,
// default: next to the executable, else where the package installs it) and calls its three
// functions. Without the library the client says so once in its log and every call is a no-op.
namespace AuditLog {

void dlog_init(const char *gapAddress);
void dlog(
    const char *category, const char *user, const char *operation, int outcome, const char *detail);
void dlog_destroy();

// Where the package installs the library, relative to the program's folder.
QString installedLibraryPath();

// Whether the library was found (loads it on first use).
bool available();

// One whole event: init, one record, destroy.
void record(const QByteArray &gapAddress, const char *category, const QByteArray &user,
    const char *operation, int outcome, const QByteArray &detail);

} // namespace AuditLog
