#include "views/gaps/IPAddrView.h"

#include "gap/ControlThread.h"
#include "gap/IPAddrConfigDialog.h"
#include "gap/SocketTools.h"
#include "model/BaseFunction.h"
#include "model/GlobalData.h"
#include "model/Prompt.h"
#include "ui_IPAddrView.h"
#include "views/table/TableSetup.h"

#include <QColor>
#include <QCursor>
#include <QHeaderView>
#include <QMenu>
#include <QTableWidget>
#include <QThread>
#include <cstring>

namespace {

enum Column { Address, User, Sent, Received, Duration, State, ColumnCount };

constexpr int kHeaderHeight = 55;
constexpr int kMinimumColumnWidth = 120; // an IPv4 address and the header text in full
constexpr int kRowHeight = 60;
// Where a row keeps the record it was written from, so that an action hits the gap it shows.
constexpr int kGapRole = Qt::UserRole;

const QColor kAddressColour(61, 162, 255);
const QColor kConnectedColour(96, 176, 57);
const QColor kInterruptedColour(255, 30, 0);
const QColor kConnectingColour(255, 176, 57);

struct StateLook {
    QString text;
    QColor colour;
};

StateLook connectedLook() { return { QStringLiteral("连接正常"), kConnectedColour }; }

StateLook stateLook(const _VKGAPIP_CONF &gap)
{
    const int state = gap.connState;
    if (state == 1 && gap.confGetted)
        return connectedLook();
    if (state == 0)
        return { QStringLiteral("连接中断"), kInterruptedColour };
    if (state == -1)
        return { QStringLiteral("正在连接..."), kConnectingColour };
    return { QString(), kConnectingColour };
}

QString countText(qint32 files, qint64 bytes)
{
    return QStringLiteral("%1 个 %2").arg(files).arg(BaseFunction::calcSize(bytes));
}

QTableWidgetItem *colouredItem(const QString &text, const QColor &colour)
{
    QTableWidgetItem *item = TableSetup::centredItem(text);
    item->setForeground(colour);
    return item;
}

int askQuestion(QWidget *parent, const QString &title, const QString &text, int buttons)
{
    PromptRequest request;
    request.icon = PromptRequest::Question;
    request.parent = parent;
    request.title = title;
    request.text = text;
    request.buttons = buttons;
    return Prompt::show(request);
}

void tellNotice(QWidget *parent, const QString &text)
{
    askQuestion(parent, QStringLiteral("提示"), text, PromptRequest::Yes);
}

} // namespace

// The texts of a row's counter, duration and state columns.
struct IPAddrView::RowTexts {
    QString sent;
    QString received;
    QString duration;
    StateLook state;
};

IPAddrView::RowTexts IPAddrView::currentTexts(const _VKGAPIP_CONF &gap)
{
    return { countText(gap.sendFileNum, gap.sendBytes), countText(gap.recvFileNum, gap.recvBytes),
        BaseFunction::formatDateTime(gap.connectTime), stateLook(gap) };
}

// A rebuilt list shows these until the next state update brings the record's own.
IPAddrView::RowTexts IPAddrView::rebuiltTexts()
{
    // Worded as the counters are once the record's own come in ("0 个 0 bytes").
    const QString noFiles = countText(0, 0);
    return { noFiles, noFiles, QStringLiteral("00:00:00"), connectedLook() };
}

IPAddrView::IPAddrView(QWidget *parent)
    : QWidget(parent)
    , m_ui(new Ui::IPAddrView)
{
    m_ui->setupUi(this);
    setupTable();
    displayList();
    connect(m_ui->addBtn, &QPushButton::clicked, this, &IPAddrView::onAddBtnClicked);
    connect(m_ui->delBtn, &QPushButton::clicked, this, &IPAddrView::onDelBtnClicked);
    connect(
        m_ui->tableWidget, &QWidget::customContextMenuRequested, this, &IPAddrView::onMenuRequst);
}

IPAddrView::~IPAddrView() = default;

QTableWidget *IPAddrView::table() const { return m_ui->tableWidget; }

void IPAddrView::setupTable()
{
    QTableWidget *table = m_ui->tableWidget;
    table->setColumnCount(ColumnCount);
    table->setRowCount(TableSetup::kFixedRows);
    table->setHorizontalHeaderLabels(
        { QStringLiteral("隔离器地址"), QStringLiteral("用户"), QStringLiteral("发送文件"),
            QStringLiteral("接收文件"), QStringLiteral("连接持续时间"), QStringLiteral("状态") });
    table->setContextMenuPolicy(Qt::CustomContextMenu);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setFocusPolicy(Qt::NoFocus);
    table->horizontalHeader()->setFixedHeight(kHeaderHeight);
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    // A full IPv6 address is wider than an equal share of the page: it gets its width, the other
    // columns share the rest.
    table->horizontalHeader()->setSectionResizeMode(Address, QHeaderView::ResizeToContents);
    table->horizontalHeader()->setMinimumSectionSize(kMinimumColumnWidth);
    table->verticalHeader()->setDefaultSectionSize(kRowHeight);
    table->verticalHeader()->setVisible(false);
    table->setAlternatingRowColors(true);
    table->setShowGrid(false);
}

void IPAddrView::fitRowCount(int gapCount)
{
    // Every gap gets a row, also past the usual sixteen.
    m_ui->tableWidget->setRowCount(qMax(TableSetup::kFixedRows, gapCount));
}

void IPAddrView::displayList()
{
    m_ui->tableWidget->clearContents();
    const QList<_VKGAPIP_CONF *> gaps = g_GapInfoList.snapshot();
    fitRowCount(gaps.size());
    const RowTexts texts = rebuiltTexts();
    for (int row = 0; row < gaps.size(); ++row)
        writeRow(row, *gaps.at(row), texts);
}

void IPAddrView::onUpdateGapState()
{
    const QList<_VKGAPIP_CONF *> gaps = g_GapInfoList.snapshot();
    fitRowCount(gaps.size());
    for (int row = 0; row < gaps.size(); ++row)
        writeRow(row, *gaps.at(row), currentTexts(*gaps.at(row)));
    clearRowsFrom(gaps.size());
}

void IPAddrView::writeRow(int row, const _VKGAPIP_CONF &gap, const RowTexts &texts)
{
    QTableWidget *table = m_ui->tableWidget;
    QTableWidgetItem *address = colouredItem(QString::fromLatin1(gap.HostIP), kAddressColour);
    address->setData(kGapRole, QVariant::fromValue(quintptr(&gap)));
    table->setItem(row, Address, address);
    table->setItem(row, User, TableSetup::centredItem(QString::fromLatin1(gap.LoginUserName)));
    table->setItem(row, Sent, TableSetup::centredItem(texts.sent));
    table->setItem(row, Received, TableSetup::centredItem(texts.received));
    table->setItem(row, Duration, TableSetup::centredItem(texts.duration));
    table->setItem(row, State, colouredItem(texts.state.text, texts.state.colour));
}

void IPAddrView::clearRowsFrom(int row)
{
    QTableWidget *table = m_ui->tableWidget;
    for (; row < table->rowCount(); ++row) {
        for (int column = 0; column < ColumnCount; ++column)
            delete table->takeItem(row, column);
    }
}

_VKGAPIP_CONF *IPAddrView::currentGap() const
{
    const QTableWidget *table = m_ui->tableWidget;
    if (table->selectedItems().isEmpty())
        return nullptr;
    const QTableWidgetItem *address = table->item(table->currentRow(), Address);
    if (!address)
        return nullptr;
    auto *gap = reinterpret_cast<_VKGAPIP_CONF *>(address->data(kGapRole).value<quintptr>());
    // A row written before the gap was taken out of the list no longer names a listed gap.
    return g_GapInfoList.indexOf(gap) >= 0 ? gap : nullptr;
}

bool IPAddrView::gapInUse(const _VKGAPIP_CONF &gap)
{
    if (gap.hasSendPath)
        return true;
    // The status checker rebuilds hasSendPath every second, clearing it first: asking the rules
    // themselves keeps a gap with send rules from slipping through in that moment.
    const QList<_SENDPATH_LISTDATA *> rules = g_SendPathList.snapshot();
    for (const _SENDPATH_LISTDATA *rule : rules) {
        if (rule && std::strncmp(rule->GapIP, gap.HostIP, kHostIPSize) == 0)
            return true;
    }
    return false;
}

void IPAddrView::onAddBtnClicked()
{
    auto *dialog = new IPAddrConfigDialog(this);
    connect(dialog, &IPAddrConfigDialog::updateDisPlayList, this, &IPAddrView::displayList);
    connect(dialog, &IPAddrConfigDialog::updateDisPlayList, this, &IPAddrView::listChanged);
    dialog->show();
}

void IPAddrView::onDelBtnClicked()
{
    _VKGAPIP_CONF *gap = currentGap();
    if (!gap)
        return;
    if (gapInUse(*gap)) {
        tellNotice(this, QStringLiteral("该隔离器正在使用无法删除"));
        return;
    }
    if (g_GapInfoList.size() == 1) {
        tellNotice(this, QStringLiteral("唯一的隔离器地址无法删除"));
        return;
    }
    const int answer = askQuestion(this, QStringLiteral("删除"), QStringLiteral("确定删除？"),
        PromptRequest::Yes | PromptRequest::No);
    if (answer != PromptRequest::Yes)
        return;
    // Unlisted by the record itself under the registry's lock, so a walker's snapshot stays
    // whole; the record stays allocated for whoever still points to it.
    g_GapInfoList.removeOne(gap);
    displayList();
    emit listChanged();
}

std::unique_ptr<QMenu> IPAddrView::createContextMenu(const QPoint &pos)
{
    QTableWidget *table = m_ui->tableWidget;
    const QTableWidgetItem *item = table->itemAt(pos);
    if (!item)
        return nullptr;
    table->selectRow(item->row());
    const _VKGAPIP_CONF *gap = currentGap();
    auto menu = std::make_unique<QMenu>(this);
    connect(menu->addAction(QStringLiteral("删除")), &QAction::triggered, this,
        &IPAddrView::onDelBtnClicked);
    QAction *connectAction = menu->addAction(QStringLiteral("连接"));
    connectAction->setEnabled(gap && gap->connState == 0 && !isConnecting());
    connect(connectAction, &QAction::triggered, this, &IPAddrView::onConnectGap);
    return menu;
}

void IPAddrView::onMenuRequst(QPoint pos)
{
    const std::unique_ptr<QMenu> menu = createContextMenu(pos);
    if (menu)
        menu->exec(QCursor::pos());
}

void IPAddrView::onConnectGap()
{
    _VKGAPIP_CONF *gap = currentGap();
    if (!gap)
        return;
    if (isConnecting())
        return;
    // Records stay allocated once unlisted, so a gap deleted meanwhile is still there to log in.
    m_connect = std::make_unique<ControlThread>(
        [gap](SocketTools &tools) { tools.connectToGapHost(gap); });
    connect(m_connect->thread(), &QThread::finished, this, [this] {
        m_connect->wait(); // at its very end already; what the login wrote is now ours to read
        onUpdateGapState();
        emit connectEnded();
    });
    m_connect->start();
}

bool IPAddrView::isConnecting() const { return m_connect && m_connect->isRunning(); }
