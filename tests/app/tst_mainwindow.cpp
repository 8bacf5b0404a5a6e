#include "app/MainWindow.h"
#include "app/Startup.h"
#include "app/StartupOptions.h"
#include "app/SystemSetupView.h"
#include "app/SystemTray.h"
#include "app/TransferNotifier.h"
#include "model/GlobalData.h"
#include "model/Ports.h"
#include "send/Controller.h"
#include "support/TestSupport.h"
#include "views/gaps/IPAddrView.h"
#include "views/history/HistoryView.h"
#include "views/rules/ConfigurationFile.h"
#include "views/rules/RecvPathView.h"
#include "views/rules/RememberedRules.h"
#include "views/rules/RuleFixture.h"
#include "views/rules/SendPathView.h"
#include "views/transfers/RecvStatusView.h"
#include "views/transfers/SendStatusView.h"
#include "views/transfers/TransferItem.h"

#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QPushButton>
#include <QScreen>
#include <QSemaphore>
#include <QSettings>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTableWidget>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

namespace {

const QString kStartText = QStringLiteral("启动发送");

template <typename T> void clearRegistry(Registry<T> &registry)
{
    const QList<T *> records = registry.snapshot();
    registry.clear();
    qDeleteAll(records);
}

_VKGAPIP_CONF *addConnectedGap()
{
    auto *gap = new _VKGAPIP_CONF;
    copyToField(gap->HostIP, kHostIPSize, "127.0.0.1");
    gap->hostIPStr = QStringLiteral("127.0.0.1");
    gap->connState = 1;
    gap->confGetted = true;
    gap->heartOk = 1;
    g_GapInfoList.append(gap);
    return gap;
}

QPushButton *button(const MainWindow &window, const char *name)
{
    return window.findChild<QPushButton *>(QLatin1String(name));
}

// The remembered rules file as it is on disk now.
QByteArray rememberedText()
{
    QFile file(RememberedRules::filePath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool remembers(const QByteArray &line) { return rememberedText().split('\n').contains(line); }

bool sameIcon(const QIcon &icon, const char *resource)
{
    const QSize size(32, 32);
    return icon.pixmap(size).toImage() == QIcon(QLatin1String(resource)).pixmap(size).toImage();
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(TestSupport::enterDir(m_workDir));
        TestSupport::useFreeListenerPorts();
    }

    void cleanup()
    {
        // Sending workers of a test end before its rules go; then the files they were given.
        QThreadPool::globalInstance()->waitForDone();
        Controller::releaseRetiredFiles();
        StartupOptions::setCurrent(StartupOptions());
        clearRegistry(g_SendPathList);
        clearRegistry(g_RecvPathList);
        clearRegistry(g_GapInfoList);
        // Each test is a first start in this directory: nothing remembered from the one before.
        QFile::remove(RememberedRules::filePath());
    }

    void placementKeepsWindowsOnTheScreen_data()
    {
        QTest::addColumn<QSize>("wanted");
        QTest::addColumn<QSize>("minimum");
        QTest::addColumn<QRect>("available");
        QTest::addColumn<QRect>("placed");
        const QSize main(1280, 780);
        const QSize smallest(800, 600);
        QTest::newRow("1920x1080")
            << main << smallest << QRect(0, 0, 1920, 1040) << QRect(320, 130, 1280, 780);
        // QT_SCALE_FACTOR=2 on 1920x1080 with a panel: 960x520 in the window's pixels. The
        // smallest size is bounded by the screen before it comes here.
        QTest::newRow("scale 2 on 1920x1080")
            << main << QSize(800, 520) << QRect(0, 0, 960, 520) << QRect(0, 0, 960, 520);
        QTest::newRow("panel on the left, second screen")
            << main << smallest << QRect(1960, 0, 1880, 1080) << QRect(2260, 150, 1280, 780);
        QTest::newRow("800x600") << main << smallest << QRect(0, 0, 800, 600)
                                 << QRect(0, 0, 800, 600);
        // A window that cannot be made small enough starts at the area's corner, its title bar
        // in reach.
        QTest::newRow("smaller than the minimum")
            << QSize(380, 470) << QSize(380, 470) << QRect(0, 24, 400, 300)
            << QRect(10, 24, 380, 470);
    }

    void placementKeepsWindowsOnTheScreen()
    {
        QFETCH(QSize, wanted);
        QFETCH(QSize, minimum);
        QFETCH(QRect, available);
        QFETCH(QRect, placed);
        QCOMPARE(Startup::placement(wanted, minimum, available), placed);
    }

    // The window as the login opens it fits the screen (offscreen: 800x600), every page laid out
    // within the smallest size it is made for.
    void fitsTheScreen()
    {
        MainWindow window;
        window.show();
        Startup::fitOnScreen(&window);
        const QRect available = window.screen()->availableGeometry();
        QTRY_COMPARE(window.frameGeometry(), available);
        QVERIFY(window.minimumSizeHint().width() <= 800);
        QVERIFY(window.minimumSizeHint().height() <= 520);
    }

    void startSending_data()
    {
        QTest::addColumn<bool>("withRule");
        QTest::addColumn<QString>("box");
        QTest::addColumn<bool>("isSending");

        QTest::newRow("no send rule") << false << QStringLiteral("请先配置发送目录 ") << true;
    }

    void startSending()
    {
        QFETCH(bool, withRule);
        QFETCH(QString, box);
        QFETCH(bool, isSending);

        if (withRule)
            g_SendPathList.append(new _SENDPATH_LISTDATA);
        TestSupport::PromptRecorder prompts;
        MainWindow window;
        QTest::mouseClick(button(window, "start"), Qt::LeftButton);

        QCOMPARE(prompts.texts(), QStringList { box });
        const PromptRequest shown = prompts.boxes().first();
        QCOMPARE(shown.icon, PromptRequest::Critical);
        QCOMPARE(shown.title, QStringLiteral("error"));
        QVERIFY(!shown.parent);
        QCOMPARE(window.sendStatusView()->isSending, isSending);
        QCOMPARE(button(window, "start")->text(), kStartText);
    }

    // Each start runs a fresh scanner that hands the rule's files to the send status page; each
    // stop ends it and forgets the files not sent, so that the next start offers them again.
    void startAndStopSending()
    {
        QTemporaryDir sendDir;
        QFile file(sendDir.filePath(QStringLiteral("out.txt")));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("payload") == 7);
        file.close();
        auto *rule = new _SENDPATH_LISTDATA;
        rule->SendPath = sendDir.path();
        rule->stopFlag = true; // as an earlier stop leaves it
        g_SendPathList.append(rule);
        TestSupport::PromptRecorder prompts;
        MainWindow window;
        QPushButton *start = button(window, "start");
        QTreeWidget *rows = window.sendStatusView()->tree();

        for (int run = 1; run <= 2; ++run) {
            QTest::mouseClick(start, Qt::LeftButton);
            QCOMPARE(start->text(), QStringLiteral("停止发送"));
            QVERIFY(sameIcon(start->icon(), ":/res/navbar/stop.svg"));
            QVERIFY(window.sendStatusView()->isSending);
            QCOMPARE(
                window.findChild<QStackedWidget *>(QStringLiteral("stackedWidget"))->currentIndex(),
                2);
            QVERIFY(button(window, "sendState")->isChecked());
            QVERIFY(!rule->stopFlag);
            QTRY_COMPARE_WITH_TIMEOUT(rows->topLevelItemCount(), run, 30000);
            QVERIFY(rule->scanStarted);

            QTest::mouseClick(start, Qt::LeftButton);
            QTRY_COMPARE(start->text(), kStartText);
            QVERIFY(start->isEnabled());
            QVERIFY(sameIcon(start->icon(), ":/res/navbar/start.svg"));
            QVERIFY(!window.sendStatusView()->isSending);
            QVERIFY(rule->stopFlag);
            QVERIFY(!rule->scanStarted);
            QVERIFY(rule->pendingFiles.isEmpty());
        }
        QVERIFY(prompts.boxes().isEmpty());
        QCOMPARE(rows->topLevelItemCount(), 2);
    }

    // A worker that hashes a large file is stopped long before the whole file could have been
    // read: by a stop of sending (the button says so, and cannot start sending again, until that
    // worker has ended; the window never waits for it meanwhile), or by "删除" on its row, which
    // asks first and leaves the file in its send directory, not to be offered again by the next
    // scans.
    void stopDuringTheDigestOfALargeFile_data()
    {
        QTest::addColumn<bool>("deleteRow");
        QTest::newRow("restart of sending") << false;
        QTest::newRow("删除 on its row") << true;
    }

    void stopDuringTheDigestOfALargeFile()
    {
        QFETCH(bool, deleteRow);
        QTemporaryDir sendDir;
        QFile large(sendDir.filePath(QStringLiteral("large.img")));
        QVERIFY(large.open(QIODevice::WriteOnly));
        const qint64 size = qint64(1) << 30;
        QVERIFY(large.resize(size)); // sparse: costs no disk, reads as zeros
        large.close();
        auto *rule = new _SENDPATH_LISTDATA;
        rule->SendPath = sendDir.path();
        g_SendPathList.append(rule);
        TestSupport::PromptRecorder prompts;
        MainWindow window;
        QPushButton *start = button(window, "start");
        QTreeWidget *rows = window.sendStatusView()->tree();
        const qint64 readBefore = TestSupport::bytesReadByProcess();

        QTest::mouseClick(start, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(rows->topLevelItemCount() == 1
                && rows->topLevelItem(0)->text(7) == QStringLiteral("文件正在校验中,请稍候 "),
            60000);
        if (deleteRow) {
            rows->setCurrentItem(rows->topLevelItem(0));
            window.sendStatusView()->onMenuDelete();
            QCOMPARE(prompts.boxes().size(), 1);
            QCOMPARE(rows->topLevelItemCount(), 0);
            QThreadPool::globalInstance()->waitForDone();
        } else {
            QTest::mouseClick(start, Qt::LeftButton);
            QCOMPARE(start->text(), QStringLiteral("正在停止…"));
            QVERIFY(!start->isEnabled());
            QTRY_COMPARE_WITH_TIMEOUT(start->text(), kStartText, 30000);
            QVERIFY(start->isEnabled());
        }
        const qint64 read = TestSupport::bytesReadByProcess() - readBefore;
        QVERIFY2(read < size / 2, qPrintable(QString::number(read)));
        if (deleteRow) {
            QCOMPARE(QFileInfo(large.fileName()).size(), size);
            // Scans go on while sending is on: the file is not offered again.
            QTest::qWait(1500);
            QCOMPARE(rows->topLevelItemCount(), 0);
            QTest::mouseClick(start, Qt::LeftButton);
            QTRY_COMPARE_WITH_TIMEOUT(start->text(), kStartText, 30000);
            return;
        }
        QTRY_VERIFY(
            !rows->findItems(QStringLiteral("用户停止发送"), Qt::MatchExactly, 7).isEmpty());
    }

    // A worker stuck in the file system (a hung network mount) never holds the window: the stop
    // returns at once, the event loop keeps turning, and the button says "正在停止…" until the
    // worker has ended.
    void stopNeverWaitsForAStuckWorker()
    {
        QTemporaryDir sendDir;
        auto *rule = new _SENDPATH_LISTDATA;
        rule->SendPath = sendDir.path();
        g_SendPathList.append(rule);
        TestSupport::PromptRecorder prompts;
        MainWindow window;
        QPushButton *start = button(window, "start");
        QTest::mouseClick(start, Qt::LeftButton);
        QCOMPARE(start->text(), QStringLiteral("停止发送"));

        QSemaphore stuck;
        QThreadPool::globalInstance()->start([&stuck] { stuck.acquire(); });
        QTest::mouseClick(start, Qt::LeftButton);
        bool fired = false;
        QTimer::singleShot(50, [&fired] { fired = true; });
        QTRY_VERIFY(fired);
        QTest::qWait(300);
        QCOMPARE(start->text(), QStringLiteral("正在停止…"));
        QTest::mouseClick(start, Qt::LeftButton); // a start has to wait for the end of the run
        QCOMPARE(start->text(), QStringLiteral("正在停止…"));

        stuck.release();
        QTRY_COMPARE(start->text(), kStartText);
        QVERIFY(start->isEnabled());
        QVERIFY(!window.sendStatusView()->isSending);
    }

    // Saving the configuration says where it went, or that it could not, naming the file.
    void saveConfTellsWhatHappened_data()
    {
        QTest::addColumn<bool>("writable");
        QTest::newRow("saved") << true;
        QTest::newRow("unwritable place") << false;
    }

    void saveConfTellsWhatHappened()
    {
        QFETCH(bool, writable);
        QTemporaryDir dir;
        const QString file = dir.filePath(
            writable ? QStringLiteral("out.vkg") : QStringLiteral("no/such/out.vkg"));
        TestSupport::PromptRecorder prompts;
        MainWindow window;
        QCOMPARE(window.saveConf(file), writable);
        QCOMPARE(prompts.boxes().size(), 1);
        const PromptRequest box = prompts.boxes().first();
        QCOMPARE(box.title, QStringLiteral("保存配置"));
        QCOMPARE(box.icon, writable ? PromptRequest::Information : PromptRequest::Critical);
        QCOMPARE(box.text,
            writable ? QStringLiteral("配置已保存到 ") + file
                     : QStringLiteral("配置未能保存到 %1，请检查该位置是否可写").arg(file));
    }

    void historyButtonShowsTheHistoryPage()
    {
        MainWindow window;
        QPushButton *history = button(window, "history");
        QCOMPARE(history->text(), QStringLiteral("历史记录"));
        QVERIFY(sameIcon(history->icon(), ":/res/navbar/history.svg"));
        QTest::mouseClick(history, Qt::LeftButton);
        const auto *pages = window.findChild<QStackedWidget *>(QStringLiteral("stackedWidget"));
        QCOMPARE(pages->currentWidget(), window.historyView());
        QCOMPARE(pages->currentIndex(), int(MainWindow::HistoryPage));
        QVERIFY(history->isChecked());
    }

    // The status checker runs in its own thread; its reports must reach the three pages.
    void statusReachesThePages()
    {
        _VKGAPIP_CONF *gap = addConnectedGap();
        gap->connState = 0;
        auto *sendRule = new _SENDPATH_LISTDATA;
        copyToField(sendRule->GapIP, kHostIPSize, "127.0.0.1");
        sendRule->statusText.clear();
        g_SendPathList.append(sendRule);
        auto *recvRule = new _RECVPATH_LISTDATA;
        copyToField(recvRule->GapIP, kHostIPSize, "127.0.0.1");
        recvRule->useCount = 1;
        g_RecvPathList.append(recvRule);

        MainWindow window;
        gap->connState = 1;
        const auto cellText = [](QTableWidget *table, int column) {
            const QTableWidgetItem *item = table->item(0, column);
            return item ? item->text() : QString();
        };
        QTRY_COMPARE_WITH_TIMEOUT(
            cellText(window.sendPathView()->table(), 4), QStringLiteral("发送未启动"), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(
            cellText(window.recvPathView()->table(), 4), QStringLiteral("正在接收文件"), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(
            cellText(window.gapListView()->table(), 5), QStringLiteral("连接正常"), 10000);
    }

    void closeAnsweredNoLeavesEverythingRunning_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("close button") << "button";
        QTest::newRow("tray quit") << "tray";
        QTest::newRow("window manager close") << "window manager";
    }

    void closeAnsweredNoLeavesEverythingRunning()
    {
        QFETCH(QString, how);

        _VKGAPIP_CONF *gap = addConnectedGap();
        TestSupport::PromptRecorder prompts(PromptRequest::No);
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        if (how == "button")
            QTest::mouseClick(button(window, "closebtn"), Qt::LeftButton);
        else if (how == "tray")
            window.findChild<SystemTray *>()->quitAction()->trigger();
        else
            window.close();

        QCOMPARE(prompts.boxes().size(), 1);
        const PromptRequest question = prompts.boxes().first();
        QCOMPARE(question.icon, PromptRequest::Question);
        QCOMPARE(question.parent, &window);
        QCOMPARE(question.title, QStringLiteral("关闭提示 "));
        QCOMPARE(question.text, QStringLiteral("确认关闭?"));
        QCOMPARE(question.buttons, int(PromptRequest::Yes | PromptRequest::No));
        QCOMPARE(question.defaultButton, int(PromptRequest::NoButton));

        QVERIFY(window.isVisible());
        QCOMPARE(gap->connState.load(), 1);
        // The status checker still counts the connection...
        const int connectedFor = gap->connectTime;
        QTRY_VERIFY_WITH_TIMEOUT(gap->connectTime > connectedFor, 10000);
        // ...and the file listener still takes connections.
        QTcpSocket peer;
        peer.connectToHost(QHostAddress::LocalHost, Ports::filePort());
        QVERIFY(peer.waitForConnected(10000));
        QTRY_COMPARE_WITH_TIMEOUT(window.recvStatusView()->tree()->topLevelItemCount(), 1, 10000);
        QCOMPARE(prompts.boxes().size(), 1);
    }

    // A left click on the tray icon brings the window back; minimising never hides it, so a
    // desktop without a tray still reaches it through its task bar.
    void trayLeftClickShowsAndRaises()
    {
        addConnectedGap();
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTest::mouseClick(button(window, "minbtn"), Qt::LeftButton);
        QTRY_VERIFY(window.isMinimized());
        QVERIFY(window.isVisible());

        auto *tray = window.findChild<SystemTray *>();
        emit tray->activated(QSystemTrayIcon::Context);
        QVERIFY(window.isMinimized());
        emit tray->activated(QSystemTrayIcon::Trigger);
        QTRY_VERIFY(!window.isMinimized());
        QVERIFY(window.isVisible());
    }

    // A file that arrives while the window shows another page is told through the tray, and the
    // message leads to the receive page. Nothing is told of the page in front, nor while the
    // settings switch notifications off.
    void notificationLeadsToItsPage()
    {
        TestSupport::PromptRecorder prompts;
        MainWindow window;
        qint64 nowMs = 0;
        window.notifier()->setClock([&nowMs] { return nowMs; });
        QSignalSpy told(window.notifier(), &TransferNotifier::notify);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        const auto receive = [&](const QString &name) {
            auto *row = new TransferItem(qintptr(-1));
            window.recvStatusView()->addRow(row);
            TransferStateInfo info;
            info.setText(TransferStateInfo::FileName, name);
            info.setText(TransferStateInfo::EndTime, QStringLiteral("2026-12-10 13:21:21"));
            info.setText(TransferStateInfo::Status, QStringLiteral("接收完毕"));
            row->onUpdateRequest(info);
            nowMs += TransferNotifier::kQuietMs;
            window.notifier()->flushIfDue();
        };
        auto *pages = window.findChild<QStackedWidget *>(QStringLiteral("stackedWidget"));

        QTest::mouseClick(button(window, "ipAddr"), Qt::LeftButton);
        receive(QStringLiteral("a.txt"));
        QCOMPARE(told.count(), 1);
        QCOMPARE(told.first().at(1).toString(), QStringLiteral("已接收 a.txt"));
        emit window.tray()->messageClicked();
        QCOMPARE(pages->currentIndex(), int(MainWindow::RecvStatusPage));
        QVERIFY(button(window, "recvState")->isChecked());

        receive(QStringLiteral("seen.txt"));
        QCOMPARE(told.count(), 1);
        QTest::mouseClick(button(window, "ipAddr"), Qt::LeftButton);
        window.setupView()->findChild<QCheckBox *>(QStringLiteral("notifyBox"))->click();
        receive(QStringLiteral("off.txt"));
        QCOMPARE(told.count(), 1);
        window.setupView()->findChild<QCheckBox *>(QStringLiteral("notifyBox"))->click();
        receive(QStringLiteral("on.txt"));
        QCOMPARE(told.count(), 2);
        QVERIFY(prompts.boxes().isEmpty());
        // The switch wrote the settings file; the tests after this one start without it.
        QVERIFY(QFile::remove(QStringLiteral("config/setting.conf")));
    }

    // Every change of the gaps and rules is in the remembered rules file at once, owner-only;
    // nothing is written before the window has brought back what the file held.
    void everyChangeIsRemembered()
    {
        QTemporaryDir sendDir;
        QTemporaryDir recvDir;
        _VKGAPIP_CONF *gap = RuleFixture::addGap("127.0.0.1", 1, "alice");
        RuleFixture::offerSend(gap, QStringLiteral("K1"), QStringLiteral("bob"), 1);
        RuleFixture::offerRecv(gap, QStringLiteral("R1"), QStringLiteral("dave"));
        _VKGAPIP_CONF *otherGap = RuleFixture::addGap("127.0.0.2", 0, "alice");
        TestSupport::PromptRecorder prompts;
        MainWindow window;
        QCoreApplication::processEvents();
        QVERIFY(!QFile::exists(RememberedRules::filePath()));

        window.show();
        QTRY_VERIFY(remembers("GapIPCount=2"));
        window.gapListView()->table()->selectRow(1);
        window.gapListView()->onDelBtnClicked();
        QVERIFY(remembers("GapIPCount=1"));
        delete otherGap;
        QVERIFY(remembers("SendInfoNum=0"));
        QCOMPARE(QFile::permissions(RememberedRules::filePath()),
            QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser
                | QFileDevice::WriteUser);

        QTest::mouseClick(window.sendPathView()->addButton(), Qt::LeftButton);
        RuleFixture::fillAndConfirm(window.sendPathView()->dialog(), QStringLiteral("127.0.0.1"),
            QStringLiteral("K1"), QStringLiteral("bob"), sendDir.path());
        QVERIFY(remembers("SendInfoNum=1"));
        QVERIFY(remembers("SendPath_0=" + sendDir.path().toUtf8()));

        QTest::mouseClick(window.recvPathView()->addButton(), Qt::LeftButton);
        RuleFixture::fillAndConfirm(window.recvPathView()->dialog(), QStringLiteral("127.0.0.1"),
            QStringLiteral("R1"), QStringLiteral("dave"), recvDir.path());
        QVERIFY(remembers("RecvInfoNum=1"));

        _RECVPATH_LISTDATA *recvRule = g_RecvPathList.first();
        window.recvPathView()->table()->selectRow(0);
        window.recvPathView()->onDelBtnClicked();
        QVERIFY(remembers("RecvInfoNum=0"));
        delete recvRule;

        QCOMPARE(prompts.texts(),
            QStringList({ QStringLiteral("确定删除？"), QStringLiteral("确定删除？") }));
        QVERIFY2(QDir(QStringLiteral("config")).entryList(QDir::Hidden | QDir::Files)
                == QStringList { "rules.vkg" },
            "no temporary file is left beside it");
    }

    // A remembered file that does not read as a configuration is kept aside, not overwritten,
    // and the user is told.
    void damagedRememberedFileIsKeptAside()
    {
        addConnectedGap();
        QDir().mkpath(QStringLiteral("config"));
        QFile damaged(RememberedRules::filePath());
        QVERIFY(damaged.open(QIODevice::WriteOnly));
        damaged.write("[SENDINFO]\nSendInfoNum=3\n");
        damaged.close();

        TestSupport::PromptRecorder prompts;
        MainWindow window;
        window.show();
        QTRY_VERIFY(remembers("GapIPCount=1"));
        QCOMPARE(prompts.texts(), QStringList { QStringLiteral("配置文件已损坏-恢复失败") });
        QFile aside(RememberedRules::filePath() + QStringLiteral(".damaged"));
        QVERIFY(aside.open(QIODevice::ReadOnly));
        QCOMPARE(aside.readAll(), QByteArray("[SENDINFO]\nSendInfoNum=3\n"));
        QVERIFY(aside.remove());
    }

    void fullScreenSettingMaximisesAfterShowing()
    {
        QDir().mkpath(QStringLiteral("config"));
        QFile settings(QStringLiteral("config/setting.conf"));
        QVERIFY(settings.open(QIODevice::WriteOnly));
        settings.write("[setting]\nifFullScreen=1\n");
        settings.close();

        MainWindow window;
        window.show();
        QVERIFY(!window.isMaximized());
        QTRY_VERIFY_WITH_TIMEOUT(window.isMaximized(), 10000);

        QVERIFY(settings.remove());
        g_sysbaseconf.ifFullScreen = false;
    }

    // The import and the start of sending wait for the window to be shown, and run once only: a
    // rule whose directory is gone is refused with a box each time the file is imported.
    void unattendedStartRunsOnceShown()
    {
        QTemporaryDir sendDir;
        QTemporaryDir goneDir;
        copyToField(addConnectedGap()->LoginUserName, kUserNameSize, "alice");
        for (const QString &path : { sendDir.path(), goneDir.path() }) {
            auto *rule = new _SENDPATH_LISTDATA;
            copyToField(rule->GapIP, kHostIPSize, "127.0.0.1");
            copyToField(rule->SendPathID, kPathIDSize, path.toUtf8().right(20));
            rule->SendPath = path;
            g_SendPathList.append(rule);
        }
        QVERIFY(ConfigurationFile::saveConf(QStringLiteral("site.vkg")));
        clearRegistry(g_SendPathList);
        QVERIFY(goneDir.remove());

        StartupOptions::setCurrent(
            StartupOptions::parse({ "gapclient", "--import", "site.vkg", "--send" }));
        TestSupport::PromptRecorder prompts;
        MainWindow window;
        QCoreApplication::processEvents();
        QVERIFY(prompts.boxes().isEmpty());

        window.show();
        // A rule whose directory is not there (a mount not up yet) is kept, without a box: it
        // starts once the directory appears.
        const QStringList expected;
        QTRY_VERIFY_WITH_TIMEOUT(window.sendStatusView()->isSending, 10000);
        QVERIFY2(prompts.texts() == expected, qPrintable(prompts.texts().join(QLatin1Char('|'))));
        QCOMPARE(g_SendPathList.size(), 2);
        QCOMPARE(g_SendPathList.value(0)->SendPath, sendDir.path());
        QCOMPARE(g_SendPathList.value(1)->SendPath, goneDir.path());
        window.hide();
        window.show();
        QCoreApplication::processEvents();
        QCOMPARE(prompts.texts(), expected);
        QCOMPARE(button(window, "start")->text(), QStringLiteral("停止发送"));
    }

private:
    QTemporaryDir m_workDir;
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
