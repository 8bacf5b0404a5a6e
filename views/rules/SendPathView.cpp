#include "views/rules/SendPathView.h"

#include "model/GlobalData.h"
#include "views/rules/RuleFields.h"
#include "views/rules/SendPathDialog.h"

#include <QTableWidget>

SendPathView::SendPathView(QWidget *parent)
    : RuleListView(
        { { QStringLiteral("序号"), QStringLiteral("文件路径"), QStringLiteral("隔离器地址"),
              QStringLiteral("发送路径"), QStringLiteral("发送状态"), QStringLiteral("接收人") },
            { 80, 300, 200, 200, 200, 120 }, QColor(155, 167, 189),
            QStringLiteral("发送目录--添加"), QStringLiteral("发送目录--修改"),
            QStringLiteral("当前没有发送目录"), QStringLiteral("请先选中目录再进行操作"), true },
        parent)
{
    connect(table(), &QTableWidget::doubleClicked, this, &SendPathView::onAddBtnClicked);
    onDisPlayList();
}

void SendPathView::setSendPathTableItem(int row, QString text) { setStatusCell(row, text); }

int SendPathView::ruleCount() const { return g_SendPathList.size(); }

QList<QStringList> SendPathView::ruleCells() const
{
    QList<QStringList> cells;
    const QList<_SENDPATH_LISTDATA *> rules = g_SendPathList.snapshot();
    for (const _SENDPATH_LISTDATA *rule : rules) {
        QString status;
        {
            QMutexLocker lock(&statusMutex);
            status = rule->statusText;
        }
        cells.append({ rule->SendPath, RuleFields::latin1Text(rule->GapIP, kHostIPSize),
            RuleFields::utf8Text(rule->SendPathID, kPathIDSize), status,
            RuleFields::latin1Text(rule->ToUser, kUserNameSize) });
    }
    return cells;
}

bool SendPathView::isBusy(int row) const
{
    const _SENDPATH_LISTDATA *rule = g_SendPathList.value(row);
    return rule && rule->scanStarted;
}

void SendPathView::removeRule(int row)
{
    // Only unlisted: the scanner or a sender may still hold the record.
    g_SendPathList.removeAt(row);
}

RuleDialog *SendPathView::createDialog()
{
    auto *dialog = new SendPathDialog;
    connect(dialog, &SendPathDialog::addSendPath, this, &SendPathView::onDisPlayList);
    return dialog;
}
