#include "views/history/HistoryView.h"

#include "audit/AuditQuery.h"
#include "chrome/FileManager.h"
#include "views/history/FlowLayout.h"
#include "views/history/HistoryDirectory.h"
#include "views/history/HistoryExport.h"
#include "views/history/HistoryModel.h"
#include "views/table/ColumnFitter.h"
#include "views/table/TableSetup.h"

#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QVBoxLayout>

namespace {

const QString kOpenDirectory = QStringLiteral("打开所在目录");
const QString kExportTitle = QStringLiteral("导出CSV");
const QString kExportName = QStringLiteral("audit-history.csv");
const QString kExportFilter = QStringLiteral("CSV 文件(*.csv);;所有文件(*.*)");
const QString kDateFormat = QStringLiteral("yyyy-MM-dd");

// Whole local days back from today, today included, for the range choices.
constexpr int kWeekDays = 7;
constexpr int kMonthDays = 30;
// A search starts once the typing pauses.
constexpr int kSearchDelayMs = 300;
constexpr int kMargin = 8;
constexpr int kSpacing = 6;
constexpr int kKindWidth = 64;
constexpr int kOutcomeWidth = 104;
constexpr int kUserWidth = 120;
constexpr int kFileWidth = 120;
constexpr int kMessageWidth = 140;
constexpr int kPeerWidth = 120;
const QString kWidestTime = QStringLiteral("0000-00-00 00:00:00");
const QString kWidestAddress = QStringLiteral("000.000.000.000");
constexpr int kCellPadding = 24;
constexpr int kSearchWidth = 220;

const QStringList kRanges = { QStringLiteral("全部时间"), QStringLiteral("今天"),
    QStringLiteral("最近7天"), QStringLiteral("最近30天"), QStringLiteral("自选日期") };
const QStringList kKinds = { QStringLiteral("全部类别"), QStringLiteral("登录"),
    QStringLiteral("发送"), QStringLiteral("接收"), QStringLiteral("退出") };

constexpr AuditKind kKindOfChoice[]
    = { AuditKind::Any, AuditKind::Login, AuditKind::Send, AuditKind::Receive, AuditKind::Logout };
// The outcome choices after "全部结果", in the order of OutcomeChoice.
constexpr TransferOutcome::Kind kOutcomeOfChoice[] = { TransferOutcome::Done,
    TransferOutcome::Refused, TransferOutcome::Failed, TransferOutcome::Waiting };

QStringList outcomeChoices()
{
    QStringList choices { QStringLiteral("全部结果") };
    for (const TransferOutcome::Kind kind : kOutcomeOfChoice)
        choices.append(TransferOutcome::label(kind));
    return choices;
}

QComboBox *comboBox(const QStringList &items, QWidget *parent)
{
    auto *box = new QComboBox(parent);
    box->addItems(items);
    return box;
}

// Fixed widths, rather than sized to the contents, which would measure every row read: the widest
// time and IPv4 address, and the room a cell leaves around its text. The file name and the
// message share what width is left; in a narrow page the gap and then the user give way.
QVector<ColumnFitter::Column> tableColumns(const QFontMetrics &metrics)
{
    QVector<ColumnFitter::Column> columns(HistoryModel::ColumnCount);
    columns[HistoryModel::Time].floor = metrics.horizontalAdvance(kWidestTime) + kCellPadding;
    columns[HistoryModel::Kind].floor = kKindWidth;
    columns[HistoryModel::Gap].floor = metrics.horizontalAdvance(kWidestAddress) + kCellPadding;
    columns[HistoryModel::Gap].giveWayOrder = 1;
    columns[HistoryModel::User].floor = kUserWidth;
    columns[HistoryModel::User].giveWayOrder = 2;
    columns[HistoryModel::Outcome].floor = kOutcomeWidth;
    columns[HistoryModel::Peer].floor = kPeerWidth;
    columns[HistoryModel::Peer].giveWayOrder = 3;
    columns[HistoryModel::File].floor = kFileWidth;
    columns[HistoryModel::File].share = 1;
    columns[HistoryModel::Message].floor = kMessageWidth;
    columns[HistoryModel::Message].share = 1;
    return columns;
}

QDateEdit *dateEdit(const QDate &date, QWidget *parent)
{
    auto *edit = new QDateEdit(date, parent);
    edit->setCalendarPopup(true);
    edit->setDisplayFormat(kDateFormat);
    return edit;
}

} // namespace

HistoryView::HistoryView(QWidget *parent)
    : QWidget(parent)
    , m_model(new HistoryModel(this))
{
    m_model->setDatabase(QDir::current().absoluteFilePath(AuditQuery::defaultDatabase()));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    buildFilterBar();
    buildTable();
    buildStatusBar();
    connectControls();
    onRangeChanged();
    updateOpenButton();
}

HistoryView::~HistoryView()
{
    m_exportCancelled = true;
    if (m_export)
        m_export->wait();
}

void HistoryView::setDatabase(const QString &path) { m_model->setDatabase(path); }

void HistoryView::buildFilterBar()
{
    // Wraps in a narrow window rather than cutting a control.
    auto *bar = new FlowLayout;
    bar->setContentsMargins(kMargin, kMargin, kMargin, kMargin);
    bar->setSpacing(kSpacing);
    const QDate today = QDate::currentDate();
    m_range = comboBox(kRanges, this);
    m_from = dateEdit(today.addDays(1 - kWeekDays), this);
    m_rangeTo = new QLabel(QStringLiteral("至"), this);
    m_to = dateEdit(today, this);
    m_kind = comboBox(kKinds, this);
    m_outcome = comboBox(outcomeChoices(), this);
    m_search = new QLineEdit(this);
    m_search->setPlaceholderText(QStringLiteral("搜索文件名或说明"));
    m_search->setClearButtonEnabled(true);
    m_search->setMinimumWidth(kSearchWidth);
    m_openButton = new QPushButton(kOpenDirectory, this);
    m_exportButton = new QPushButton(kExportTitle, this);
    for (QWidget *widget : std::initializer_list<QWidget *> {
             m_range, m_from, m_rangeTo, m_to, m_kind, m_outcome, m_search })
        bar->addWidget(widget);
    bar->addStretch();
    bar->addWidget(m_openButton);
    bar->addWidget(m_exportButton);
    static_cast<QVBoxLayout *>(layout())->addLayout(bar);
}

void HistoryView::buildTable()
{
    m_table = new QTableView(this);
    m_table->setModel(m_model);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setAlternatingRowColors(true);
    m_table->setShowGrid(false);
    m_table->setWordWrap(false);
    m_table->setContextMenuPolicy(Qt::CustomContextMenu);
    // Rows of one line each: the view need not measure thousands of rows.
    m_table->verticalHeader()->setVisible(false);
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    QHeaderView *header = m_table->horizontalHeader();
    header->setStyleSheet(TableSetup::headerStyleSheet());
    header->setHighlightSections(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    new ColumnFitter(m_table, header, tableColumns(m_table->fontMetrics()));
    layout()->addWidget(m_table);
}

void HistoryView::buildStatusBar()
{
    auto *bar = new QHBoxLayout;
    bar->setContentsMargins(kMargin, kMargin / 2, kMargin, kMargin / 2);
    m_status = new QLabel(this);
    m_notice = new QLabel(this);
    m_notice->setTextInteractionFlags(Qt::TextSelectableByMouse);
    bar->addWidget(m_status);
    bar->addStretch();
    bar->addWidget(m_notice);
    static_cast<QVBoxLayout *>(layout())->addLayout(bar);
}

void HistoryView::connectControls()
{
    const auto changed = QOverload<int>::of(&QComboBox::currentIndexChanged);
    connect(m_range, changed, this, &HistoryView::onRangeChanged);
    connect(m_range, changed, this, &HistoryView::applyFilter);
    connect(m_kind, changed, this, &HistoryView::applyFilter);
    connect(m_outcome, changed, this, &HistoryView::applyFilter);
    // The dates count only while chosen days are the range.
    const auto applyChosenDays = [this] {
        if (m_range->currentIndex() == ChosenDays)
            applyFilter();
    };
    connect(m_from, &QDateEdit::dateChanged, this, applyChosenDays);
    connect(m_to, &QDateEdit::dateChanged, this, applyChosenDays);
    m_searchDelay.setSingleShot(true);
    m_searchDelay.setInterval(kSearchDelayMs);
    connect(m_search, &QLineEdit::textChanged, &m_searchDelay, QOverload<>::of(&QTimer::start));
    connect(m_search, &QLineEdit::returnPressed, this, &HistoryView::applyFilter);
    connect(&m_searchDelay, &QTimer::timeout, this, &HistoryView::applyFilter);
    m_follow.setInterval(kFollowIntervalMs);
    connect(&m_follow, &QTimer::timeout, this, &HistoryView::onFollowTick);
    connect(m_model, &HistoryModel::stateChanged, this, &HistoryView::updateStatus);
    connect(m_model, &QAbstractItemModel::modelReset, this, &HistoryView::updateOpenButton);
    connect(m_table->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
        &HistoryView::updateOpenButton);
    connect(m_table, &QWidget::customContextMenuRequested, this, [this](const QPoint &pos) {
        if (const std::unique_ptr<QMenu> menu = createContextMenu(pos))
            menu->exec(m_table->viewport()->mapToGlobal(pos));
    });
    connect(m_openButton, &QPushButton::clicked, this, &HistoryView::openDirectory);
    connect(m_exportButton, &QPushButton::clicked, this, &HistoryView::onExportClicked);
}

AuditFilter HistoryView::filter() const
{
    AuditFilter filter;
    const QDate today = QDate::currentDate();
    switch (m_range->currentIndex()) {
    case Today:
        filter.setDays(today, QDate());
        break;
    case LastSevenDays:
        filter.setDays(today.addDays(1 - kWeekDays), QDate());
        break;
    case LastThirtyDays:
        filter.setDays(today.addDays(1 - kMonthDays), QDate());
        break;
    case ChosenDays:
        filter.setDays(qMin(m_from->date(), m_to->date()), qMax(m_from->date(), m_to->date()));
        break;
    default:
        break;
    }
    filter.kind = kKindOfChoice[m_kind->currentIndex()];
    const int outcome = m_outcome->currentIndex();
    filter.outcome = outcome == AnyOutcome ? AuditFilter::AnyOutcome
                                           : AuditFilter::forKind(kOutcomeOfChoice[outcome - 1]);
    filter.search = m_search->text().trimmed();
    return filter;
}

void HistoryView::applyFilter()
{
    m_searchDelay.stop();
    m_model->setFilter(filter());
}

void HistoryView::onRangeChanged()
{
    const bool chosen = m_range->currentIndex() == ChosenDays;
    for (QWidget *widget : std::initializer_list<QWidget *> { m_from, m_rangeTo, m_to })
        widget->setVisible(chosen);
}

void HistoryView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // Nothing reads the store before the page is first shown.
    if (m_model->state() == HistoryModel::Idle)
        applyFilter();
    m_follow.start();
}

void HistoryView::hideEvent(QHideEvent *event)
{
    m_follow.stop();
    QWidget::hideEvent(event);
}

void HistoryView::onFollowTick()
{
    // Rows put on top while the user reads further down would push them out of view.
    if (m_table->verticalScrollBar()->value() == m_table->verticalScrollBar()->minimum())
        m_model->followNewEvents();
}

QString HistoryView::statusText() const { return m_status->text(); }

QString HistoryView::noticeText() const { return m_notice->text(); }

void HistoryView::updateStatus()
{
    const int rows = m_model->rowCount();
    QString text;
    switch (m_model->state()) {
    case HistoryModel::Loading:
        text = QStringLiteral("正在读取审计记录…");
        break;
    case HistoryModel::Loaded:
        if (rows == 0)
            text = QStringLiteral("没有符合条件的记录");
        else if (m_model->atEnd())
            text = QStringLiteral("共 %1 条记录").arg(rows);
        else
            text = QStringLiteral("已显示最近的 %1 条记录，向下滚动查看更早的记录").arg(rows);
        break;
    case HistoryModel::NoStore:
        text = QStringLiteral("还没有审计记录（%1 尚不存在）").arg(m_model->database());
        break;
    case HistoryModel::Failed:
        text = QStringLiteral("读取审计记录失败：%1").arg(m_model->errorString());
        break;
    default:
        break;
    }
    m_status->setText(text);
    updateOpenButton();
}

int HistoryView::currentRow() const
{
    const QModelIndex current = m_table->currentIndex();
    return current.isValid() ? current.row() : -1;
}

QString HistoryView::directoryOf(int row) const
{
    if (row < 0 || row >= m_model->rowCount())
        return {};
    return HistoryDirectory::of(m_model->historyRow(row));
}

void HistoryView::updateOpenButton()
{
    const QString directory = directoryOf(currentRow());
    m_openButton->setEnabled(!directory.isEmpty());
    m_openButton->setToolTip(directory);
}

std::unique_ptr<QMenu> HistoryView::createContextMenu(const QPoint &pos)
{
    const QModelIndex index = m_table->indexAt(pos);
    if (!index.isValid())
        return nullptr;
    m_table->setCurrentIndex(index);
    auto menu = std::make_unique<QMenu>();
    QAction *open = menu->addAction(kOpenDirectory, this, &HistoryView::openDirectory);
    open->setEnabled(!directoryOf(index.row()).isEmpty());
    return menu;
}

void HistoryView::openDirectory()
{
    const int row = currentRow();
    const QString directory = directoryOf(row);
    if (directory.isEmpty())
        return;
    const QString file = HistoryDirectory::fileOf(m_model->historyRow(row));
    const bool opened
        = file.isEmpty() ? FileManager::openFolder(directory) : FileManager::showFile(file);
    if (!opened)
        m_notice->setText(QStringLiteral("无法打开目录 %1").arg(directory));
}

void HistoryView::onExportClicked()
{
    const QString fileName = QFileDialog::getSaveFileName(
        this, kExportTitle, QDir::current().filePath(kExportName), kExportFilter);
    if (!fileName.isEmpty())
        exportCsv(fileName);
}

void HistoryView::exportCsv(const QString &fileName)
{
    if (m_export)
        return;
    m_exportButton->setEnabled(false);
    m_exportFile = fileName;
    m_notice->setText(QStringLiteral("正在导出…"));
    const QString database = m_model->database();
    const AuditFilter chosen = filter();
    m_export.reset(QThread::create([this, database, chosen, fileName] {
        m_exportResult = HistoryExport::writeCsv(
            database, chosen, fileName, [this] { return m_exportCancelled.load(); });
    }));
    connect(m_export.get(), &QThread::finished, this, &HistoryView::finishExport);
    m_export->start();
}

void HistoryView::finishExport()
{
    m_export->wait();
    m_export.reset();
    m_exportButton->setEnabled(true);
    const HistoryExport::Result &result = m_exportResult;
    m_notice->setText(result.written
            ? QStringLiteral("已导出 %1 条记录到 %2").arg(result.events).arg(m_exportFile)
            : QStringLiteral("导出失败：%1").arg(result.error));
    emit exportFinished(result.written, result.events, result.error);
}
