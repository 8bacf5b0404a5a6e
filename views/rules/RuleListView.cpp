#include "views/rules/RuleListView.h"

#include "model/Prompt.h"
#include "views/rules/RuleDialog.h"
#include "views/table/TableSetup.h"

#include <QBoxLayout>
#include <QCursor>
#include <QDesktopServices>
#include <QFileInfo>
#include <QHeaderView>
#include <QIcon>
#include <QMenu>
#include <QPushButton>
#include <QTableWidget>
#include <QUrl>
#include <QtDebug>

namespace {

const QString kHintTitle = QStringLiteral("提示");
const QString kDeleteTitle = QStringLiteral("删除");
const QString kDeleteQuestion = QStringLiteral("确定删除？");
const QString kSelectRowFirst = QStringLiteral("请先选择一行再进行操作");
constexpr int kRowHeight = 60;
constexpr int kHeaderHeight = 55;
constexpr int kAlternateLighterPercent = 108;
const char kSelectedBackground[] = "rgb(49,52,71)";

QString tableStyle(const QColor &baseColour)
{
    const QString alternate = baseColour.lighter(kAlternateLighterPercent).name();
    return QStringLiteral("QTableWidget{border:none; background-color:%1;"
                          " alternate-background-color:%2;"
                          " selection-background-color:%3; selection-color:white;}")
        .arg(baseColour.name(), alternate, QLatin1String(kSelectedBackground));
}

} // namespace

RuleListView::RuleListView(const Look &look, QWidget *parent)
    : QWidget(parent)
    , m_look(look)
    , m_table(TableSetup::addFixedTable(this, look.headers))
    , m_addButton(new QPushButton(QStringLiteral("添加"), this))
    , m_modifyButton(new QPushButton(QStringLiteral("修改"), this))
    , m_deleteButton(new QPushButton(QStringLiteral("删除"), this))
    , m_menu(new QMenu(this))
{
    setUpTable();
    auto *buttons = new QHBoxLayout;
    buttons->setContentsMargins(12, 8, 12, 8);
    buttons->addStretch();
    buttons->addWidget(m_addButton);
    buttons->addWidget(m_modifyButton);
    buttons->addWidget(m_deleteButton);
    static_cast<QBoxLayout *>(layout())->addLayout(buttons);

    connect(m_addButton, &QPushButton::clicked, this, &RuleListView::onAddBtnClicked);
    connect(m_modifyButton, &QPushButton::clicked, this, &RuleListView::onModiBtnClicked);
    connect(m_deleteButton, &QPushButton::clicked, this, &RuleListView::onDelBtnClicked);
    connect(m_table, &QWidget::customContextMenuRequested, this, &RuleListView::onMenuRequest);
}

void RuleListView::setUpTable()
{
    m_table->setFrameShape(QFrame::NoFrame);
    m_table->setFocusPolicy(Qt::NoFocus);
    m_table->setContextMenuPolicy(Qt::CustomContextMenu);
    m_table->verticalHeader()->setDefaultSectionSize(kRowHeight);
    QHeaderView *header = m_table->horizontalHeader();
    header->setFixedHeight(kHeaderHeight);
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setStretchLastSection(true);
    for (int column = 0; column < m_look.columnWidths.size(); ++column)
        m_table->setColumnWidth(column, m_look.columnWidths.at(column));
    m_table->setStyleSheet(tableStyle(m_look.baseColour));
}

void RuleListView::onDisPlayList()
{
    m_table->clearContents();
    const QList<QStringList> rules = ruleCells();
    // Every rule gets a row, also past the usual sixteen.
    m_table->setRowCount(qMax(TableSetup::kFixedRows, rules.size()));
    for (int row = 0; row < rules.size(); ++row) {
        m_table->setItem(row, 0, TableSetup::centredItem(QString::number(row + 1)));
        const QStringList &cells = rules.at(row);
        for (int i = 0; i < cells.size(); ++i)
            m_table->setItem(row, i + 1, TableSetup::centredItem(cells.at(i)));
    }
}

void RuleListView::setStatusCell(int row, const QString &text)
{
    if (row < 0 || row >= m_table->rowCount() || row >= ruleCount())
        return;
    m_table->setItem(row, kStatusColumn, TableSetup::centredItem(text));
}

void RuleListView::onAddBtnClicked() { openDialog(m_look.addTitle, -1); }

void RuleListView::onModiBtnClicked()
{
    if (refuseWhenEmpty())
        return;
    const int row = selectedRow();
    if (row < 0) {
        ask(PromptRequest::Warning, kHintTitle, m_look.modifyUnselectedText, PromptRequest::Ok);
        return;
    }
    if (m_look.busyBlocksModify && refuseWhenBusy(row))
        return;
    openDialog(m_look.modifyTitle, row);
}

void RuleListView::onDelBtnClicked()
{
    if (refuseWhenEmpty())
        return;
    const int row = selectedRow();
    if (row < 0) {
        ask(PromptRequest::Warning, kHintTitle, kSelectRowFirst, PromptRequest::Ok);
        return;
    }
    if (refuseWhenBusy(row))
        return;
    if (ask(PromptRequest::Question, kDeleteTitle, kDeleteQuestion,
            PromptRequest::Yes | PromptRequest::No)
        != PromptRequest::Yes)
        return;
    if (row < ruleCount())
        removeRule(row);
    onDisPlayList();
    emit listChanged();
}

void RuleListView::onActionOpenDirClicked()
{
    const QTableWidgetItem *item = m_table->item(m_table->currentRow(), kDirColumn);
    if (!item)
        return;
    const QString dir = item->text();
    if (!QFileInfo(dir).isDir()) {
        ask(PromptRequest::Warning, kHintTitle, QStringLiteral("文件夹不存在：%1").arg(dir),
            PromptRequest::Ok);
        return;
    }
    // Built from the local path, so that '#', '%' and non-ASCII names reach the file manager
    // as they are instead of being read as URL syntax.
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(dir)))
        ask(PromptRequest::Warning, kHintTitle,
            QStringLiteral("无法打开文件夹：%1（没有可用的文件管理器）").arg(dir),
            PromptRequest::Ok);
}

void RuleListView::onMenuRequest(const QPoint &pos)
{
    m_menu->clear();
    if (!m_table->itemAt(pos))
        return;
    m_menu->addAction(QIcon(QStringLiteral(":/res/centerwidget/dir.png")),
        QStringLiteral("打开文件夹"), this, &RuleListView::onActionOpenDirClicked);
    m_menu->addAction(QIcon(QStringLiteral(":/res/centerwidget/edit.png")), QStringLiteral("修改"),
        this, &RuleListView::onModiBtnClicked);
    m_menu->addAction(QIcon(QStringLiteral(":/res/centerwidget/del.png")), QStringLiteral("删除"),
        this, &RuleListView::onDelBtnClicked);
    m_menu->popup(QCursor::pos());
}

void RuleListView::openDialog(const QString &title, int modifiedRow)
{
    RuleDialog *dialog = createDialog();
    connect(dialog, &RuleDialog::ruleStored, this, &RuleListView::listChanged);
    dialog->setWindowTitle(title);
    if (modifiedRow >= 0) {
        dialog->setModify(true);
        dialog->setIndex(modifiedRow);
    }
    m_dialog = dialog;
    dialog->show();
}

int RuleListView::selectedRow() const
{
    const QList<QTableWidgetItem *> selected = m_table->selectedItems();
    return selected.isEmpty() ? -1 : selected.first()->row();
}

int RuleListView::ask(
    PromptRequest::Icon icon, const QString &title, const QString &text, int buttons)
{
    PromptRequest request;
    request.icon = icon;
    request.parent = this;
    request.title = title;
    request.text = text;
    request.buttons = buttons;
    return Prompt::show(request);
}

bool RuleListView::refuseWhenEmpty()
{
    if (ruleCount() > 0)
        return false;
    PromptRequest request;
    request.icon = PromptRequest::Critical;
    request.title = kHintTitle;
    request.text = m_look.noRulesText;
    request.buttons = PromptRequest::Yes;
    Prompt::show(request);
    return true;
}

bool RuleListView::refuseWhenBusy(int row)
{
    if (!isBusy(row))
        return false;
    ask(PromptRequest::Question, kHintTitle, RuleDialog::ruleBusyText(), PromptRequest::Yes);
    return true;
}
