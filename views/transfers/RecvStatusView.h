#pragma once

#include "views/transfers/TransferStatusView.h"

// The page that lists the files being received, newest first.
class RecvStatusView : public TransferStatusView
{
    Q_OBJECT

public:
    explicit RecvStatusView(QWidget *parent = nullptr);

public slots:
    // A connection the file listener accepted: adds its row and starts receiving on it.
    void onInsertItem(qintptr socketDescriptor);

protected:
    QString clearRefusal() const override;
};
