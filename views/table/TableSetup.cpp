#include "views/table/TableSetup.h"

#include "model/TransferStateInfo.h"
#include "views/table/ColumnFitter.h"
#include "views/table/SeparatedHeader.h"
#include "views/transfers/TransferOutcome.h"

#include <QFontMetrics>
#include <QHeaderView>
#include <QStyle>
#include <QTableWidget>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <iterator>

namespace TableSetup {

namespace {

// A file name keeps at least this much of a narrow window, and twice the share of the other
// columns that grow in a wide one.
constexpr int kFileNameFloor = 160;
constexpr int kFileNameShare = 2;
constexpr int kGrowingShare = 1;
constexpr int kProgressFloor = 90;
constexpr int kIconSpacing = 4;

// The longest of the status texts that room is kept for in advance.
const QString kWidestUsualStatus = QStringLiteral("接收端文件校验失败/稍后重发(错误代码:15)");

// The known status texts no wider than the usual ones. The few longer ones (a refusal that also
// says the file was removed) widen the column when a row shows them, so that a window of 800 px
// keeps the name, the progress and the status in view until then.
QStringList usualStatusTexts(const QFontMetrics &metrics)
{
    const int widest = metrics.horizontalAdvance(kWidestUsualStatus);
    QStringList usual;
    for (const QString &text : TransferOutcome::knownTexts()) {
        if (metrics.horizontalAdvance(text) <= widest)
            usual << text;
    }
    return usual;
}

// What each column of a transfer row must show whole. The widest texts a column can hold stand in
// for the texts to come; the transfer path and the status also follow the texts they show.
QVector<ColumnFitter::Column> transferColumns(const QTreeView *tree)
{
    const QString time = QStringLiteral("8888-88-88 88:88:88");
    QVector<ColumnFitter::Column> columns(TransferStateInfo::kColumns);
    ColumnFitter::Column &name = columns[TransferStateInfo::FileName];
    name.floor = kFileNameFloor;
    name.share = kFileNameShare;
    // The outcome's icon stands before the name.
    name.extra = tree->style()->pixelMetric(QStyle::PM_SmallIconSize) + kIconSpacing;
    columns[TransferStateInfo::Rate].samples
        = QStringList { QStringLiteral("1023.99 MB/s"), QStringLiteral("0 Mbps") };
    columns[TransferStateInfo::Progress].floor = kProgressFloor;
    columns[TransferStateInfo::Size].samples = QStringList { QStringLiteral("1023.99MB") };
    columns[TransferStateInfo::TransferPath].followsContents = true;
    columns[TransferStateInfo::TransferPath].share = kGrowingShare;
    columns[TransferStateInfo::StartTime].samples = QStringList { time };
    columns[TransferStateInfo::EndTime].samples = QStringList { time };
    ColumnFitter::Column &status = columns[TransferStateInfo::Status];
    status.samples = usualStatusTexts(tree->fontMetrics());
    status.followsContents = true;
    status.share = kGrowingShare;
    // In a narrow window the name, the progress and the status stay; the others give way, the
    // least telling first.
    const int giveWay[] = { TransferStateInfo::TransferPath, TransferStateInfo::StartTime,
        TransferStateInfo::EndTime, TransferStateInfo::Size, TransferStateInfo::Rate };
    for (int order = 0; order < int(std::size(giveWay)); ++order)
        columns[giveWay[order]].giveWayOrder = order + 1;
    return columns;
}
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
    tree->setHeader(new SeparatedHeader(Qt::Horizontal, tree));
    tree->setColumnCount(headers.size());
    tree->setHeaderLabels(headers);
    tree->setRootIsDecorated(false);
    // Texts are never cut: a window too narrow for them all scrolls sideways.
    new ColumnFitter(tree, tree->header(), transferColumns(tree));
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
