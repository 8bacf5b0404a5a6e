#pragma once

#include "model/FileKey.h"
#include "model/TransferStateInfo.h"
#include "views/table/SignalConnector.h"
#include "views/transfers/TransferPace.h"

#include <QElapsedTimer>
#include <QTreeWidgetItem>
#include <memory>

struct _FINDFILEINFO;
struct _SENDPATH_LISTDATA;

// One row of a status view: one file being sent or received. The item starts the transfer's
// worker and shows what the worker reports. It keeps no pointer to the worker: the pool or the
// thread itself deletes the worker when it ends, and the row never calls into it after starting.
class TransferItem : public QTreeWidgetItem
{
public:
    // A receiving row for a connection the file listener accepted.
    explicit TransferItem(qintptr socketDescriptor);
    // A sending row; neither the file nor the rule is owned.
    TransferItem(_FINDFILEINFO *file, _SENDPATH_LISTDATA *rule);
    // A sending row for a file that is never started: it only says why the file stays.
    TransferItem(const QString &filePath, _SENDPATH_LISTDATA *rule);
    ~TransferItem() override;

    TransferItem(const TransferItem &) = delete;
    TransferItem &operator=(const TransferItem &) = delete;

    // Start the worker of this row; both return 0.
    int sendStart();
    int recvStart();
    // Sends the file again in this row: the scanner offered it anew after the row's last round
    // failed, or after the user asked for it.
    void sendAgain(_FINDFILEINFO *file);

    // A sending row's file, as the sending engine knows it (SendLedger::cancel, retryNow): its
    // rule and its key. Null and empty for a receiving row.
    _SENDPATH_LISTDATA *sendRule() const { return m_rule; }
    const FileKey &fileKey() const { return m_fileKey; }
    // Where the file lies: a sent file in its send directory, a received file where it was
    // stored once it was; empty before that.
    QString filePath() const { return m_filePath; }
    // Ends a row whose file the user stopped while no worker ran for it.
    void endByUser();

    // Shows a report: one string per column, the outcome's icon before the file name, and the
    // texts a narrow column may cut, the time left or the average rate as tooltips.
    void onUpdateRequest(const TransferStateInfo &info);
    TransferOutcome::Kind outcome() const { return m_pace.outcome(); }

    // Routes a worker's reports to this row. Automatic connection: the worker emits in its own
    // thread, so each report is queued and applied in the GUI thread in emission order.
    template <typename Worker> void relayFrom(Worker *worker)
    {
        // A queued report needs its type registered by name. Start-up registers it too, but a row
        // must not depend on how the process was started.
        qRegisterMetaType<TransferStateInfo>("TransferStateInfo");
        QObject::connect(
            worker, &Worker::updataRequset, m_connector.get(), &SignalConnector::onUpdateRequest);
    }

private:
    void showToolTips(const TransferStateInfo &info);
    // Ends a receiving row whose worker could not be started.
    void endUnstarted();

    void announceOutcome(TransferOutcome::Kind before);

    qintptr m_socketDescriptor = -1;
    std::unique_ptr<SignalConnector> m_connector;
    _FINDFILEINFO *m_file = nullptr;
    _SENDPATH_LISTDATA *m_rule = nullptr;
    // Taken at the start for a sent file, as the scanner's record may go before the row; from the
    // worker's report for a received one, once it was stored.
    QString m_filePath;
    bool m_stored = false;
    FileKey m_fileKey;
    QElapsedTimer m_clock; // from the row's start
    TransferPace m_pace;
};
