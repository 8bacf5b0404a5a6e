#pragma once

#include "model/TransferStateInfo.h"

#include <QObject>

class TransferItem;

// Receives a worker's reports in the GUI thread on behalf of one transfer row: a tree item is no
// QObject, so this is what the worker's signal is connected to. Deleting it disconnects the worker
// and drops the reports still queued for it.
class SignalConnector : public QObject
{
    Q_OBJECT

public:
    explicit SignalConnector(TransferItem *item);

public slots:
    void onUpdateRequest(TransferStateInfo info);

private:
    TransferItem *m_item;
};
