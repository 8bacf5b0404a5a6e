#include "chrome/FileManager.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

namespace {

const QString kService = QStringLiteral("org.freedesktop.FileManager1");
const QString kObjectPath = QStringLiteral("/org/freedesktop/FileManager1");
const QString kShowItems = QStringLiteral("ShowItems");

// Whether a file manager on the session bus takes requests to show items (running or started on
// demand).
bool fileManagerOnBus(const QDBusConnection &bus)
{
    if (!bus.isConnected())
        return false;
    const QDBusConnectionInterface *daemon = bus.interface();
    return daemon->isServiceRegistered(kService).value()
        || daemon->activatableServiceNames().value().contains(kService);
}

bool showSelected(const QString &path)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!fileManagerOnBus(bus))
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kObjectPath, kService, kShowItems);
    call << QStringList { QUrl::fromLocalFile(path).toString() } << QString();
    // Not waited for: a file manager that starts slowly must not hold the window.
    return bus.send(call);
}

bool desktopRequest(const FileManagerRequest &request)
{
    switch (request.action) {
    case FileManagerRequest::OpenFile:
    case FileManagerRequest::OpenFolder:
        return QDesktopServices::openUrl(QUrl::fromLocalFile(request.path));
    case FileManagerRequest::ShowFile:
        break;
    }
    return showSelected(request.path)
        || QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(request.path).absolutePath()));
}

FileManager::Handler &currentHandler()
{
    static FileManager::Handler current = &desktopRequest;
    return current;
}

} // namespace

bool FileManager::openFile(const QString &path) { return request(FileManagerRequest::OpenFile, path); }

bool FileManager::openFolder(const QString &path)
{
    return request(FileManagerRequest::OpenFolder, path);
}

bool FileManager::showFile(const QString &path) { return request(FileManagerRequest::ShowFile, path); }

void FileManager::setHandler(Handler handler)
{
    currentHandler() = handler ? std::move(handler) : Handler(&desktopRequest);
}

bool FileManager::request(FileManagerRequest::Action action, const QString &path)
{
    FileManagerRequest request;
    request.action = action;
    request.path = path;
    return currentHandler()(request);
}
