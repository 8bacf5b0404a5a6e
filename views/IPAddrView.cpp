#include "views/IPAddrView.h"

#include "model/BaseFunction.h"
#include "model/GlobalData.h"
#include "views/TableSetup.h"

#include <QColor>
#include <QTableWidget>

namespace {

enum Column { Address, User, Sent, Received, Duration, State };

const QColor kAddressColour(61, 162, 255);
const QColor kConnectedColour(96, 176, 57);
const QColor kInterruptedColour(255, 30, 0);
const QColor kConnectingColour(255, 176, 57);

struct StateLook {
    QString text;
    QColor colour;
};

StateLook stateLook(const _VKGAPIP_CONF &gap)
{
    const int state = gap.connState;
    if (state == 1 && gap.confGetted)
        return { QStringLiteral("连接正常"), kConnectedColour };
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

} // namespace

IPAddrView::IPAddrView(QWidget *parent)
    : QWidget(parent)
    , m_table(TableSetup::addFixedTable(this,
          { QStringLiteral("隔离器地址"), QStringLiteral("用户"), QStringLiteral("发送文件"),
              QStringLiteral("接收文件"), QStringLiteral("连接持续时间"), QStringLiteral("状态") }))
{
    onUpdateGapState();
}

void IPAddrView::onUpdateGapState()
{
    m_table->clearContents();
    const QList<_VKGAPIP_CONF *> gaps = g_GapInfoList.snapshot();
    for (int row = 0; row < gaps.size() && row < m_table->rowCount(); ++row) {
        const _VKGAPIP_CONF &gap = *gaps.at(row);
        const StateLook look = stateLook(gap);
        QTableWidgetItem *address = TableSetup::centredItem(QString::fromLatin1(gap.HostIP));
        address->setForeground(kAddressColour);
        QTableWidgetItem *state = TableSetup::centredItem(look.text);
        state->setForeground(look.colour);
        m_table->setItem(row, Address, address);
        m_table->setItem(
            row, User, TableSetup::centredItem(QString::fromLatin1(gap.LoginUserName)));
        m_table->setItem(
            row, Sent, TableSetup::centredItem(countText(gap.sendFileNum, gap.sendBytes)));
        m_table->setItem(
            row, Received, TableSetup::centredItem(countText(gap.recvFileNum, gap.recvBytes)));
        m_table->setItem(
            row, Duration, TableSetup::centredItem(BaseFunction::formatDateTime(gap.connectTime)));
        m_table->setItem(row, State, state);
    }
}
