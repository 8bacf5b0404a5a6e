#include "RuleFixture.h"
#include "support/TestSupport.h"
#include "views/gaps/StatusCheckout.h"
#include "views/rules/RecvPathView.h"
#include "views/rules/SendPathView.h"

#include <QTableWidget>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>
#include <atomic>

using namespace RuleFixture;

namespace {

constexpr int kRounds = 40;

// Runs the status checker's once-a-second pass back to back in a thread of its own, reporting to
// the two pages as the main window wires it.
class BusyChecker : public QThread
{
public:
    BusyChecker(SendPathView *send, RecvPathView *recv)
        : m_send(send)
        , m_recv(recv)
    {
    }
    std::atomic<bool> stop { false };
    std::atomic<int> passes { 0 };
    // Passes whose reports the GUI thread has had the chance to deliver. A pass waits for the one
    // before it, as the once-a-second timer does in the client: a checker that runs ahead piles
    // thousands of reports into Qt's event queue, whose lock ThreadSanitizer cannot see.
    std::atomic<int> delivered { 0 };

    // Called by the GUI thread after it processed its events; the number of passes so far.
    int acknowledge()
    {
        delivered = passes.load();
        return delivered;
    }

protected:
    void run() override
    {
        StatusCheckout checker;
        QObject::connect(&checker, &StatusCheckout::setSendPathItemValue, m_send,
            &SendPathView::setSendPathTableItem, Qt::QueuedConnection);
        QObject::connect(&checker, &StatusCheckout::setRecvPathItemValue, m_recv,
            &RecvPathView::setRecvPathTableItem, Qt::QueuedConnection);
        while (!stop) {
            checker.onGapStateCheck();
            ++passes;
            while (!stop && delivered < passes)
                QThread::yieldCurrentThread();
        }
    }

private:
    SendPathView *m_send;
    RecvPathView *m_recv;
};

} // namespace

class TestRuleRemovalRace : public QObject
{
    Q_OBJECT

private:
    Records m_records;

private slots:
    void cleanup() { m_records.freeAll(); }

    // Rules are added, changed and deleted through the pages while the checker walks the lists
    // and writes their status texts; the thread-sanitizer run proves the walks race-free.
    void changingRulesWhileTheCheckerRuns()
    {
        _VKGAPIP_CONF *gap = addGap("10.0.0.1", 1);
        offerSend(gap, QStringLiteral("K1"), QStringLiteral("bob"), 0);
        offerSend(gap, QStringLiteral("K2"), QStringLiteral("bob"), 0);
        offerRecv(gap, QStringLiteral("R1"), QStringLiteral("dave"));
        offerRecv(gap, QStringLiteral("R2"), QStringLiteral("dave"));
        SendPathView send;
        RecvPathView recv;
        TestSupport::PromptRecorder prompts;
        QTemporaryDir root;
        BusyChecker checker(&send, &recv);
        checker.start();

        for (int round = 0; round < kRounds; ++round) {
            const QString n = QString::number(round);
            for (RuleListView *view :
                { static_cast<RuleListView *>(&send), static_cast<RuleListView *>(&recv) }) {
                const bool isSend = view == &send;
                view->addButton()->click();
                fillAndConfirm(view->dialog(), "10.0.0.1", isSend ? "K1" : "R1",
                    isSend ? "bob" : "dave", madeDir(root.path(), "a" + n));
                view->addButton()->click();
                fillAndConfirm(view->dialog(), "10.0.0.1", isSend ? "K2" : "R2",
                    isSend ? "bob" : "dave", madeDir(root.path(), "b" + n));
                m_records.keep();
                view->table()->selectRow(0);
                view->modifyButton()->click();
                fillAndConfirm(view->dialog(), "10.0.0.1", isSend ? "K1" : "R1",
                    isSend ? "bob" : "dave", madeDir(root.path(), "c" + n));
                m_records.keep();
                view->table()->selectRow(0);
                view->deleteButton()->click();
                view->table()->selectRow(0);
                view->deleteButton()->click();
            }
            QCoreApplication::processEvents();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            checker.acknowledge();
        }
        QTRY_VERIFY_WITH_TIMEOUT(checker.acknowledge() > kRounds, 60000);
        checker.stop = true;
        QVERIFY(checker.wait(60000));
        QCoreApplication::processEvents();

        QCOMPARE(prompts.texts().count(QStringLiteral("确定删除？")), 4 * kRounds);
        QCOMPARE(prompts.texts().size(), 4 * kRounds);
        QCOMPARE(g_SendPathList.size(), 0);
        QCOMPARE(g_RecvPathList.size(), 0);
        // Late reports about deleted rows leave no text behind.
        QVERIFY(!send.table()->item(0, SendPathView::kStatusColumn));
        QVERIFY(!recv.table()->item(0, RecvPathView::kStatusColumn));
    }
};

QTEST_MAIN(TestRuleRemovalRace)
#include "tst_ruleremovalrace.moc"
