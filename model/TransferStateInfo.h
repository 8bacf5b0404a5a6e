#pragma once

#include <QMetaType>
#include <QString>
#include <QVector>

// The eight status texts of one transfer row: 0 file name, 1 rate, 2 progress, 3 size,
// 4 transfer path, 5 start time, 6 end time, 7 status. Implicitly shared, cheap to copy.
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
    };

    TransferStateInfo()
        : m_texts(kColumns)
    {
    }

    void setText(int column, const QString &text) { m_texts[column] = text; }
    const QString &operator[](int column) const { return m_texts.at(column); }
    const QString &at(int column) const { return m_texts.at(column); }

private:
    QVector<QString> m_texts;
};

Q_DECLARE_METATYPE(TransferStateInfo)
