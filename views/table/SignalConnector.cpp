#include "views/table/SignalConnector.h"

#include "views/transfers/TransferItem.h"

SignalConnector::SignalConnector(TransferItem *item)
    : m_item(item)
{
}

void SignalConnector::onUpdateRequest(TransferStateInfo info) { m_item->onUpdateRequest(info); }
