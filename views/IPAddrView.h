#pragma once

#include <QWidget>

class QTableWidget;

// The page that lists the gaps the user is logged in to, with their counters and state.
// Adding, removing and reconnecting gaps from this page come later.
class IPAddrView : public QWidget
{
    Q_OBJECT

public:
    explicit IPAddrView(QWidget *parent = nullptr);

    QTableWidget *table() const { return m_table; }

public slots:
    void onUpdateGapState();

private:
    QTableWidget *m_table;
};
