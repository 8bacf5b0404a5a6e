#include "views/SendStatusView.h"

#include "model/BaseFunction.h"
#include "model/GlobalData.h"
#include "views/TableSetup.h"

#include <QFileInfo>
#include <QTreeWidget>

namespace {

enum Column { FileName = 0, Size = 3, TransferPath = 4 };

} // namespace

SendStatusView::SendStatusView(QWidget *parent)
    : QWidget(parent)
    , m_tree(TableSetup::addTransferTree(this, TableSetup::transferHeaders()))
{
}

void SendStatusView::onInsertItem(_FINDFILEINFO *file, _SENDPATH_LISTDATA *rule)
{
    auto *item = new QTreeWidgetItem;
    item->setText(FileName, QFileInfo(file->filePath).fileName());
    item->setText(Size, BaseFunction::calcSize(file->size));
    item->setText(TransferPath, QString::fromLatin1(rule->SendPathID));
    m_tree->insertTopLevelItem(0, item);
}
