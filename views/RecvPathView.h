#pragma once

#include <QString>
#include <QWidget>

class QTableWidget;

// The page that lists the receive rules with their current state. Adding, changing and deleting
// rules from this page come later.
class RecvPathView : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kStatusColumn = 4;

    explicit RecvPathView(QWidget *parent = nullptr);

    QTableWidget *table() const { return m_table; }

public slots:
    void onDisPlayList();
    void setRecvPathTableItem(int row, QString text);

private:
    QTableWidget *m_table;
};
