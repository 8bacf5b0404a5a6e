#include "model/AuditLog.h"

#include "audit/dlog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibrary>
#include <QtDebug>

namespace {

constexpr const char *kLibraryVariable = "VARKO_DLOG_LIBRARY";
constexpr const char *kLibraryName = "dlog";
constexpr const char *kLibraryFile = "libdlog.so";

// The library's three functions, typed from its own header (dlog is variadic, and must be called
// as such).
struct DlogApi {
    decltype(&::dlog_init) init = nullptr;
    decltype(&::dlog) log = nullptr;
    decltype(&::dlog_destroy) destroy = nullptr;
};

// The explicit choice, else the copy beside the program (a build tree), else the one installed
// with it (the package keeps it out of the program folder), else whatever the dynamic loader
// finds by name. The note says where the default search looked, for the warning.
QString libraryToLoad(QString *note)
{
    const QString chosen = qEnvironmentVariable(kLibraryVariable);
    if (!chosen.isEmpty())
        return chosen;
    if (QCoreApplication::instance()) {
        const QString programDir = QCoreApplication::applicationDirPath() + '/';
        const QString beside = programDir + kLibraryFile;
        const QString installed = QDir::cleanPath(programDir + AuditLog::installedLibraryPath());
        for (const QString &candidate : { beside, installed }) {
            if (QFileInfo::exists(candidate))
                return candidate;
        }
        *note
            = QStringLiteral("(no %1, no %2, nor %3 set)").arg(beside, installed, kLibraryVariable);
    }
    return kLibraryName;
}

DlogApi load()
{
    QString note;
    // Not unloaded when this object goes: QLibrary keeps the library loaded for the process.
    QLibrary library(libraryToLoad(&note));
    if (!library.load()) {
        qWarning().noquote() << "audit log is off:" << library.errorString() << note;
        return {};
    }
    DlogApi api;
    api.init = reinterpret_cast<decltype(api.init)>(library.resolve("dlog_init"));
    api.log = reinterpret_cast<decltype(api.log)>(library.resolve("dlog"));
    api.destroy = reinterpret_cast<decltype(api.destroy)>(library.resolve("dlog_destroy"));
    if (!api.init || !api.log || !api.destroy) {
        qWarning().noquote() << "audit log is off:" << library.fileName()
                             << "lacks dlog_init, dlog or dlog_destroy";
        return {};
    }
    return api;
}

// Loaded once, on first use, from whichever thread comes first.
const DlogApi &api()
{
    static const DlogApi loaded = load();
    return loaded;
}

} // namespace

namespace AuditLog {

QString installedLibraryPath()
{
    return QStringLiteral(GAP_LIBRARY_DIR_FROM_PROGRAM "/") + kLibraryFile;
}

void dlog_init(const char *gapAddress)
{
    if (api().init)
        api().init(gapAddress);
}

void dlog(
    const char *category, const char *user, const char *operation, int outcome, const char *detail)
{
    if (api().log)
        api().log(category, user, operation, outcome, detail);
}

void dlog_destroy()
{
    if (api().destroy)
        api().destroy();
}

bool available() { return api().log != nullptr; }

void record(const QByteArray &gapAddress, const char *category, const QByteArray &user,
    const char *operation, int outcome, const QByteArray &detail)
{
    dlog_init(gapAddress.constData());
    dlog(category, user.constData(), operation, outcome, detail.constData());
    dlog_destroy();
}

} // namespace AuditLog
