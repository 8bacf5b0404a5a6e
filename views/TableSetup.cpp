#include "views/TableSetup.h"

#include <QHeaderView>
#include <QTableWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace TableSetup {

namespace {

constexpr int kMinimumTransferColumnWidth = 150;
const QString kHeaderStyleSheet = QStringLiteral(
    "QHeaderView::section{background:#E4EBFE;color:#41444b;border:0px solid black;height:30px;"
    "font-size:15px;}");

QVBoxLayout *pageLayout(QWidget *page)
{
    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    return layout;
}

} // namespace

QTableWidget *addFixedTable(QWidget *page, const QStringList &headers)
{
    auto *table = new QTableWidget(kFixedRows, headers.size(), page);
    table->setHorizontalHeaderLabels(headers);
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    table->verticalHeader()->setVisible(false);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setAlternatingRowColors(true);
    table->setShowGrid(false);
    pageLayout(page)->addWidget(table);
    return table;
}

QTreeWidget *addTransferTree(QWidget *page, const QStringList &headers)
{
    auto *tree = new QTreeWidget(page);
    tree->setColumnCount(headers.size());
    tree->setHeaderLabels(headers);
    tree->setRootIsDecorated(false);
    // Wide enough for a whole time stamp; a narrow window scrolls instead of cutting texts.
    tree->header()->setMinimumSectionSize(kMinimumTransferColumnWidth);
    tree->header()->setSectionResizeMode(QHeaderView::Stretch);
    pageLayout(page)->addWidget(tree);
    return tree;
}

QTableWidgetItem *centredItem(const QString &text)
{
    auto *item = new QTableWidgetItem(text);
    item->setTextAlignment(Qt::AlignCenter);
    return item;
}

QStringList transferHeaders()
{
    return { QStringLiteral("文件名"), QStringLiteral("速率"), QStringLiteral("进度"),
        QStringLiteral("大小"), QStringLiteral("传输路径"), QStringLiteral("开始时间"),
        QStringLiteral("结束时间"), QStringLiteral("状态") };
}

QString headerStyleSheet() { return kHeaderStyleSheet; }

} // namespace TableSetup
