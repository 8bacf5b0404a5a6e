#include "views/transfers/TransferItem.h"

#include "model/HandOver.h"
#include "receive/RecvStatusText.h"
#include "receive/RecvWorkThread.h"
#include "send/SendSlots.h"
#include "send/SendWorkThread.h"
#include "views/transfers/OutcomeStyle.h"
#include "views/transfers/TransferDelegate.h"
#include "views/transfers/TransferStatusView.h"

#include <QDateTime>
#include <QThreadPool>
#include <QTreeWidget>
#include <QtDebug>
#include <unistd.h>

namespace {

const QString kUserStop = QStringLiteral("用户停止发送");
const QString kStoppedRate = QStringLiteral("0 Mbps");
const QString kTimeFormat = QStringLiteral("yyyy-MM-dd hh:mm:ss");

} // namespace

TransferItem::TransferItem(qintptr socketDescriptor)
    : m_socketDescriptor(socketDescriptor)
    , m_connector(std::make_unique<SignalConnector>(this))
{
    m_clock.start();
}

TransferItem::TransferItem(_FINDFILEINFO *file, _SENDPATH_LISTDATA *rule)
    : m_connector(std::make_unique<SignalConnector>(this))
    , m_file(file)
    , m_rule(rule)
    , m_filePath(file ? file->filePath : QString())
    , m_fileKey(file ? file->fileKey() : FileKey())
{
    m_clock.start();
}

TransferItem::TransferItem(const QString &filePath, _SENDPATH_LISTDATA *rule)
    : m_connector(std::make_unique<SignalConnector>(this))
    , m_rule(rule)
    , m_filePath(filePath)
{
    m_clock.start();
}

TransferItem::~TransferItem() { qDebug() << "控件删除"; }

int TransferItem::sendStart()
{
    // The pool deletes the worker when its run ends (auto-deletion stays on).
    auto *worker = new SendWorkThread(m_rule, m_file);
    relayFrom(worker);
    // The scanner counts the file in flight until its worker is gone; the connection is direct,
    // so the count drops in the pool's thread as the worker is deleted.
    QObject::connect(worker, &QObject::destroyed, [] { SendSlots::giveBack(); });
    // The pool passes the worker to one of its threads under a lock of its own, out of
    // ThreadSanitizer's sight when it reuses a thread; the worker takes it over in run().
    HandOver::release(worker);
    QThreadPool::globalInstance()->start(worker, 0);
    return 0;
}

void TransferItem::sendAgain(_FINDFILEINFO *file)
{
    m_file = file;
    m_filePath = file->filePath;
    m_fileKey = file->fileKey();
    m_pace = TransferPace();
    m_clock.restart();
    sendStart();
}

int TransferItem::recvStart()
{
    auto *worker = new RecvWorkThread(m_socketDescriptor);
    relayFrom(worker);
    QObject::connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    worker->start(QThread::InheritPriority);
    // A thread that could not be created never finishes: its worker, the connection and its place
    // among the workers alive would stay taken for good.
    if (!worker->isRunning() && !worker->isFinished()) {
        qWarning().noquote() << "a receiving thread could not be started: connection closed";
        delete worker;
        ::close(int(m_socketDescriptor));
        endUnstarted();
    }
    return 0;
}

void TransferItem::endUnstarted()
{
    const QString now = QDateTime::currentDateTime().toString(kTimeFormat);
    TransferStateInfo info;
    info.setText(TransferStateInfo::Rate, kStoppedRate);
    info.setText(TransferStateInfo::StartTime, now);
    info.setText(TransferStateInfo::EndTime, now);
    info.setText(TransferStateInfo::Status, RecvStatusText::kNoThread);
    onUpdateRequest(info);
}

void TransferItem::onUpdateRequest(const TransferStateInfo &info)
{
    const TransferOutcome::Kind before = m_pace.outcome();
    for (int column = 0; column < TransferStateInfo::kColumns; ++column)
        setData(column, Qt::DisplayRole, info.at(column));
    if (!info.at(TransferStateInfo::StoredPath).isEmpty()) {
        m_filePath = info.at(TransferStateInfo::StoredPath);
        m_stored = true;
    }
    m_pace.onReport(info, m_clock.elapsed());
    setData(TransferStateInfo::Rate, TransferDelegate::kShownRateRole, m_pace.shownRate());
    setIcon(TransferStateInfo::FileName, OutcomeStyle::icon(m_pace.outcome()));
    showToolTips(info);
    // A cell repaints when its own value changes, but the bar and the rate are drawn from the
    // status and end time as well: the whole row is painted anew.
    emitDataChanged();
    announceOutcome(before);
}

void TransferItem::endByUser()
{
    TransferStateInfo info;
    for (int column = 0; column < TransferStateInfo::kColumns; ++column)
        info.setText(column, text(column));
    info.setText(TransferStateInfo::Rate, kStoppedRate);
    info.setText(TransferStateInfo::EndTime, QDateTime::currentDateTime().toString(kTimeFormat));
    info.setText(TransferStateInfo::Status, kUserStop);
    onUpdateRequest(info);
}

void TransferItem::announceOutcome(TransferOutcome::Kind before)
{
    if (m_pace.outcome() == before || !treeWidget())
        return;
    // The tree is laid out in its status view.
    if (auto *view = qobject_cast<TransferStatusView *>(treeWidget()->parentWidget()))
        view->onOutcomeChanged(this);
}

void TransferItem::showToolTips(const TransferStateInfo &info)
{
    const QString name = info.at(TransferStateInfo::FileName);
    if (m_filePath.isEmpty())
        setToolTip(TransferStateInfo::FileName, name);
    else if (m_stored)
        setToolTip(TransferStateInfo::FileName, QStringLiteral("保存为 %1").arg(m_filePath));
    else
        setToolTip(TransferStateInfo::FileName, m_filePath);
    setToolTip(TransferStateInfo::TransferPath, info.at(TransferStateInfo::TransferPath));
    setToolTip(TransferStateInfo::Status,
        QStringLiteral("%1（%2）")
            .arg(info.at(TransferStateInfo::Status), TransferOutcome::label(m_pace.outcome())));
    setToolTip(TransferStateInfo::Rate, m_pace.rateToolTip());
}
