#include "views/TransferStatusView.h"

#include "model/Prompt.h"
#include "model/TransferStateInfo.h"
#include "views/TableSetup.h"
#include "views/TransferDelegate.h"
#include "views/TransferItem.h"

#include <QBoxLayout>
#include <QCursor>
#include <QHeaderView>
#include <QMenu>
#include <QPushButton>
#include <QTreeWidget>

namespace {

const QString kPromptTitle = QStringLiteral("提示");
// Short columns get what their texts need, so that the status stays in view at the window's
// usual width.
constexpr int kNarrowColumnMinimum = 60;
constexpr int kRateWidth = 90;
constexpr int kProgressWidth = 120;
constexpr int kSizeWidth = 90;
constexpr int kPathWidth = 140;
const QString kClearQuestion = QStringLiteral("确认清除？");

} // namespace

TransferStatusView::TransferStatusView(QWidget *parent)
    : QWidget(parent)
    , m_tree(TableSetup::addTransferTree(this, TableSetup::transferHeaders()))
    , m_clearButton(new QPushButton(QStringLiteral("清除数据"), this))
{
    m_clearButton->setCheckable(true);
    m_clearButton->setDefault(false);
    m_clearButton->setAutoDefault(false);
    // TableSetup laid the tree out in a vertical box; the button goes below it.
    static_cast<QBoxLayout *>(layout())->addWidget(m_clearButton, 0, Qt::AlignRight);
    init();
    tableStyleInit();
}

void TransferStatusView::init()
{
    m_tree->setItemDelegate(new TransferDelegate(m_tree));
    m_tree->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_tree, &QWidget::customContextMenuRequested, this, &TransferStatusView::onMenuRequest);
    connect(m_clearButton, &QPushButton::clicked, this, &TransferStatusView::clearTableData);
}

void TransferStatusView::tableStyleInit()
{
    QHeaderView *header = m_tree->header();
    header->setStyleSheet(TableSetup::headerStyleSheet());
    // The name and the status take what width is left; the time stamps are never cut.
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setMinimumSectionSize(kNarrowColumnMinimum);
    header->resizeSection(TransferStateInfo::Rate, kRateWidth);
    header->resizeSection(TransferStateInfo::Progress, kProgressWidth);
    header->resizeSection(TransferStateInfo::Size, kSizeWidth);
    header->resizeSection(TransferStateInfo::TransferPath, kPathWidth);
    header->setSectionResizeMode(TransferStateInfo::FileName, QHeaderView::Stretch);
    header->setSectionResizeMode(TransferStateInfo::Status, QHeaderView::Stretch);
    header->setSectionResizeMode(TransferStateInfo::StartTime, QHeaderView::ResizeToContents);
    header->setSectionResizeMode(TransferStateInfo::EndTime, QHeaderView::ResizeToContents);
    // Every row is one line high: the view need not measure thousands of rows.
    m_tree->setUniformRowHeights(true);
}

void TransferStatusView::addRow(TransferItem *item)
{
    if (m_tree->topLevelItemCount() > kOldestRowKept)
        delete m_tree->takeTopLevelItem(kOldestRowKept);
    m_tree->insertTopLevelItem(0, item);
}

void TransferStatusView::onMenuRequest(const QPoint &)
{
    QMenu menu(this);
    menu.addAction(QStringLiteral("delete"), this, &TransferStatusView::onMenuDelete);
    menu.exec(QCursor::pos());
}

void TransferStatusView::onMenuDelete()
{
    // With no current row the index's row is -1 and nothing is taken.
    delete m_tree->takeTopLevelItem(m_tree->currentIndex().row());
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
    PromptRequest question;
    question.icon = PromptRequest::Question;
    question.parent = this;
    question.title = kPromptTitle;
    question.text = kClearQuestion;
    question.buttons = PromptRequest::Yes | PromptRequest::No;
    if (Prompt::show(question) == PromptRequest::Yes)
        m_tree->clear();
}
