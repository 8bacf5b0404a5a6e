#pragma once

#include <QtGlobal>
#include <QString>
#include <QStringList>

class QModelIndex;

// What a transfer amounts to, in the one vocabulary every view of the client uses: the status
// pages' rows (read from their status text and end time), the history page and gapaudit (read
// from an audit event's outcome flag and message). Each outcome has one word and one colour
// wherever it is shown; the workers' texts stay as they are.
class TransferOutcome
{
public:
    // Running: a worker moves the file (an attempt that failed and is tried again at once
    // included). Waiting: a round of attempts failed and the file waits to be offered again.
    enum Kind { Running, Done, Refused, Failed, Waiting };
    static constexpr int kKinds = 5;

    // A text of a status row gives its outcome. An unknown text counts as running while the row
    // has no end time and as failed once it has one: a worker sets the end time when it gives up.
    static Kind of(const QString &status, const QString &endTime);
    // The same for the row of a status view that holds the index.
    static Kind ofRow(const QModelIndex &index);
    // A file's audit event, by its outcome flag (1 success) and its message: a failed attempt that
    // is tried again waits, an unknown message of a failure counts as failed.
    static Kind ofEvent(int flag, const QString &message);

    // Every status text the table knows, for sizing the status column.
    static QStringList knownTexts();
    // A sending row whose round of attempts failed and whose file waits to be offered again:
    // "等待重发" and when, then why.
    static bool isWaitingForRetry(const QString &status);
    // A sending row that ended because the user stopped its file, or stopped sending.
    static bool isStoppedByUser(const QString &status);
    // Whether the row is over: nothing runs for it and nothing waits to run.
    static bool hasEnded(Kind kind) { return kind == Done || kind == Refused || kind == Failed; }

    // The outcome's word: "进行中", "成功", "已拒绝", "失败", "等待重发".
    static QString label(Kind kind);
    // The outcome by its word or by its name in gapaudit's options (running, success, refused,
    // failed, waiting); false for any other text.
    static bool parse(const QString &text, Kind *kind);
    static QString name(Kind kind);
    // The colour of the outcome's word and icon (ARGB), dark enough for text on white.
    static quint32 colour(Kind kind);
    // The colour of a progress bar's chunk, light enough for a dark label on it.
    static quint32 barColour(Kind kind);
};
