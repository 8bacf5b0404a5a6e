#pragma once

#include <QString>

struct HistoryRow;

// The local directory of the rule a send or receive event went through, found among the rules
// the client has now. The event names no rule key, so a send is matched by its gap and both users
// (a send rule's gap, FromUser and ToUser), a receive by its gap and sending user (a receive
// rule's gap and FromUser). When several rules with different directories match, the one holding
// the file decides. Empty when no directory is known or it no longer exists.
class HistoryDirectory
{
public:
    static QString of(const HistoryRow &row);
};
