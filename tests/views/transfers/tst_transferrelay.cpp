#include "model/HandOver.h"
#include "model/ThreadHandOver.h"
#include "model/TransferStateInfo.h"
#include "support/TestSupport.h"
#include "views/transfers/SendStatusView.h"
#include "views/transfers/TransferItem.h"

#include <QThread>
#include <QTreeWidget>
#include <QtTest>

namespace {

TransferStateInfo reportWith(const QString &progress, const QString &status)
{
    TransferStateInfo info;
    for (int column = 0; column < TransferStateInfo::kColumns; ++column)
        info.setText(column, QStringLiteral("c%1").arg(column));
    info.setText(TransferStateInfo::Progress, progress);
    info.setText(TransferStateInfo::Status, status);
    return info;
}

} // namespace

// Stands in for a transfer worker: reports from its own thread with the workers' signal.
class ReportingWorker : public QObject
{
    Q_OBJECT

public:
    // Emits one report per progress text, back to back, in the calling (worker) thread.
    Q_INVOKABLE void report(const QStringList &progressTexts)
    {
        HandOver::acquire(this);
        for (const QString &progress : progressTexts)
            emit updataRequset(reportWith(progress, QStringLiteral("running")));
        HandOver::release(this);
    }

    // Has report() called in the worker's thread and waits for it. The texts are the caller's, lent
    // through Qt's semaphore, which ThreadSanitizer cannot see.
    bool reportFromWorker(const QStringList &progressTexts)
    {
        HandOver::release(this);
        const bool invoked = QMetaObject::invokeMethod(
            this, "report", Qt::BlockingQueuedConnection, Q_ARG(QStringList, progressTexts));
        HandOver::acquire(this);
        return invoked;
    }

signals:
    void updataRequset(TransferStateInfo info);
};

// Nothing registers the report type up front here: the relay must work on its own.
class TestTransferRelay : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_worker = new ReportingWorker;
        m_worker->moveToThread(&m_thread);
        connect(&m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
        ThreadHandOver::start(&m_thread, m_worker);
    }

    void cleanup()
    {
        ThreadHandOver::end(&m_thread, m_worker);
        QVERIFY(ThreadHandOver::wait(&m_thread, 30000));
    }

    // Reports emitted in quick succession are all applied, in the order they were emitted, and the
    // row ends showing the last one.
    void reportsApplyInEmissionOrder()
    {
        QTreeWidget tree;
        auto *item = new TransferItem(qintptr(-1));
        tree.addTopLevelItem(item);
        item->relayFrom(m_worker);

        QStringList shown;
        connect(
            tree.model(), &QAbstractItemModel::dataChanged, &tree, [&](const QModelIndex &topLeft) {
                if (topLeft.column() == TransferStateInfo::Progress)
                    shown << topLeft.data().toString();
            });
        QStringList emitted;
        for (int step = 1; step <= 50; ++step)
            emitted << QString::number(step / 50.0);
        // Returns once the worker has emitted them all: every report is queued by now.
        QVERIFY(m_worker->reportFromWorker(emitted));

        QTRY_COMPARE_WITH_TIMEOUT(shown.size(), emitted.size(), 10000);
        QCOMPARE(shown, emitted);
        QCOMPARE(item->text(TransferStateInfo::Progress), QStringLiteral("1"));
        for (int column = 0; column < TransferStateInfo::kColumns; ++column)
            QVERIFY(!item->text(column).isEmpty());
    }

    // A deleted row's worker may go on (a worker of a row without a file to stop): what it
    // reported before, still queued, and what it reports afterwards are both dropped, and the
    // other rows are left alone.
    void reportsForDeletedRowAreDropped()
    {
        SendStatusView view;
        TestSupport::PromptRecorder prompts(PromptRequest::Yes);
        auto *kept = new TransferItem(qintptr(-1));
        auto *deleted = new TransferItem(qintptr(-1));
        view.addRow(kept);
        view.addRow(deleted);
        kept->setText(TransferStateInfo::Status, QStringLiteral("kept"));
        deleted->relayFrom(m_worker);

        const QStringList report { QStringLiteral("0.5") };
        QVERIFY(m_worker->reportFromWorker(report));
        view.tree()->setCurrentItem(deleted);
        QTest::ignoreMessage(QtDebugMsg, "控件删除");
        view.onMenuDelete();
        QVERIFY(m_worker->reportFromWorker(report));
        QCoreApplication::processEvents();

        QCOMPARE(view.tree()->topLevelItemCount(), 1);
        QCOMPARE(view.tree()->topLevelItem(0), kept);
        QCOMPARE(kept->text(TransferStateInfo::Status), QStringLiteral("kept"));
        QVERIFY(kept->text(TransferStateInfo::Progress).isEmpty());
    }

private:
    QThread m_thread;
    ReportingWorker *m_worker = nullptr;
};

QTEST_MAIN(TestTransferRelay)
#include "tst_transferrelay.moc"
