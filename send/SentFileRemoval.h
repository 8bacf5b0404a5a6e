#pragma once

#include "model/FileIdentity.h"

#include <QByteArray>

// Removes a file from a send directory only if it is still the version that was delivered (or
// refused). Between the last look and an unlink, a producer may rename a new version over the
// path, and the unlink would take that one, unsent. So the path is first moved aside, in one step
// that never replaces anything, to a hidden name of this client's in the same directory; what was
// moved is checked (device, inode, birth time, size, modification time; the change time is
// checked just before, as the move itself changes it) and unlinked only if it is that version.
// Another version is moved back, to be offered as a new file.
class SentFileRemoval
{
public:
    enum Outcome {
        Removed, // the version is gone from the directory
        OtherVersion, // the path names another version, which stays
        Failed, // the version is still there: the directory or the file system refused
    };

    static Outcome remove(const QByteArray &path, const FileIdentity &version);
};
