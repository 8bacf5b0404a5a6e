#include "ScanFixture.h"
#include "model/HandOver.h"

#include <QRunnable>
#include <QThread>
#include <QThreadPool>
#include <QtTest>
#include <atomic>
#include <memory>

namespace {

// Set once the scanner object has been destroyed, which happens when its thread ends.
std::atomic<bool> g_walkEnded { false };
QtMessageHandler g_testHandler = nullptr;

void noteWalkEnd(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message == QStringLiteral("遍历结束"))
        g_walkEnded = true;
    g_testHandler(type, context, message);
}

// A worker that takes a while and notes how many ran at once. As the real one, it gives its
// place back when it is deleted.
class SlowWorker : public QRunnable
{
public:
    SlowWorker(std::atomic<int> &running, std::atomic<int> &mostRunning)
        : m_running(running)
        , m_mostRunning(mostRunning)
    {
    }
    ~SlowWorker() override { SendSlots::giveBack(); }
    void run() override
    {
        HandOver::acquire(this);
        const int now = ++m_running;
        int most = m_mostRunning;
        while (now > most && !m_mostRunning.compare_exchange_weak(most, now)) { }
        QThread::msleep(20);
        --m_running;
    }

private:
    std::atomic<int> &m_running;
    std::atomic<int> &m_mostRunning;
};

struct Handed {
    _FINDFILEINFO *file;
    _SENDPATH_LISTDATA *rule;
    QThread *thread;
};

} // namespace

// The scanner in its own thread, as the main window runs it.
class TestScanController : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { g_testHandler = qInstallMessageHandler(noteWalkEnd); }

    void cleanupTestCase() { qInstallMessageHandler(g_testHandler); }

    void cleanup() { g_SendPathList.clear(); }

    void handsOverEachFileOnceInTheGuiThread()
    {
        ScanFixture scan;
        QVERIFY(!scan.write(QStringLiteral("a.bin"), 3).isEmpty());
        QVERIFY(!scan.write(QStringLiteral("sub/b.bin"), 4).isEmpty());
        g_SendPathList.append(&scan.rule);

        QList<Handed> handed;
        std::unique_ptr<Controller> controller(new Controller);
        connect(controller.get(), &Controller::insertItem,
            [&handed](_FINDFILEINFO *file, _SENDPATH_LISTDATA *rule) {
                handed.append({ file, rule, QThread::currentThread() });
                SendSlots::giveBack(); // its worker ends at once
            });
        controller->start();
        QTRY_COMPARE_WITH_TIMEOUT(handed.size(), 2, 30000);
        QVERIFY(scan.rule.scanStarted);
        // One file is sent and kept, the other is still being sent.
        scan.finishSending(handed.first().file);

        // A file that sorts last is found by a pass that has looked at the two before it.
        QVERIFY(!scan.write(QStringLiteral("z-later.bin"), 5).isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(handed.size(), 3, 30000);
        QVERIFY(!scan.write(QStringLiteral("zz-latest.bin"), 5).isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(handed.size(), 4, 30000);

        QStringList paths;
        for (const Handed &one : qAsConst(handed)) {
            paths << one.file->filePath;
            QCOMPARE(one.rule, &scan.rule);
            QCOMPARE(one.thread, QThread::currentThread());
        }
        const QStringList expected = { scan.path(QStringLiteral("sub/b.bin")),
            scan.path(QStringLiteral("a.bin")), scan.path(QStringLiteral("z-later.bin")),
            scan.path(QStringLiteral("zz-latest.bin")) };
        QCOMPARE(paths, expected);

        stopAsTheWindowDoes(controller, scan.rule);
    }

    // Rules whose directories lie one inside the other (a rules file of an older version): each
    // file is handed over once, by the innermost rule, and no directory is watched by two rules.
    void nestedRulesSendEachFileOnce()
    {
        ScanFixture outer;
        ScanFixture::Restarted inner(outer.path(QStringLiteral("inner")));
        ScanFixture::Restarted same(outer.rule.SendPath + '/');
        QVERIFY(!outer.write(QStringLiteral("a.bin"), 3).isEmpty());
        QVERIFY(!outer.write(QStringLiteral("inner/b.bin"), 4).isEmpty());
        QVERIFY(!outer.write(QStringLiteral("inner/deep/c.bin"), 5).isEmpty());
        for (_SENDPATH_LISTDATA *rule : { &outer.rule, &inner.rule, &same.rule })
            g_SendPathList.append(rule);

        QMap<QString, _SENDPATH_LISTDATA *> handed;
        int handOvers = 0;
        std::unique_ptr<Controller> controller(new Controller);
        connect(controller.get(), &Controller::insertItem,
            [&](_FINDFILEINFO *file, _SENDPATH_LISTDATA *rule) {
                handed.insert(file->filePath, rule);
                ++handOvers;
                SendSlots::giveBack();
            });
        controller->start();
        QTRY_COMPARE_WITH_TIMEOUT(handed.size(), 3, 30000);
        // A new file deep inside goes to the inner rule too, and nothing more is handed over.
        QVERIFY(!outer.write(QStringLiteral("inner/deep/d.bin"), 6).isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(handed.size(), 4, 30000);
        QTest::qWait(1500);
        QCOMPARE(handOvers, 4);
        QCOMPARE(handed.value(outer.path(QStringLiteral("a.bin"))), &outer.rule);
        for (const char *name : { "inner/b.bin", "inner/deep/c.bin", "inner/deep/d.bin" })
            QCOMPARE(handed.value(outer.path(QLatin1String(name))), &inner.rule);

        for (_SENDPATH_LISTDATA *rule : { &inner.rule, &same.rule })
            Controller::stopRule(rule);
        stopAsTheWindowDoes(controller, outer.rule);
        // While all three rules exist.
        Controller::releaseRetiredFiles();
    }

    void stopEndsTheScanMidWalk()
    {
        ScanFixture scan;
        constexpr int kFiles = 40;
        for (int i = 0; i < kFiles; ++i)
            QVERIFY(
                !scan.write(QStringLiteral("f%1").arg(i, 2, 10, QLatin1Char('0')), 1).isEmpty());
        g_SendPathList.append(&scan.rule);

        int handed = 0;
        std::unique_ptr<Controller> controller(new Controller);
        connect(controller.get(), &Controller::insertItem, [&handed] {
            ++handed;
            SendSlots::giveBack();
        });
        controller->start();
        QTRY_VERIFY_WITH_TIMEOUT(handed > 0, 30000);
        stopAsTheWindowDoes(controller, scan.rule);

        // Nothing slipped into pendingFiles after the stop: it would hold the file back later.
        QVERIFY(scan.rule.pendingFiles.isEmpty());
        QVERIFY(!scan.rule.scanStarted);
        // The walk did not go on to the end of the directory.
        QVERIFY(handed < kFiles);
    }

    // A stop takes the files out of pendingFiles while their workers may still run.
    void stoppedFilesOutliveTheirWorkers()
    {
        ScanFixture scan;
        QVERIFY(!scan.write(QStringLiteral("sent"), 1).isEmpty());
        QVERIFY(!scan.write(QStringLiteral("unsent"), 1).isEmpty());
        DirectoryTraversal traversal;
        scan.collect(traversal);
        scan.walkTwice(traversal);
        QCOMPARE(scan.handed.size(), 2);
        _FINDFILEINFO *sent = scan.handed.at(0);
        _FINDFILEINFO *unsent = scan.handed.at(1);

        Controller::stopRule(&scan.rule);
        QVERIFY(scan.rule.stopFlag);
        QVERIFY(scan.rule.pendingFiles.isEmpty());
        // Both workers still read their records; one of them completes its send.
        QVERIFY(sent->filePath.endsWith(QLatin1String("/sent")));
        QVERIFY(unsent->filePath.endsWith(QLatin1String("/unsent")));
        scan.finishSending(sent);

        // Once the pool has run dry, sending starts again, with a scanner of its own.
        Controller::releaseRetiredFiles();
        QCOMPARE(scan.rule.sentFiles.value(sent->fileKey()), sent);
        scan.rule.stopFlag = false;
        DirectoryTraversal restarted;
        scan.collect(restarted);
        scan.walkTwice(restarted);
        QCOMPARE(scan.handed.size(), 3);
        QCOMPARE(scan.handed.last()->filePath, scan.path(QStringLiteral("unsent")));
    }

    void busyPoolHoldsFilesBack()
    {
        ScanFixture scan;
        QVERIFY(!scan.write(QStringLiteral("waiting"), 1).isEmpty());
        const int capacity = QThreadPool::globalInstance()->maxThreadCount();
        for (int i = 0; i < capacity; ++i)
            QVERIFY(SendSlots::tryTake(capacity));

        DirectoryTraversal traversal;
        scan.collect(traversal);
        scan.walkTwice(traversal);
        QVERIFY(scan.handed.isEmpty());

        SendSlots::giveBack();
        scan.walkTwice(traversal);
        QCOMPARE(scan.handed.size(), 1);
    }

    // Workers that take a while: the scanner never has more files in flight than the pool runs,
    // and hands the next one over as a worker ends.
    void inFlightNeverExceedsThePool()
    {
        ScanFixture scan;
        constexpr int kFiles = 12;
        for (int i = 0; i < kFiles; ++i)
            QVERIFY(
                !scan.write(QStringLiteral("f%1").arg(i, 2, 10, QLatin1Char('0')), 1).isEmpty());
        g_SendPathList.append(&scan.rule);
        QThreadPool *pool = QThreadPool::globalInstance();
        const int maxThreads = pool->maxThreadCount();
        pool->setMaxThreadCount(2);

        std::atomic<int> running { 0 };
        std::atomic<int> mostRunning { 0 };
        int mostInFlight = 0;
        QStringList paths;
        std::unique_ptr<Controller> controller(new Controller);
        connect(controller.get(), &Controller::insertItem, [&](_FINDFILEINFO *file) {
            paths << file->filePath;
            mostInFlight = qMax(mostInFlight, SendSlots::inFlight());
            auto *worker = new SlowWorker(running, mostRunning);
            HandOver::release(worker);
            pool->start(worker);
        });
        controller->start();
        QTRY_COMPARE_WITH_TIMEOUT(paths.size(), kFiles, 60000);
        stopAsTheWindowDoes(controller, scan.rule);
        pool->waitForDone();
        pool->setMaxThreadCount(maxThreads);

        QVERIFY(mostInFlight <= 2);
        QVERIFY(mostRunning <= 2);
        QCOMPARE(SendSlots::inFlight(), 0);
        paths.removeDuplicates();
        QCOMPARE(paths.size(), kFiles);
    }

    // While the pool is full, the scanner still walks every rule at its pace: a rule with many
    // known files does not hold back the new file of the next rule.
    void fullPoolDoesNotHoldBackLaterRules()
    {
        ScanFixture first;
        ScanFixture second;
        constexpr int kKnownFiles = 300;
        for (int i = 0; i < kKnownFiles; ++i)
            QVERIFY(!first.write(QStringLiteral("k%1").arg(i), 1).isEmpty());
        {
            DirectoryTraversal traversal;
            first.collect(traversal);
            first.walkTwice(traversal);
            QCOMPARE(first.handed.size(), kKnownFiles);
            for (_FINDFILEINFO *file : qAsConst(first.handed))
                first.finishSending(file);
        }
        const QString waiting = second.write(QStringLiteral("new.bin"), 1);
        g_SendPathList.append(&first.rule);
        g_SendPathList.append(&second.rule);
        const int capacity = QThreadPool::globalInstance()->maxThreadCount();

        QStringList handed;
        std::unique_ptr<Controller> controller(new Controller);
        for (int i = 0; i < capacity; ++i)
            QVERIFY(SendSlots::tryTake(capacity));
        connect(controller.get(), &Controller::insertItem,
            [&handed](_FINDFILEINFO *file) { handed << file->filePath; });
        controller->start();
        // Both rules are walked again and again while nothing can be handed over.
        QTRY_VERIFY_WITH_TIMEOUT(second.rule.scanStarted, 30000);
        QVERIFY(handed.isEmpty());
        // The first place that frees goes to the waiting file.
        SendSlots::giveBack();
        QTRY_COMPARE_WITH_TIMEOUT(handed, QStringList { waiting }, 30000);

        Controller::stopRule(&second.rule);
        stopAsTheWindowDoes(controller, first.rule);
    }

    // A send directory that goes away shows on its rule; once it is back, its files are sent.
    void missingDirectoryIsReported()
    {
        ScanFixture scan;
        QTemporaryDir parent;
        scan.rule.SendPath = parent.filePath(QStringLiteral("outbox"));
        QVERIFY(QDir().mkpath(scan.rule.SendPath));
        g_SendPathList.append(&scan.rule);
        QStringList handed;
        std::unique_ptr<Controller> controller(new Controller);
        connect(controller.get(), &Controller::insertItem, [&handed](_FINDFILEINFO *file) {
            handed << file->filePath;
            SendSlots::giveBack();
        });
        controller->start();
        QTRY_COMPARE_WITH_TIMEOUT(scan.rule.sendState.load(), 2, 30000);

        QVERIFY(QDir(scan.rule.SendPath).removeRecursively());
        QTRY_COMPARE_WITH_TIMEOUT(scan.rule.sendState.load(), 4, 30000);

        QVERIFY(QDir().mkpath(scan.rule.SendPath));
        const QString filePath = QDir(scan.rule.SendPath).filePath(QStringLiteral("back.bin"));
        QFile file(filePath);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("x") == 1);
        file.close();
        QTRY_COMPARE_WITH_TIMEOUT(handed, QStringList { filePath }, 30000);
        QCOMPARE(scan.rule.sendState.load(), 2);

        stopAsTheWindowDoes(controller, scan.rule);
    }

private:
    // Stop as the main window does, then delete the controller; the scanner's thread must end.
    static void stopAsTheWindowDoes(
        std::unique_ptr<Controller> &controller, _SENDPATH_LISTDATA &rule)
    {
        g_walkEnded = false;
        Controller::stopRule(&rule);
        controller->stop();
        controller.reset();
        QTRY_VERIFY_WITH_TIMEOUT(g_walkEnded, 30000);
    }
};

QTEST_GUILESS_MAIN(TestScanController)
#include "tst_scancontroller.moc"
