#pragma once

#include <QByteArray>
#include <QString>

class QDateTime;
struct _RECVPATH_LISTDATA;

// Where a received file goes: the receive rule a descriptor selects, and a name under that rule's
// directory. A relative path comes from the far side, so it is checked before it names anything.
class RecvPathResolver
{
public:
    // Finds the first receive rule with this key (case-sensitive) made for this gap, raises its
    // in-use count and gives its directory; null when none matches. The caller hands the rule
    // back to releaseRecvPath exactly once.
    static _RECVPATH_LISTDATA *findRecvPath(
        const QString &ruleKey, QString *recvDir, const QByteArray &gapAddress);
    static void releaseRecvPath(_RECVPATH_LISTDATA *rule);

    // Creates every missing directory of an absolute path; returns the path.
    static QString createMutiDir(const QString &path);

    // Whether a relative path from the wire stays inside the directory it is joined to: "/"
    // separated names, none empty, "." or "..", no backslash, not absolute.
    static bool isSafeRelativePath(const QByteArray &relativePath);

    // The attempt-th name a file may take: 0 is its own path under the directory; a taken name
    // gives way to the name alone, time-stamped to the minute, directly in the directory, and
    // further attempts number the stamped name so that no existing file is ever reused.
    static QString candidatePath(
        const QString &recvDir, const QString &relativePath, const QDateTime &now, int attempt);
    // The first candidate that no file holds yet.
    static QString freePath(
        const QString &recvDir, const QString &relativePath, const QDateTime &now);

    // The attempt-th hidden name beside a final path under which its content is written.
    static QString partPath(const QString &finalPath, int attempt);

    // How many names are tried before a file is given up.
    static constexpr int kMaxNameAttempts = 1000;
};
