#pragma once

#include <QString>
#include <QStringList>

// The checks a rule's local directory passes, the same in the rule dialogs and in an import.
// Directories are compared as the file system resolves them (cleaned, absolute, links followed):
// a trailing "/" or a link must not let a receive directory inside a send directory through,
// where every received file would be sent out again, in a loop.
class RuleDirectories
{
public:
    enum Kind { Send, Recv };

    struct Listed {
        QStringList sendDirs; // of the send rules, in list order
        QStringList recvDirs; // of the receive rules, in list order
        // The rule being changed, by its index in the list of its kind, or -1: it may not keep
        // its own directory (a change picks one that no rule uses), but it is no other rule that
        // the new directory could lie inside or above.
        int changedIndex = -1;
    };

    // The text that refuses dir as the directory of a rule of this kind, or an empty text; a
    // directory that is not there is not judged here (the dialogs refuse it, an import may keep
    // it). With
    // nestedSendRules false, a send directory inside or above another one is accepted (a rules
    // file of an older version: the scanner gives each file to the innermost rule).
    static QString conflict(
        Kind kind, const QString &dir, const Listed &listed, bool nestedSendRules = true);
    // The directories of the rules listed now.
    static Listed ofRegistries(int changedIndex = -1);
    // Whether a file can be created in the directory (a receive directory under /proc cannot).
    static bool isWritable(const QString &dir);
    static QString resolved(const QString &dir);
};
