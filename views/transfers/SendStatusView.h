#pragma once

#include "views/transfers/TransferStatusView.h"

struct _FINDFILEINFO;
struct _SENDPATH_LISTDATA;

// The page that lists the files being sent, newest first.
class SendStatusView : public TransferStatusView
{
    Q_OBJECT

public:
    explicit SendStatusView(QWidget *parent = nullptr);

    // True while sending is switched on; the main window sets and clears it. The list cannot be
    // cleared meanwhile.
    bool isSending = false;

public slots:
    // A file the scanner handed over: adds its row and starts sending it.
    void onInsertItem(_FINDFILEINFO *file, _SENDPATH_LISTDATA *rule);

protected:
    QString clearRefusal() const override;
};
