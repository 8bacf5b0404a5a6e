#include "views/transfers/RecvStatusView.h"

#include "chrome/FileManager.h"
#include "model/GlobalData.h"
#include "views/transfers/TransferItem.h"

#include <QFileInfo>
#include <QMenu>

namespace {

const QString kOpenFile = QStringLiteral("打开文件");
const QString kOpenFolder = QStringLiteral("打开所在目录");

} // namespace

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

void RecvStatusView::addFileActions(QMenu *menu, TransferItem *item)
{
    const QString path = item->filePath();
    const bool stored = item->outcome() == TransferOutcome::Done && QFileInfo(path).isFile();
    addRowAction(menu, kOpenFile, item, [](TransferItem *row) {
        FileManager::openFile(row->filePath());
    })->setEnabled(stored);
    addRowAction(menu, kOpenFolder, item, [](TransferItem *row) {
        FileManager::showFile(row->filePath());
    })->setEnabled(!path.isEmpty());
}
