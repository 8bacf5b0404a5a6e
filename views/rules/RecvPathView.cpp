#include "views/rules/RecvPathView.h"

#include "model/GlobalData.h"
#include "views/rules/RecvPathDialog.h"
#include "views/rules/RuleFields.h"

#include <QTableWidget>

RecvPathView::RecvPathView(QWidget *parent)
    : RuleListView(
        // The local directory is headed as on the send list: "接收路径" names the gap's path.
        { { QStringLiteral("序号"), QStringLiteral("文件路径"), QStringLiteral("隔离器地址"),
              QStringLiteral("接收路径"), QStringLiteral("接收状态"), QStringLiteral("发送人") },
            { 80, 260, 230, 200, 180, 150 }, QColor(188, 205, 212), QStringLiteral("接收目录-添加"),
            QStringLiteral("接收目录--修改"), QStringLiteral("当前没有接收目录"),
            QStringLiteral("请先选择一行再进行操作"), false },
        parent)
{
    onDisPlayList();
}

void RecvPathView::setRecvPathTableItem(int row, QString text)
{
    const QTableWidgetItem *current = table()->item(row, kStatusColumn);
    if (current && current->text() == text)
        return;
    setStatusCell(row, text);
}

int RecvPathView::ruleCount() const { return g_RecvPathList.size(); }

QList<QStringList> RecvPathView::ruleCells() const
{
    QList<QStringList> cells;
    const QList<_RECVPATH_LISTDATA *> rules = g_RecvPathList.snapshot();
    for (const _RECVPATH_LISTDATA *rule : rules) {
        QString status;
        {
            QMutexLocker lock(&statusMutex);
            status = rule->statusText;
        }
        cells.append({ rule->RecvPath, RuleFields::latin1Text(rule->GapIP, kHostIPSize),
            RuleFields::utf8Text(rule->RecvPathID, kPathIDSize), status,
            RuleFields::utf8Text(rule->FromUser, kUserNameSize) });
    }
    return cells;
}

bool RecvPathView::isBusy(int row) const
{
    const _RECVPATH_LISTDATA *rule = g_RecvPathList.value(row);
    return rule && rule->useCount != 0;
}

void RecvPathView::removeRule(int row)
{
    // Only unlisted: a receiving worker may still hold the record.
    g_RecvPathList.removeAt(row);
}

RuleDialog *RecvPathView::createDialog()
{
    auto *dialog = new RecvPathDialog;
    connect(dialog, &RecvPathDialog::addRecvPath, this, &RecvPathView::onDisPlayList);
    return dialog;
}
