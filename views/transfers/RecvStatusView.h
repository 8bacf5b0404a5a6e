#pragma once

#include "views/transfers/TransferStatusView.h"

// The page that lists the files being received, newest first. A received file can be opened,
// or shown in its folder, from its row.
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
    void addFileActions(QMenu *menu, TransferItem *item) override;
    // A file being received cannot be stopped from here: its row stays until it ends.
    bool canDeleteRunning() const override { return false; }
    bool stopBeforeDelete(TransferItem *) override { return false; }
};
