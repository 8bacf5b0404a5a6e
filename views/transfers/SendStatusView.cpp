#include "views/transfers/SendStatusView.h"

#include "model/GlobalData.h"
#include "views/transfers/TransferItem.h"

#include <QTreeWidget>

SendStatusView::SendStatusView(QWidget *parent)
    : TransferStatusView(parent)
{
}

void SendStatusView::onInsertItem(_FINDFILEINFO *file, _SENDPATH_LISTDATA *rule)
{
    // A file offered again after a failed round, or after the user stopped it, goes on in its row:
    // a second row would leave the first one saying that it waits.
    TransferItem *item = file->offeredAgain ? idleRowOf(file->fileKey()) : nullptr;
    if (item) {
        tree()->takeTopLevelItem(tree()->indexOfTopLevelItem(item));
        addRow(item);
        item->sendAgain(file);
        return;
    }
    item = new TransferItem(file, rule);
    addRow(item);
    item->sendStart();
}

TransferItem *SendStatusView::idleRowOf(const FileKey &key) const
{
    for (int row = 0; row < tree()->topLevelItemCount(); ++row) {
        auto *item = static_cast<TransferItem *>(tree()->topLevelItem(row));
        if (item->fileKey() != key || item->outcome() == TransferOutcome::Done)
            continue;
        if (item->outcome() != TransferOutcome::Running
            || TransferOutcome::isWaitingForRetry(item->text(TransferStateInfo::Status)))
            return item;
    }
    return nullptr;
}

QString SendStatusView::clearRefusal() const
{
    return isSending ? QStringLiteral("请先停止发送") : QString();
}
