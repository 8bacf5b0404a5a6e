#pragma once

#include <QByteArray>
#include <QString>

class QDateTime;
struct _RECVPATH_LISTDATA;

// Where a received file goes: the receive rule a descriptor selects, and the names a file may
// take under that rule's directory. A relative path comes from the far side, so it is checked
// before it names anything.
class RecvPathResolver
{
public:
    // Finds the first receive rule with this key (case-sensitive) made for this gap, raises its
    // in-use count and gives its directory; null when none matches. The caller hands the rule
    // back to releaseRecvPath exactly once.
    static _RECVPATH_LISTDATA *findRecvPath(
        const QString &ruleKey, QString *recvDir, const QByteArray &gapAddress);
    static void releaseRecvPath(_RECVPATH_LISTDATA *rule);

    // Whether a relative path from the wire can be placed under a directory, decided before any
    // content arrives: shorter than kMaxRelativePathBytes, "/" separated names, none empty, "."
    // or "..", no backslash, not absolute, and valid UTF-8 (decoding would otherwise change its
    // length and its bytes; the receiver's own part files are named outside UTF-8 for that reason).
    static bool isPlaceable(const QByteArray &relativePath);

    // The attempt-th stamped name (attempt from 1) a file of this name takes when its name is
    // taken: the time to the minute in front, and from the second attempt on a number, so that no
    // existing file is ever reused. A stamped name that would not fit maxBytes keeps the stamp and
    // the suffix (from the last ".") and gives up the end of the base name, at a character.
    static QByteArray stampedName(
        const QByteArray &name, const QDateTime &now, int attempt, int maxBytes = kMaxNameBytes);

    // How many names are tried before a file is given up.
    static constexpr int kMaxNameAttempts = 1000;
    static constexpr int kMaxRelativePathBytes = 255; // a relative path must be shorter
    static constexpr int kMaxNameBytes = 255; // a file name on Linux file systems
};
