#pragma once

#include <QString>
#include <QStringList>

class QModelIndex;

// What a transfer row amounts to, read from its status text (column 7) and its end time
// (column 6): still running, delivered, refused for good, or failed. The status views draw the
// row's bar and icon by it and filter by it; the workers' texts stay as they are.
class TransferOutcome
{
public:
    enum Kind { Running, Done, Refused, Failed };

    // A text of the table gives its outcome. An unknown text counts as running while the row has
    // no end time and as failed once it has one: a worker sets the end time when it gives up.
    static Kind of(const QString &status, const QString &endTime);
    // The same for the row of a status view that holds the index.
    static Kind ofRow(const QModelIndex &index);

    // Every status text the table knows, for sizing the status column.
    static QStringList knownTexts();
    // A sending row whose round of attempts failed and whose file waits to be offered again:
    // "等待重发" and when, then why. It counts as running.
    static bool isWaitingForRetry(const QString &status);
    // A short word for the outcome: "进行中", "已完成", "已拒绝", "失败".
    static QString label(Kind kind);
};
