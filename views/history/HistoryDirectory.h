#pragma once

#include <QString>

struct HistoryRow;

// Where the file of a send or receive event lies, found among the rules the client has now. The
// event names no rule key, so a send is matched by its gap and both users (a send rule's gap,
// FromUser and ToUser), a receive by its gap and sending user (a receive rule's gap and
// FromUser). When several rules with different directories match, the one holding the file
// decides. The event names the file below the rule's directory (a receive by the name it was
// stored under), so its own folder is found, never one outside the rule's directory.
class HistoryDirectory
{
public:
    // The folder of the file, or the rule's directory when that folder is gone; empty when no
    // directory is known or it no longer exists.
    static QString of(const HistoryRow &row);
    // The file itself, or empty when it is not there (sent and deleted, or moved away).
    static QString fileOf(const HistoryRow &row);
};
