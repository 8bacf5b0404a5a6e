#include "views/transfers/SendStatusView.h"

#include "views/transfers/TransferItem.h"

SendStatusView::SendStatusView(QWidget *parent)
    : TransferStatusView(parent)
{
}

void SendStatusView::onInsertItem(_FINDFILEINFO *file, _SENDPATH_LISTDATA *rule)
{
    auto *item = new TransferItem(file, rule);
    addRow(item);
    item->sendStart();
}

QString SendStatusView::clearRefusal() const
{
    return isSending ? QStringLiteral("请先停止发送") : QString();
}
