#pragma once

#include <QString>
#include <functional>

// Every file or folder the client opens in the desktop's own programs goes through here. By
// default the desktop opens them (QDesktopServices, and the file manager's D-Bus interface to
// show a file selected); tests install a handler that records the request.
struct FileManagerRequest {
    enum Action {
        OpenFile, // the file in the program the desktop gives its type
        OpenFolder, // the folder in the file manager
        ShowFile, // the file's folder, with the file selected where the file manager can
    };
    Action action = OpenFile;
    QString path;
};

class FileManager
{
public:
    using Handler = std::function<bool(const FileManagerRequest &)>;

    // Each returns false when the desktop could not be asked.
    static bool openFile(const QString &path);
    static bool openFolder(const QString &path);
    static bool showFile(const QString &path);

    static void setHandler(Handler handler); // an empty handler restores the desktop's

private:
    static bool request(FileManagerRequest::Action action, const QString &path);
};
