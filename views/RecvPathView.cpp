#include "views/RecvPathView.h"

#include "model/GlobalData.h"
#include "views/TableSetup.h"

#include <QTableWidget>

RecvPathView::RecvPathView(QWidget *parent)
    : QWidget(parent)
    , m_table(TableSetup::addFixedTable(this,
          { QStringLiteral("序号"), QStringLiteral("接收路径"), QStringLiteral("隔离器地址"),
              QStringLiteral("接收路径"), QStringLiteral("接收状态"), QStringLiteral("发送人") }))
{
    onDisPlayList();
}

void RecvPathView::onDisPlayList()
{
    m_table->clearContents();
    const QList<_RECVPATH_LISTDATA *> rules = g_RecvPathList.snapshot();
    for (int row = 0; row < rules.size() && row < m_table->rowCount(); ++row) {
        const _RECVPATH_LISTDATA &rule = *rules.at(row);
        QString status;
        {
            QMutexLocker lock(&statusMutex);
            status = rule.statusText;
        }
        const QStringList cells = { QString::number(row + 1), rule.RecvPath,
            QString::fromLatin1(rule.GapIP), QString::fromLatin1(rule.RecvPathID), status,
            QString::fromLatin1(rule.FromUser) };
        for (int column = 0; column < cells.size(); ++column)
            m_table->setItem(row, column, TableSetup::centredItem(cells.at(column)));
    }
}

void RecvPathView::setRecvPathTableItem(int row, QString text)
{
    if (row < 0 || row >= m_table->rowCount())
        return;
    const QTableWidgetItem *current = m_table->item(row, kStatusColumn);
    if (current && current->text() == text)
        return;
    m_table->setItem(row, kStatusColumn, TableSetup::centredItem(text));
}
