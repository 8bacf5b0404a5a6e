#include "views/SignalConnector.h"

#include "views/TransferItem.h"

SignalConnector::SignalConnector(TransferItem *item)
    : m_item(item)
{
}

void SignalConnector::onUpdateRequest(TransferStateInfo info) { m_item->onUpdateRequest(info); }
