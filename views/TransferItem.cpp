#include "views/TransferItem.h"

#include "thread/RecvWorkThread.h"
#include "thread/SendWorkThread.h"

#include <QThreadPool>
#include <QtDebug>

TransferItem::TransferItem(qintptr socketDescriptor)
    : m_socketDescriptor(socketDescriptor)
    , m_connector(std::make_unique<SignalConnector>(this))
{
}

TransferItem::TransferItem(_FINDFILEINFO *file, _SENDPATH_LISTDATA *rule)
    : m_connector(std::make_unique<SignalConnector>(this))
    , m_file(file)
    , m_rule(rule)
{
}

TransferItem::~TransferItem() { qDebug() << "控件删除"; }

int TransferItem::sendStart()
{
    // The pool deletes the worker when its run ends (auto-deletion stays on).
    auto *worker = new SendWorkThread(m_rule, m_file);
    relayFrom(worker);
    QThreadPool::globalInstance()->start(worker, 0);
    return 0;
}

int TransferItem::recvStart()
{
    auto *worker = new RecvWorkThread(m_socketDescriptor);
    relayFrom(worker);
    QObject::connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    worker->start(QThread::InheritPriority);
    return 0;
}

void TransferItem::onUpdateRequest(const TransferStateInfo &info)
{
    for (int column = 0; column < TransferStateInfo::kColumns; ++column)
        setData(column, Qt::DisplayRole, info.at(column));
    // The two columns that share what width is left may be cut: hovering shows them whole.
    setToolTip(TransferStateInfo::FileName, info.at(TransferStateInfo::FileName));
    setToolTip(TransferStateInfo::Status, info.at(TransferStateInfo::Status));
}
