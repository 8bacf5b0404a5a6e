#include "views/transfers/TransferItem.h"

#include "model/HandOver.h"
#include "receive/RecvStatusText.h"
#include "receive/RecvWorkThread.h"
#include "send/SendSlots.h"
#include "send/SendWorkThread.h"
#include "views/transfers/OutcomeStyle.h"

#include <QDateTime>
#include <QIcon>
#include <QThreadPool>
#include <QtDebug>
#include <unistd.h>

namespace {

// Done and failed rows look as successes and failures do everywhere in the client; running and
// refused rows have icons of their own in the same manner.
QIcon outcomeIcon(TransferOutcome::Kind outcome)
{
    static const QIcon running(QStringLiteral(":/res/status/running.svg"));
    static const QIcon refused(QStringLiteral(":/res/status/refused.svg"));
    switch (outcome) {
    case TransferOutcome::Done:
        return OutcomeStyle::icon(true);
    case TransferOutcome::Failed:
        return OutcomeStyle::icon(false);
    case TransferOutcome::Refused:
        return refused;
    case TransferOutcome::Running:
        break;
    }
    return running;
}

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
    const QString now
        = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    TransferStateInfo info;
    info.setText(TransferStateInfo::Rate, QStringLiteral("0 Mbps"));
    info.setText(TransferStateInfo::StartTime, now);
    info.setText(TransferStateInfo::EndTime, now);
    info.setText(TransferStateInfo::Status, RecvStatusText::kNoThread);
    onUpdateRequest(info);
}

void TransferItem::onUpdateRequest(const TransferStateInfo &info)
{
    for (int column = 0; column < TransferStateInfo::kColumns; ++column)
        setData(column, Qt::DisplayRole, info.at(column));
    m_pace.onReport(info, m_clock.elapsed());
    setIcon(TransferStateInfo::FileName, outcomeIcon(m_pace.outcome()));
    showToolTips(info);
}

void TransferItem::showToolTips(const TransferStateInfo &info)
{
    const QString name = info.at(TransferStateInfo::FileName);
    setToolTip(TransferStateInfo::FileName, m_filePath.isEmpty() ? name : m_filePath);
    setToolTip(TransferStateInfo::TransferPath, info.at(TransferStateInfo::TransferPath));
    setToolTip(TransferStateInfo::Status,
        QStringLiteral("%1（%2）")
            .arg(info.at(TransferStateInfo::Status), TransferOutcome::label(m_pace.outcome())));
    setToolTip(TransferStateInfo::Rate, m_pace.rateToolTip());
}
