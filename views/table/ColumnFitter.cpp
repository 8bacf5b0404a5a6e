#include "views/table/ColumnFitter.h"

#include <QAbstractItemView>
#include <QEvent>
#include <QHeaderView>
#include <algorithm>
#include <numeric>

namespace {

// The delegate's margins on either side of a cell's text, with a little air.
constexpr int kCellPadding = 10;

} // namespace

ColumnFitter::ColumnFitter(
    QAbstractItemView *view, QHeaderView *header, const QVector<Column> &columns)
    : QObject(view)
    , m_view(view)
    , m_viewport(view->viewport())
    , m_header(header)
    , m_columns(columns)
    , m_contentsWidth(columns.size(), 0)
{
    m_header->setStretchLastSection(false);
    m_header->setSectionResizeMode(QHeaderView::Interactive);
    m_header->setMinimumSectionSize(1);
    m_viewport->installEventFilter(this);
    QAbstractItemModel *model = view->model();
    connect(model, &QAbstractItemModel::dataChanged, this, &ColumnFitter::noteContents);
    connect(model, &QAbstractItemModel::rowsInserted, this,
        [this, model](const QModelIndex &parent, int first, int last) {
            noteContents(model->index(first, 0, parent),
                model->index(last, model->columnCount(parent) - 1, parent));
        });
    connect(model, &QAbstractItemModel::modelReset, this, &ColumnFitter::forgetContents);
}

QVector<int> ColumnFitter::widths(
    int available, const QVector<int> &minima, const QVector<int> &shares)
{
    QVector<int> result = minima;
    const int spare = available - std::accumulate(minima.cbegin(), minima.cend(), 0);
    const int shareSum = std::accumulate(shares.cbegin(), shares.cend(), 0);
    if (spare <= 0 || shareSum <= 0)
        return result;
    int given = 0;
    int last = -1;
    for (int column = 0; column < result.size(); ++column) {
        if (shares.value(column) <= 0)
            continue;
        const int part = spare * shares.at(column) / shareSum;
        result[column] += part;
        given += part;
        last = column;
    }
    result[last] += spare - given;
    return result;
}

QVector<int> ColumnFitter::minima() const
{
    QVector<int> minima;
    for (int column = 0; column < m_columns.size(); ++column) {
        const Column &wanted = m_columns.at(column);
        int needed = qMax(wanted.floor, m_header->sectionSizeHint(column));
        for (const QString &sample : wanted.samples)
            needed = qMax(needed, textWidth(sample) + wanted.extra);
        if (wanted.followsContents)
            needed = qMax(needed, m_contentsWidth.at(column) + wanted.extra);
        minima << needed;
    }
    return minima;
}

QVector<bool> ColumnFitter::givingWay(int available, const QVector<int> &minima) const
{
    QVector<bool> hidden(m_columns.size(), false);
    int needed = std::accumulate(minima.cbegin(), minima.cend(), 0);
    QVector<int> order;
    for (int column = 0; column < m_columns.size(); ++column) {
        if (m_columns.at(column).giveWayOrder > 0)
            order << column;
    }
    std::stable_sort(order.begin(), order.end(), [this](int a, int b) {
        return m_columns.at(a).giveWayOrder < m_columns.at(b).giveWayOrder;
    });
    for (const int column : qAsConst(order)) {
        if (needed <= available)
            break;
        hidden[column] = true;
        needed -= minima.at(column);
    }
    return hidden;
}

void ColumnFitter::fit()
{
    if (!m_viewport || !m_header)
        return;
    const int available = m_viewport->width();
    QVector<int> minima = this->minima();
    const QVector<bool> hidden = givingWay(available, minima);
    QVector<int> shares;
    for (int column = 0; column < m_columns.size(); ++column) {
        shares << (hidden.at(column) ? 0 : m_columns.at(column).share);
        if (hidden.at(column))
            minima[column] = 0;
    }
    const QVector<int> sizes = widths(available, minima, shares);
    for (int column = 0; column < sizes.size(); ++column) {
        m_header->setSectionHidden(column, hidden.at(column));
        if (!hidden.at(column))
            m_header->resizeSection(column, sizes.at(column));
    }
}

bool ColumnFitter::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_viewport && event->type() == QEvent::Resize)
        fit();
    return QObject::eventFilter(watched, event);
}

void ColumnFitter::noteContents(const QModelIndex &topLeft, const QModelIndex &bottomRight)
{
    bool grown = false;
    for (int column = topLeft.column(); column <= bottomRight.column(); ++column) {
        if (column >= m_columns.size() || !m_columns.at(column).followsContents)
            continue;
        for (int row = topLeft.row(); row <= bottomRight.row(); ++row) {
            const int width
                = textWidth(topLeft.siblingAtRow(row).siblingAtColumn(column).data().toString());
            if (width > m_contentsWidth.at(column)) {
                m_contentsWidth[column] = width;
                grown = true;
            }
        }
    }
    if (grown)
        fit();
}

void ColumnFitter::forgetContents()
{
    m_contentsWidth.fill(0);
    fit();
}

int ColumnFitter::textWidth(const QString &text) const
{
    return text.isEmpty() ? 0 : m_view->fontMetrics().horizontalAdvance(text) + kCellPadding;
}
