#include "ScanFixture.h"

#include <QRunnable>
#include <QSemaphore>
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

// Holds a pool thread until released.
class BlockingTask : public QRunnable
{
public:
    explicit BlockingTask(QSemaphore &release)
        : m_release(release)
    {
    }
    void run() override { m_release.acquire(); }

private:
    QSemaphore &m_release;
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
        connect(controller.get(), &Controller::insertItem, [&handed] { ++handed; });
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

        // Once the pool has run dry, sending starts again.
        Controller::releaseRetiredFiles();
        QCOMPARE(scan.rule.sentFiles.value(sent->fileKey()), sent);
        scan.rule.stopFlag = false;
        scan.walkTwice(traversal);
        QCOMPARE(scan.handed.size(), 3);
        QCOMPARE(scan.handed.last()->filePath, scan.path(QStringLiteral("unsent")));
    }

    void busyPoolHoldsFilesBack()
    {
        ScanFixture scan;
        QVERIFY(!scan.write(QStringLiteral("waiting"), 1).isEmpty());
        QThreadPool *pool = QThreadPool::globalInstance();
        const int maxThreads = pool->maxThreadCount();
        pool->setMaxThreadCount(1);
        QSemaphore release;
        pool->start(new BlockingTask(release));
        QTRY_COMPARE_WITH_TIMEOUT(pool->activeThreadCount(), 1, 30000);

        DirectoryTraversal traversal;
        scan.collect(traversal);
        traversal.findFile(scan.rule.SendPath, &scan.rule);
        QVERIFY(scan.handed.isEmpty());

        release.release();
        pool->waitForDone();
        pool->setMaxThreadCount(maxThreads);
        scan.walkTwice(traversal);
        QCOMPARE(scan.handed.size(), 1);
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
