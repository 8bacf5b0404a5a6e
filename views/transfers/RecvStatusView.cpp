#include "views/transfers/RecvStatusView.h"

#include "model/GlobalData.h"
#include "views/transfers/TransferItem.h"

RecvStatusView::RecvStatusView(QWidget *parent)
    : TransferStatusView(parent)
{
}

void RecvStatusView::onInsertItem(qintptr socketDescriptor)
{
    auto *item = new TransferItem(socketDescriptor);
    addRow(item);
    item->recvStart();
}

QString RecvStatusView::clearRefusal() const
{
    const QList<_RECVPATH_LISTDATA *> rules = g_RecvPathList.snapshot();
    for (const _RECVPATH_LISTDATA *rule : rules) {
        if (rule->useCount > 0)
            return QStringLiteral("正在接收文件中");
    }
    return QString();
}
