#include "views/SendPathView.h"

#include "model/GlobalData.h"
#include "views/TableSetup.h"

#include <QTableWidget>

SendPathView::SendPathView(QWidget *parent)
    : QWidget(parent)
    , m_table(TableSetup::addFixedTable(this,
          { QStringLiteral("序号"), QStringLiteral("文件路径"), QStringLiteral("隔离器地址"),
              QStringLiteral("发送路径"), QStringLiteral("发送状态"), QStringLiteral("接收人") }))
{
    onDisPlayList();
}

void SendPathView::onDisPlayList()
{
    m_table->clearContents();
    const QList<_SENDPATH_LISTDATA *> rules = g_SendPathList.snapshot();
    for (int row = 0; row < rules.size() && row < m_table->rowCount(); ++row) {
        const _SENDPATH_LISTDATA &rule = *rules.at(row);
        QString status;
        {
            QMutexLocker lock(&statusMutex);
            status = rule.statusText;
        }
        const QStringList cells
            = { QString::number(row + 1), rule.SendPath, QString::fromLatin1(rule.GapIP),
                  QString::fromLatin1(rule.SendPathID), status, QString::fromLatin1(rule.ToUser) };
        for (int column = 0; column < cells.size(); ++column)
            m_table->setItem(row, column, TableSetup::centredItem(cells.at(column)));
    }
}

void SendPathView::setSendPathTableItem(int row, QString text)
{
    if (row < 0 || row >= m_table->rowCount())
        return;
    m_table->setItem(row, kStatusColumn, TableSetup::centredItem(text));
}
