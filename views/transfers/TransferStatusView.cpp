#include "views/transfers/TransferStatusView.h"

#include "model/Prompt.h"
#include "model/TransferStateInfo.h"
#include "views/table/TableSetup.h"
#include "views/transfers/TransferDelegate.h"
#include "views/transfers/TransferItem.h"

#include <QBoxLayout>
#include <QButtonGroup>
#include <QClipboard>
#include <QCursor>
#include <QGuiApplication>
#include <QHeaderView>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>
#include <QTreeWidget>
#include <iterator>

namespace {

const QString kPromptTitle = QStringLiteral("提示");
const QString kClearQuestion = QStringLiteral("确认清除？");
const QString kClearFinishedQuestion = QStringLiteral("确认清除所有已结束的记录？");
const QString kCopyPath = QStringLiteral("复制路径");
const QString kDelete = QStringLiteral("删除");
const char *const kFilterStyle
    = "QToolButton{border:1px solid #A9B6D9; border-radius:3px; padding:3px 10px;"
      " background:#FFFFFF; color:#41444b;}"
      "QToolButton:checked{background:#5974FB; border-color:#5974FB; color:#FFFFFF;}";
constexpr int kCountDelayMs = 200;
constexpr int kBarMargin = 6;

// The filters in the order of their buttons, each named by the outcome it shows.
constexpr TransferStatusView::Filter kFilters[] = { TransferStatusView::ShowAll,
    TransferStatusView::ShowRunning, TransferStatusView::ShowDone, TransferStatusView::ShowRefused,
    TransferStatusView::ShowFailed };

QString filterLabel(TransferStatusView::Filter filter)
{
    switch (filter) {
    case TransferStatusView::ShowRunning:
        return TransferOutcome::label(TransferOutcome::Running);
    case TransferStatusView::ShowDone:
        return TransferOutcome::label(TransferOutcome::Done);
    case TransferStatusView::ShowRefused:
        return TransferOutcome::label(TransferOutcome::Refused);
    case TransferStatusView::ShowFailed:
        return TransferOutcome::label(TransferOutcome::Failed);
    case TransferStatusView::ShowAll:
        break;
    }
    return QStringLiteral("全部");
}

TransferOutcome::Kind outcomeOf(const QTreeWidgetItem *item)
{
    return TransferOutcome::of(
        item->text(TransferStateInfo::Status), item->text(TransferStateInfo::EndTime));
}

} // namespace

TransferStatusView::TransferStatusView(QWidget *parent)
    : QWidget(parent)
    , m_tree(TableSetup::addTransferTree(this, TableSetup::transferHeaders()))
    , m_clearButton(new QPushButton(QStringLiteral("清除数据"), this))
    , m_clearFinishedButton(new QPushButton(QStringLiteral("清除已结束"), this))
    , m_filterButtons(new QButtonGroup(this))
{
    m_clearButton->setCheckable(true);
    m_clearButton->setDefault(false);
    m_clearButton->setAutoDefault(false);
    m_clearFinishedButton->setAutoDefault(false);
    // TableSetup laid the tree out in a vertical box: the filter goes above it, the buttons below.
    static_cast<QBoxLayout *>(layout())->insertWidget(0, createFilterBar());
    addButtonRow();
    init();
    tableStyleInit();
    updateCounts();
}

void TransferStatusView::init()
{
    m_tree->setItemDelegate(new TransferDelegate(m_tree));
    m_tree->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_tree, &QWidget::customContextMenuRequested, this, &TransferStatusView::onMenuRequest);
    connect(m_tree, &QTreeWidget::itemDoubleClicked, this,
        [this](QTreeWidgetItem *item) { runFirstAction(item); });
    connect(m_clearButton, &QPushButton::clicked, this, &TransferStatusView::clearTableData);
    connect(m_clearFinishedButton, &QPushButton::clicked, this, &TransferStatusView::clearFinished);

    QAbstractItemModel *model = m_tree->model();
    connect(model, &QAbstractItemModel::dataChanged, this, &TransferStatusView::onRowsChanged);
    connect(model, &QAbstractItemModel::rowsInserted, this,
        [this, model](const QModelIndex &parent, int first, int last) {
            onRowsChanged(model->index(first, 0, parent), model->index(last, 0, parent));
        });
    connect(model, &QAbstractItemModel::rowsRemoved, &m_countTimer, qOverload<>(&QTimer::start));
    connect(model, &QAbstractItemModel::modelReset, &m_countTimer, qOverload<>(&QTimer::start));
    m_countTimer.setSingleShot(true);
    m_countTimer.setInterval(kCountDelayMs);
    connect(&m_countTimer, &QTimer::timeout, this, &TransferStatusView::updateCounts);
}

void TransferStatusView::tableStyleInit()
{
    m_tree->header()->setStyleSheet(TableSetup::headerStyleSheet());
    // Every row is one line high: the view need not measure thousands of rows.
    m_tree->setUniformRowHeights(true);
}

QWidget *TransferStatusView::createFilterBar()
{
    auto *bar = new QWidget(this);
    bar->setStyleSheet(QLatin1String(kFilterStyle));
    auto *row = new QHBoxLayout(bar);
    row->setContentsMargins(kBarMargin, kBarMargin, kBarMargin, kBarMargin);
    for (const Filter filter : kFilters) {
        auto *button = new QToolButton(bar);
        button->setCheckable(true);
        button->setChecked(filter == m_filter);
        m_filterButtons->addButton(button, filter);
        row->addWidget(button);
    }
    row->addStretch();
    connect(
        m_filterButtons, &QButtonGroup::idClicked, this, [this](int id) { setFilter(Filter(id)); });
    return bar;
}

void TransferStatusView::addButtonRow()
{
    auto *row = new QHBoxLayout;
    // Clear of the window's edges, as the filter bar above.
    row->setContentsMargins(kBarMargin, kBarMargin, kBarMargin, kBarMargin);
    row->addStretch();
    row->addWidget(m_clearFinishedButton);
    row->addWidget(m_clearButton);
    static_cast<QBoxLayout *>(layout())->addLayout(row);
}

QAbstractButton *TransferStatusView::filterButton(Filter filter) const
{
    return m_filterButtons->button(filter);
}

void TransferStatusView::setFilter(Filter filter)
{
    m_filter = filter;
    filterButton(filter)->setChecked(true);
    for (int row = 0; row < m_tree->topLevelItemCount(); ++row)
        applyFilter(m_tree->topLevelItem(row));
}

bool TransferStatusView::passes(Filter filter, TransferOutcome::Kind outcome)
{
    switch (filter) {
    case ShowRunning:
        return !TransferOutcome::hasEnded(outcome);
    case ShowDone:
        return outcome == TransferOutcome::Done;
    case ShowRefused:
        return outcome == TransferOutcome::Refused;
    case ShowFailed:
        return outcome == TransferOutcome::Failed;
    case ShowAll:
        break;
    }
    return true;
}

void TransferStatusView::onRowsChanged(const QModelIndex &first, const QModelIndex &last)
{
    if (first.parent().isValid())
        return;
    for (int row = first.row(); row <= last.row(); ++row)
        applyFilter(m_tree->topLevelItem(row));
    if (!m_countTimer.isActive())
        m_countTimer.start();
}

void TransferStatusView::applyFilter(QTreeWidgetItem *item) const
{
    if (!item)
        return;
    const bool hidden = !passes(m_filter, outcomeOf(item));
    if (item->isHidden() != hidden)
        item->setHidden(hidden);
}

void TransferStatusView::updateCounts()
{
    int counts[std::size(kFilters)] = {};
    for (int row = 0; row < m_tree->topLevelItemCount(); ++row) {
        const TransferOutcome::Kind outcome = outcomeOf(m_tree->topLevelItem(row));
        for (const Filter filter : kFilters)
            counts[filter] += passes(filter, outcome);
    }
    for (const Filter filter : kFilters)
        filterButton(filter)->setText(
            QStringLiteral("%1 %2").arg(filterLabel(filter)).arg(counts[filter]));
}

void TransferStatusView::addRow(TransferItem *item)
{
    if (m_tree->topLevelItemCount() > kOldestRowKept)
        delete m_tree->takeTopLevelItem(kOldestRowKept);
    m_tree->insertTopLevelItem(0, item);
}

void TransferStatusView::onMenuRequest(const QPoint &)
{
    // The row under a right click is the current one: the press made it so.
    const std::unique_ptr<QMenu> menu = createContextMenu(m_tree->currentItem());
    menu->exec(QCursor::pos());
}

std::unique_ptr<QMenu> TransferStatusView::createContextMenu(QTreeWidgetItem *item)
{
    auto menu = std::make_unique<QMenu>(this);
    auto *transfer = dynamic_cast<TransferItem *>(item);
    if (transfer) {
        addFileActions(menu.get(), transfer);
        addRowAction(menu.get(), kCopyPath, transfer, [](TransferItem *row) {
            QGuiApplication::clipboard()->setText(row->filePath());
        })->setEnabled(!transfer->filePath().isEmpty());
        menu->addSeparator();
    }
    QAction *remove = menu->addAction(kDelete, this, &TransferStatusView::onMenuDelete);
    remove->setEnabled(!transfer || TransferOutcome::hasEnded(transfer->outcome())
        || canDeleteRunning());
    return menu;
}

QAction *TransferStatusView::addRowAction(QMenu *menu, const QString &text, TransferItem *item,
    const std::function<void(TransferItem *)> &act)
{
    return menu->addAction(text, this, [this, item, act] {
        if (m_tree->indexOfTopLevelItem(item) >= 0)
            act(item);
    });
}

void TransferStatusView::runFirstAction(QTreeWidgetItem *item)
{
    if (!dynamic_cast<TransferItem *>(item))
        return;
    const std::unique_ptr<QMenu> menu = createContextMenu(item);
    QAction *first = menu->actions().value(0);
    if (first && first->isEnabled())
        first->trigger();
}

void TransferStatusView::onMenuDelete()
{
    // With no current row nothing is taken.
    deleteRow(m_tree->currentItem());
}

void TransferStatusView::deleteRow(QTreeWidgetItem *item)
{
    if (!item)
        return;
    auto *transfer = dynamic_cast<TransferItem *>(item);
    if (transfer && !TransferOutcome::hasEnded(transfer->outcome())
        && (!canDeleteRunning() || !stopBeforeDelete(transfer)))
        return;
    delete m_tree->takeTopLevelItem(m_tree->indexOfTopLevelItem(item));
}

void TransferStatusView::onOutcomeChanged(TransferItem *item)
{
    emit outcomeChanged(item->outcome(), item->text(TransferStateInfo::FileName),
        item->text(TransferStateInfo::Status));
}

void TransferStatusView::clearTableData()
{
    const QString refusal = clearRefusal();
    if (!refusal.isEmpty()) {
        PromptRequest box;
        box.icon = PromptRequest::Critical;
        box.title = kPromptTitle;
        box.text = refusal;
        box.buttons = PromptRequest::Ok;
        Prompt::show(box);
        return;
    }
    if (ask(kClearQuestion))
        m_tree->clear();
}

void TransferStatusView::clearFinished()
{
    if (!ask(kClearFinishedQuestion))
        return;
    // From the bottom, so that the rows still to look at keep their indexes.
    for (int row = m_tree->topLevelItemCount() - 1; row >= 0; --row) {
        if (TransferOutcome::hasEnded(outcomeOf(m_tree->topLevelItem(row))))
            delete m_tree->takeTopLevelItem(row);
    }
}

bool TransferStatusView::ask(const QString &question)
{
    PromptRequest box;
    box.icon = PromptRequest::Question;
    box.parent = this;
    box.title = kPromptTitle;
    box.text = question;
    box.buttons = PromptRequest::Yes | PromptRequest::No;
    return Prompt::show(box) == PromptRequest::Yes;
}
