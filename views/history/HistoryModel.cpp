#include "views/history/HistoryModel.h"

#include "audit/AuditText.h"
#include "audit/VisibleText.h"
#include "model/ThreadHandOver.h"
#include "views/transfers/OutcomeStyle.h"

namespace {

const char *const kHeaders[HistoryModel::ColumnCount]
    = { "时间", "类别", "网闸", "用户", "结果", "文件", "对方", "说明" };

} // namespace

HistoryModel::HistoryModel(QObject *parent)
    : QAbstractTableModel(parent)
{
    m_thread.setObjectName(QStringLiteral("history"));
}

HistoryModel::~HistoryModel()
{
    if (!m_loader)
        return;
    // A read under way gives up at once.
    m_loader->setEpoch(++m_epoch);
    ThreadHandOver::end(&m_thread, m_loader);
    ThreadHandOver::wait(&m_thread);
}

void HistoryModel::setFilter(const AuditFilter &filter)
{
    m_filter = filter;
    reload();
}

void HistoryModel::reload()
{
    startLoader();
    m_loader->setEpoch(++m_epoch);
    beginResetModel();
    m_rows.clear();
    m_atEnd = true;
    m_reading = false;
    endResetModel();
    request(AuditEvent(), 0);
}

void HistoryModel::followNewEvents()
{
    if (m_reading || m_state == Idle)
        return;
    if (m_state != Loaded) {
        reload();
        return;
    }
    request(AuditEvent(), m_lastId);
}

int HistoryModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_rows.size();
}

int HistoryModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant HistoryModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const HistoryRow &row = m_rows.at(index.row());
    const int column = index.column();
    switch (role) {
    case Qt::DisplayRole:
        return display(row, column);
    case Qt::DecorationRole:
        return column == Outcome ? QVariant(OutcomeStyle::icon(row.outcome)) : QVariant();
    case Qt::ForegroundRole:
        return column == Outcome ? QVariant(OutcomeStyle::colour(row.outcome)) : QVariant();
    case Qt::ToolTipRole:
        // The detail as the event holds it, for what the two columns leave out.
        return column == File || column == Message ? QVariant(visibleText(row.event.detail))
                                                   : QVariant();
    default:
        return {};
    }
}

QVariant HistoryModel::display(const HistoryRow &row, int column) const
{
    switch (column) {
    case Time:
        return row.localTime;
    case Kind:
        return AuditText::kindLabel(row.kind, row.event);
    case Gap:
        return visibleText(row.event.gap);
    case User:
        return visibleText(row.event.user);
    case Outcome:
        return TransferOutcome::label(row.outcome);
    case File:
        return visibleText(row.detail.fileName);
    case Peer:
        return AuditText::peer(row.kind, row.detail);
    case Message:
        return visibleText(row.detail.message);
    default:
        return {};
    }
}

QVariant HistoryModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0
        || section >= ColumnCount)
        return {};
    return QString::fromUtf8(kHeaders[section]);
}

bool HistoryModel::canFetchMore(const QModelIndex &parent) const
{
    return !parent.isValid() && m_state == Loaded && !m_reading && !m_atEnd;
}

void HistoryModel::fetchMore(const QModelIndex &parent)
{
    if (canFetchMore(parent))
        request(m_rows.last().event, 0);
}

void HistoryModel::startLoader()
{
    if (m_loader)
        return;
    m_loader = new HistoryLoader(m_database);
    m_loader->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_loader, &QObject::deleteLater);
    connect(m_loader, &HistoryLoader::loaded, this, &HistoryModel::onLoaded);
    connect(
        this, &HistoryModel::loadRequested, m_loader, &HistoryLoader::load, Qt::QueuedConnection);
    ThreadHandOver::start(&m_thread, m_loader);
}

void HistoryModel::request(const AuditEvent &after, qint64 afterId)
{
    HistoryRequest request;
    request.epoch = m_epoch;
    request.filter = m_filter;
    request.filter.afterId = afterId;
    request.after = after;
    request.limit = m_pageSize;
    m_reading = true;
    if (m_rows.isEmpty())
        setState(Loading);
    emit loadRequested(request);
}

void HistoryModel::onLoaded(const HistoryRequest &request, const HistoryBatch &batch)
{
    request.handOver.taken();
    batch.handOver.taken();
    if (request.epoch != m_epoch)
        return;
    m_reading = false;
    if (batch.status != HistoryBatch::Loaded) {
        setState(batch.status == HistoryBatch::NoStore ? NoStore : Failed, batch.error);
        return;
    }
    if (request.filter.afterId > 0)
        prependNews(batch);
    else
        appendPage(request, batch);
}

void HistoryModel::appendPage(const HistoryRequest &request, const HistoryBatch &batch)
{
    if (request.after.id == 0)
        m_lastId = batch.lastId;
    m_atEnd = batch.rows.size() < request.limit;
    if (!batch.rows.isEmpty()) {
        beginInsertRows(QModelIndex(), m_rows.size(), m_rows.size() + batch.rows.size() - 1);
        m_rows += batch.rows;
        endInsertRows();
    }
    setState(Loaded);
}

void HistoryModel::prependNews(const HistoryBatch &batch)
{
    // More news than a page: the rows shown are far behind, so start again from the newest.
    if (batch.rows.size() >= m_pageSize) {
        reload();
        return;
    }
    m_lastId = batch.lastId;
    if (!batch.rows.isEmpty()) {
        beginInsertRows(QModelIndex(), 0, batch.rows.size() - 1);
        m_rows = batch.rows + m_rows;
        endInsertRows();
    }
    setState(Loaded);
}

void HistoryModel::setState(State state, const QString &error)
{
    m_state = state;
    m_error = error;
    emit stateChanged();
}
