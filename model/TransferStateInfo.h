#pragma once

#include "model/HandOver.h"

#include <QMetaType>
#include <QString>
#include <QVector>

// The eight status texts of one transfer row: 0 file name, 1 rate, 2 progress, 3 size,
// 4 transfer path, 5 start time, 6 end time, 7 status; and, not shown as a column, where a
// received file was stored once it was. Implicitly shared, cheap to copy.
//
// A record crosses threads as a queued signal's argument: Qt copies it in the sending thread and
// passes the copy on through its posted-event queue, under a lock that ThreadSanitizer cannot see.
// So every copy hands itself over (model/HandOver.h): what the thread that made a record did
// before is ordered before what a thread does after copying from that record.
class TransferStateInfo
{
public:
    static constexpr int kColumns = 8;
    enum Column : int {
        FileName = 0,
        Rate = 1,
        Progress = 2,
        Size = 3,
        TransferPath = 4,
        StartTime = 5,
        EndTime = 6,
        Status = 7,
        StoredPath = 8, // not a column
    };

    TransferStateInfo()
        : m_texts(StoredPath + 1)
    {
    }
    TransferStateInfo(const TransferStateInfo &other)
        : m_texts(takenOver(other).m_texts)
    {
        HandOver::release(this);
    }
    TransferStateInfo &operator=(const TransferStateInfo &other)
    {
        m_texts = takenOver(other).m_texts;
        HandOver::release(this);
        return *this;
    }
    ~TransferStateInfo() = default;

    void setText(int column, const QString &text) { m_texts[column] = text; }
    const QString &operator[](int column) const { return m_texts.at(column); }
    const QString &at(int column) const { return m_texts.at(column); }

private:
    static const TransferStateInfo &takenOver(const TransferStateInfo &record)
    {
        HandOver::acquire(&record);
        return record;
    }

    QVector<QString> m_texts;
};

Q_DECLARE_METATYPE(TransferStateInfo)
