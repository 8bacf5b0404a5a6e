#include "views/transfers/SendStatusView.h"

#include "model/BaseFunction.h"
#include "model/GlobalData.h"
#include "send/SendLedger.h"
#include "views/transfers/SendDrop.h"
#include "views/transfers/TransferItem.h"

#include <QBoxLayout>
#include <QDateTime>
#include <QMenu>
#include <QPushButton>
#include <QTreeWidget>

namespace {

const QString kRetryNow = QStringLiteral("立即重试");
const QString kCancelSend = QStringLiteral("取消发送");
const QString kStopQuestion
    = QStringLiteral("删除将停止发送该文件，文件仍留在发送目录中。确认删除？");

// A row whose file the engine would send again by itself, or that the user stopped.
bool mayRetry(const TransferItem *item)
{
    return item->outcome() == TransferOutcome::Failed
        || item->outcome() == TransferOutcome::Waiting;
}

} // namespace

SendStatusView::SendStatusView(QWidget *parent)
    : TransferStatusView(parent)
    , m_drop(new SendDrop(this))
    , m_addFilesButton(new QPushButton(QStringLiteral("添加文件…"), this))
{
    m_addFilesButton->setAutoDefault(false);
    auto *page = static_cast<QBoxLayout *>(layout());
    // Below the filter bar; the button first in the row of buttons at the foot.
    page->insertWidget(1, m_drop->strip());
    static_cast<QBoxLayout *>(page->itemAt(page->count() - 1)->layout())
        ->insertWidget(0, m_addFilesButton);
    connect(m_addFilesButton, &QPushButton::clicked, m_drop, &SendDrop::addFiles);
    m_drop->acceptDropsOn(this);
    m_drop->setSendingCheck([this] { return isSending; });
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
        if (item->outcome() != TransferOutcome::Running)
            return item;
    }
    return nullptr;
}

QString SendStatusView::clearRefusal() const
{
    return isSending ? QStringLiteral("请先停止发送") : QString();
}

void SendStatusView::retryNow(TransferItem *item)
{
    if (item->sendRule())
        SendLedger::retryNow(item->sendRule(), item->fileKey());
}

void SendStatusView::cancelSend(TransferItem *item)
{
    // A worker that runs ends the row with its own report; a file that only waited has none.
    if (item->sendRule()
        && SendLedger::cancel(item->sendRule(), item->fileKey()) == SendLedger::Request::Dropped)
        item->endByUser();
}

void SendStatusView::addFileActions(QMenu *menu, TransferItem *item)
{
    const bool idle = mayRetry(item);
    addRowAction(menu, kRetryNow, item, [this](TransferItem *row) { retryNow(row); })
        ->setEnabled(idle);
    addRowAction(menu, kCancelSend, item, [this](TransferItem *row) { cancelSend(row); })
        ->setEnabled(idle);
}

bool SendStatusView::stopBeforeDelete(TransferItem *item)
{
    if (!ask(kStopQuestion))
        return false;
    if (item->sendRule())
        SendLedger::cancel(item->sendRule(), item->fileKey());
    return true;
}
