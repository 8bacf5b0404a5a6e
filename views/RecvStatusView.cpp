#include "views/RecvStatusView.h"

#include "views/TableSetup.h"

#include <QDateTime>
#include <QTcpSocket>
#include <QTreeWidget>
#include <unistd.h>

namespace {

enum Column { StartTime = 5, Status = 7 };

const QString kNotAvailable = QStringLiteral("receiving is not available yet");

// Takes ownership of an accepted connection only to close it, so that no descriptor leaks and the
// gap sees the connection end.
void closeConnection(qintptr socketDescriptor)
{
    QTcpSocket socket;
    if (socket.setSocketDescriptor(socketDescriptor))
        socket.abort();
    else
        ::close(int(socketDescriptor));
}

} // namespace

RecvStatusView::RecvStatusView(QWidget *parent)
    : QWidget(parent)
    , m_tree(TableSetup::addTransferTree(this, TableSetup::transferHeaders()))
{
}

void RecvStatusView::onInsertItem(qintptr socketDescriptor)
{
    auto *item = new QTreeWidgetItem;
    item->setText(
        StartTime, QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
    item->setText(Status, kNotAvailable);
    m_tree->insertTopLevelItem(0, item);
    closeConnection(socketDescriptor);
}
