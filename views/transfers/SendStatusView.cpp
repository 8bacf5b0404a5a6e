#include "views/transfers/SendStatusView.h"

#include "model/BaseFunction.h"
#include "model/GlobalData.h"
#include "views/transfers/TransferItem.h"

#include <QDateTime>
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

void SendStatusView::onUnsendable(
    _SENDPATH_LISTDATA *rule, const QString &filePath, qint64 size, const QString &reason)
{
    QByteArray pathKey;
    {
        QMutexLocker lock(&sendTaskMutex); // a rule is changed in place under it
        pathKey = QByteArray(rule->SendPathID, int(strnlen(rule->SendPathID, kPathIDSize)));
    }
    const QString now
        = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    TransferStateInfo info;
    info.setText(TransferStateInfo::FileName, filePath.mid(filePath.lastIndexOf('/') + 1));
    info.setText(TransferStateInfo::Size, BaseFunction::calcSize(size));
    info.setText(TransferStateInfo::TransferPath, QString::fromUtf8(pathKey));
    info.setText(TransferStateInfo::StartTime, now);
    info.setText(TransferStateInfo::EndTime, now);
    info.setText(TransferStateInfo::Status, reason);
    auto *item = new TransferItem(filePath, rule);
    addRow(item);
    item->onUpdateRequest(info);
}

void SendStatusView::endWaitingRows()
{
    const QString now
        = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    for (int row = 0; row < tree()->topLevelItemCount(); ++row) {
        auto *item = static_cast<TransferItem *>(tree()->topLevelItem(row));
        if (!TransferOutcome::isWaitingForRetry(item->text(TransferStateInfo::Status)))
            continue;
        TransferStateInfo info;
        for (int column = 0; column < TransferStateInfo::kColumns; ++column)
            info.setText(column, item->text(column));
        info.setText(TransferStateInfo::EndTime, now);
        info.setText(TransferStateInfo::Status, QStringLiteral("用户停止发送"));
        item->onUpdateRequest(info);
    }
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
