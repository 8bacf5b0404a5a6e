#pragma once

#include <QString>

class QTemporaryFile;

// Temporary files for data no other user may read, kept out of the program's folder (which is not
// writable once installed): in the user's runtime directory when there is one, else in the
// temporary directory. Each is created readable and writable by its owner only.
namespace PrivateTempFile {

// $XDG_RUNTIME_DIR when it names an existing directory, else QDir::tempPath().
QString preferredDirectory();

// Creates and opens a new file named stem-XXXXXX in the preferred directory, or in the temporary
// directory when that fails; false when neither could take it.
bool open(QTemporaryFile *file, const QString &stem);

} // namespace PrivateTempFile
