#include "app/MainWindow.h"

#include "app/StartupOptions.h"
#include "app/SystemSetupView.h"
#include "app/SystemTray.h"
#include "app/TransferNotifier.h"
#include "chrome/AboutDialog.h"
#include "gap/SocketTools.h"
#include "model/AuditLog.h"
#include "model/GlobalData.h"
#include "model/Ports.h"
#include "model/Prompt.h"
#include "model/ThreadHandOver.h"
#include "receive/RecvDataProc.h"
#include "receive/RecvPartFiles.h"
#include "send/Controller.h"
#include "send/SentFileStore.h"
#include "ui_MainWindow.h"
#include "views/gaps/IPAddrView.h"
#include "views/gaps/StatusCheckout.h"
#include "views/rules/ConfigurationFile.h"
#include "views/rules/RecvPathView.h"
#include "views/rules/SendPathView.h"
#include "views/transfers/RecvStatusView.h"
#include "views/transfers/SendDrop.h"
#include "views/transfers/SendStatusView.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QIcon>
#include <QScreen>
#include <QTableWidget>
#include <QThreadPool>
#include <QTimer>
#include <QtDebug>
#include <cstring>

namespace {

const QString kStartText = QStringLiteral("启动发送");
const QString kStopText = QStringLiteral("停止发送");
const QString kStoppingText = QStringLiteral("正在停止…");
// How often a stop looks whether the scanner and the workers of the run have ended.
constexpr int kStopWatchMs = 100;
const char *const kStartIcon = ":/res/navbar/start.svg";
const char *const kStopIcon = ":/res/navbar/stop.svg";
const QString kNoSendPath = QStringLiteral("请先配置发送目录 ");

constexpr int kFullScreenDelayMs = 500;
// The smallest the window is made for: every page stays usable at this size.
constexpr QSize kSmallestSize(800, 600);
constexpr int kExitDetailSize = 128;

const char *const kWindowStyle = "#titlebar{border:0px solid #A0A0A0; background:#5974FB;}"
                                 "#titlelabel{color:#FFFFFF; font-size:15px; font-weight:bold;}"
                                 "#widgetMain{border:1px solid #A0A0A0; background:#CAD6E2;}";

// The navigation bar's own look; the window's style sheet stays as above.
const char *const kNavbarStyle
    = "#navbar{background:#2F3447;}"
      "#navbar QPushButton{color:#E8ECF8; background:transparent; border:0px; font-size:15px;"
      " text-align:left; padding-left:18px;}"
      "#navbar QPushButton:hover{background:#3D4460;}"
      "#navbar QPushButton:checked{background:#5974FB; color:#FFFFFF;}";

const char *const kTitleButtonStyle = "QPushButton{border:0px;}"
                                      "QPushButton:hover{background:#7A90FC;}"
                                      "#closebtn:hover{background:#E81123;}";

// The first gap's address, local address and user, taken before its logout releases them.
struct ExitIdentity {
    QByteArray host;
    QByteArray local;
    QByteArray user;
};

// A box that tells what happened, with nothing to decide.
PromptRequest notice(const QString &text)
{
    PromptRequest request;
    request.icon = PromptRequest::Warning;
    request.title = QStringLiteral("提示");
    request.text = text;
    request.buttons = PromptRequest::Ok;
    return request;
}

ExitIdentity firstGapIdentity()
{
    ExitIdentity identity;
    if (const _VKGAPIP_CONF *gap = g_GapInfoList.first()) {
        identity.host = gap->hostIPStr.toLatin1();
        identity.local = gap->localIP.toLatin1();
        identity.user
            = QByteArray(gap->LoginUserName, int(strnlen(gap->LoginUserName, kUserNameSize)));
    }
    return identity;
}

void recordExit(const ExitIdentity &identity)
{
    char detail[kExitDetailSize];
    qsnprintf(detail, sizeof detail, "'%s','%s'", identity.local.constData(), "客户端退出");
    QMutexLocker lock(&g_MainMutex);
    AuditLog::record(identity.host, "CLIENT_LOGIN", identity.user, "登出", 1, detail);
}

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : FramelessMainWindow(parent)
    , m_ui(new Ui::MainWindow)
{
    m_ui->setupUi(this);
    initFrame();
    initThread();
    // The store is used by the scanner and the workers: its news reaches the user through the
    // event loop, never holding them.
    SentFileStore::instance().setReporter([](const QString &text) {
        QMetaObject::invokeMethod(
            qApp, [text] { Prompt::show(notice(text)); }, Qt::QueuedConnection);
    });
}

MainWindow::~MainWindow()
{
    SentFileStore::instance().setReporter({});
    m_controller.reset();
    stopStatusThread();
}

IPAddrView *MainWindow::gapListView() const { return m_ui->gapaddrview; }

SendPathView *MainWindow::sendPathView() const { return m_ui->sendpathview; }

SendStatusView *MainWindow::sendStatusView() const { return m_ui->sendstatuview; }

RecvPathView *MainWindow::recvPathView() const { return m_ui->recvpathview; }

RecvStatusView *MainWindow::recvStatusView() const { return m_ui->recvstatusview; }

HistoryView *MainWindow::historyView() const { return m_ui->historyview; }

void MainWindow::initFrame()
{
    qDebug() << "Main thread id=" << QThread::currentThreadId();
    setTitleBar(m_ui->titlebar);
    m_tray = new SystemTray(this);
    m_notifier = new TransferNotifier(this);
    // Reads the settings file into g_sysbaseconf, so the flags are current from here on.
    m_setupView.reset(new SystemSetupView);
    setWidgetStyle();
    setIcons();
    setConnect();
    if (g_sysbaseconf.ifFullScreen)
        QTimer::singleShot(kFullScreenDelayMs, this, &MainWindow::on_maxbtn_clicked);
    setWindowTitle(QStringLiteral("Varko文件传输客户端"));
    // A screen smaller still (a high scale factor on a small display) gets a window of its size.
    setMinimumSize(kSmallestSize.boundedTo(screen()->availableGeometry().size()));
}

void MainWindow::setWidgetStyle()
{
    setStyleSheet(QLatin1String(kWindowStyle));
    m_ui->navbar->setStyleSheet(QLatin1String(kNavbarStyle));
    m_ui->titlebar->setStyleSheet(QLatin1String(kTitleButtonStyle));
}

void MainWindow::setIcons()
{
    const QList<QPair<QAbstractButton *, const char *>> icons = {
        { m_ui->ipAddr, ":/res/navbar/gaplist.svg" },
        { m_ui->start, kStartIcon },
        { m_ui->sendPath, ":/res/navbar/senddir.svg" },
        { m_ui->sendState, ":/res/navbar/sendstate.svg" },
        { m_ui->recvPath, ":/res/navbar/recvdir.svg" },
        { m_ui->recvState, ":/res/navbar/recvstate.svg" },
        { m_ui->history, ":/res/navbar/history.svg" },
        { m_ui->reCover, ":/res/navbar/restore.svg" },
        { m_ui->saveConf, ":/res/navbar/save.svg" },
        { m_ui->about, ":/res/navbar/about.svg" },
        { m_ui->setbtn, ":/res/titlebar/settings.svg" },
        { m_ui->minbtn, ":/res/titlebar/min.svg" },
        { m_ui->maxbtn, ":/res/titlebar/max.svg" },
        { m_ui->closebtn, ":/res/titlebar/close.svg" },
    };
    for (const auto &icon : icons)
        icon.first->setIcon(QIcon(QLatin1String(icon.second)));
}

void MainWindow::setConnect()
{
    // The title bar's on_*_clicked slots are connected by name when the form is set up.
    for (const Page page :
        { GapListPage, SendPathPage, SendStatusPage, RecvPathPage, RecvStatusPage, HistoryPage })
        connect(pageButton(page), &QAbstractButton::clicked, this, [this, page] { showPage(page); });
    connect(m_ui->start, &QAbstractButton::clicked, this, &MainWindow::onSendStart);
    connect(&m_stopWatch, &QTimer::timeout, this, &MainWindow::onStopProgress);
    connect(m_ui->reCover, &QAbstractButton::clicked, this, &MainWindow::onReStoreConf);
    connect(m_ui->saveConf, &QAbstractButton::clicked, this, &MainWindow::onSaveConf);
    connect(m_ui->about, &QAbstractButton::clicked, this, &MainWindow::onAboutClicked);
    connect(m_ui->setbtn, &QAbstractButton::clicked, m_setupView.get(), &QWidget::show);
    connect(m_tray->showAction(), &QAction::triggered, this, &MainWindow::showAndRaise);
    connect(m_tray, &QSystemTrayIcon::activated, this,
        [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
                showAndRaise();
        });
    connect(m_tray->minimizeAction(), &QAction::triggered, this, &QWidget::showMinimized);
    connect(m_tray->quitAction(), &QAction::triggered, this, &MainWindow::onWindowClose);
    connect(this, &MainWindow::disPlayList, m_ui->sendpathview, &SendPathView::onDisPlayList);
    connect(this, &MainWindow::disPlayList, m_ui->recvpathview, &RecvPathView::onDisPlayList);
    connect(m_ui->gapaddrview, &IPAddrView::listChanged, this, &MainWindow::rememberRules);
    connect(m_ui->sendpathview, &RuleListView::listChanged, this, &MainWindow::rememberRules);
    connect(m_ui->recvpathview, &RuleListView::listChanged, this, &MainWindow::rememberRules);
    connectNotifications();
    connectDrops();
}

void MainWindow::connectDrops()
{
    // Files dropped on a rule of the send-rule list go into that rule's directory; the copy's
    // progress shows on the send status page.
    QTableWidget *rules = m_ui->sendpathview->table();
    SendDrop *drop = sendStatusView()->drop();
    drop->acceptDropsOn(rules->viewport(), [rules](const QPoint &position) {
        return g_SendPathList.value(rules->rowAt(position.y()));
    });
    connect(drop, &SendDrop::started, this, [this] {
        if (m_ui->stackedWidget->currentIndex() == SendPathPage)
            showPage(SendStatusPage);
    });
}

void MainWindow::connectNotifications()
{
    const auto told = [this](Page page, bool sending) {
        return [this, page, sending](TransferOutcome::Kind outcome, const QString &fileName,
                   const QString &status) {
            m_notifier->onOutcome(page, sending, outcome, fileName, status);
        };
    };
    connect(sendStatusView(), &TransferStatusView::outcomeChanged, m_notifier,
        told(SendStatusPage, true));
    connect(recvStatusView(), &TransferStatusView::outcomeChanged, m_notifier,
        told(RecvStatusPage, false));
    m_notifier->setPageSeen([this](int page) { return isPageSeen(page); });
    m_notifier->setEnabled(m_setupView->notificationsOn());
    connect(m_setupView.get(), &SystemSetupView::notificationsChanged, m_notifier,
        &TransferNotifier::setEnabled);
    connect(m_notifier, &TransferNotifier::notify, this, &MainWindow::showNotification);
    connect(m_tray, &QSystemTrayIcon::messageClicked, this, [this] {
        showAndRaise();
        showPage(m_notifiedPage);
    });
}

void MainWindow::showNotification(const QString &title, const QString &text, bool warning, int page)
{
    m_notifiedPage = Page(page);
    m_tray->showNotification(title, text, warning);
}

bool MainWindow::isPageSeen(int page) const
{
    return isVisible() && !isMinimized() && isActiveWindow()
        && m_ui->stackedWidget->currentIndex() == page;
}

void MainWindow::initThread()
{
    m_statusCheckout = new StatusCheckout;
    m_statusCheckout->moveToThread(&m_statusThread);
    connect(m_statusCheckout, &StatusCheckout::setSendPathItemValue, m_ui->sendpathview,
        &SendPathView::setSendPathTableItem, Qt::QueuedConnection);
    connect(m_statusCheckout, &StatusCheckout::setRecvPathItemValue, m_ui->recvpathview,
        &RecvPathView::setRecvPathTableItem, Qt::QueuedConnection);
    connect(m_statusCheckout, &StatusCheckout::updateGapState, m_ui->gapaddrview,
        &IPAddrView::onUpdateGapState, Qt::QueuedConnection);
    connect(&m_statusThread, &QThread::finished, m_statusCheckout, &QObject::deleteLater);
    ThreadHandOver::start(&m_statusThread, m_statusCheckout);

    m_poolSize = QThread::idealThreadCount();
    qDebug() << "线程数：" << m_poolSize;
    QThreadPool::globalInstance()->setMaxThreadCount(m_poolSize);

    // Part files that no transfer holds were left by an earlier run that ended mid-file.
    RecvPartFiles::sweepRules();
    m_fileListener.reset(new RecvDataProc(Ports::filePort()));
    m_confListener.reset(new RecvDataProc(Ports::confPort()));
    // Direct: the row and its worker exist before the next connection is judged against the bound.
    connect(m_fileListener.get(), &RecvDataProc::fileConnection, recvStatusView(),
        &RecvStatusView::onInsertItem, Qt::DirectConnection);
}

void MainWindow::showPage(Page page)
{
    m_ui->stackedWidget->setCurrentIndex(page);
    pageButton(page)->setChecked(true);
}

QAbstractButton *MainWindow::pageButton(Page page) const
{
    QAbstractButton *const buttons[] = { m_ui->ipAddr, m_ui->sendPath, m_ui->sendState,
        m_ui->recvPath, m_ui->recvState, m_ui->history };
    return buttons[page];
}

void MainWindow::onSendStart()
{
    // While a stop is under way the button is disabled: a start waits for the end of the run.
    if (m_ui->start->text() == kStartText)
        startSending();
    else if (m_ui->start->text() == kStopText)
        stopSending();
}

void MainWindow::startSending()
{
    sendStatusView()->isSending = true;
    const QList<_SENDPATH_LISTDATA *> rules = g_SendPathList.snapshot();
    if (rules.isEmpty()) {
        Prompt::error(kNoSendPath);
        return;
    }
    // The flags are cleared before the scanner starts: a scanner that still saw the last stop's
    // flags would end at once and leave sending switched on with nothing scanned.
    for (_SENDPATH_LISTDATA *rule : rules) {
        rule->stopFlag = false;
        qDebug() << "当前发送目录数量:" << rules.size();
        qDebug() << "文件路径:" << rule->SendPath;
    }
    startScanner();
    showPage(SendStatusPage);
    m_ui->start->setText(kStopText);
    m_ui->start->setIcon(QIcon(QLatin1String(kStopIcon)));
}

void MainWindow::stopSending()
{
    qDebug() << "线程暂停";
    sendStatusView()->isSending = false;
    const QList<_SENDPATH_LISTDATA *> rules = g_SendPathList.snapshot();
    for (_SENDPATH_LISTDATA *rule : rules) {
        QMutexLocker lock(&g_MainMutex);
        Controller::stopRule(rule);
    }
    stopScanner();
    sendStatusView()->endWaitingRows();
    // The window never waits for the run's end: a worker may be stuck in the file system (a hung
    // network mount). The button says so until the run has ended.
    m_ui->start->setText(kStoppingText);
    m_ui->start->setEnabled(false);
    m_stopWatch.start(kStopWatchMs);
}

void MainWindow::onStopProgress()
{
    if (m_endingController || QThreadPool::globalInstance()->activeThreadCount() > 0)
        return;
    m_stopWatch.stop();
    // No worker holds a file of the run that ended, so that a start sends none of them twice.
    Controller::releaseRetiredFiles();
    m_ui->start->setText(kStartText);
    m_ui->start->setIcon(QIcon(QLatin1String(kStartIcon)));
    m_ui->start->setEnabled(true);
}

void MainWindow::startScanner()
{
    m_controller.reset(new Controller);
    connect(m_controller.get(), &Controller::insertItem, sendStatusView(),
        &SendStatusView::onInsertItem);
    connect(m_controller.get(), &Controller::unsendable, sendStatusView(),
        &SendStatusView::onUnsendable);
    m_controller->start();
}

void MainWindow::stopScanner()
{
    if (!m_controller)
        return;
    m_controller->stop();
    // Deleted once its thread has ended, so that its deletion never waits.
    m_endingController = m_controller.release();
    connect(m_endingController, &Controller::scanEnded, m_endingController, &QObject::deleteLater);
}

void MainWindow::onWindowClose()
{
    PromptRequest question;
    question.icon = PromptRequest::Question;
    question.parent = this;
    question.title = QStringLiteral("关闭提示 ");
    question.text = QStringLiteral("确认关闭?");
    question.buttons = PromptRequest::Yes | PromptRequest::No;
    question.defaultButton = PromptRequest::NoButton;
    if (Prompt::show(question) != PromptRequest::Yes)
        return;
    programExit();
    const QList<_SENDPATH_LISTDATA *> rules = g_SendPathList.snapshot();
    for (_SENDPATH_LISTDATA *rule : rules)
        rule->stopFlag = true;
    m_exitConfirmed = true;
    window()->close();
}

void MainWindow::programExit()
{
    const ExitIdentity identity = firstGapIdentity();
    // The heartbeat would log the gap in again, and it reads the record the logout resets: the
    // status checker ends before the logout.
    stopStatusThread();
    SocketTools().disconnectFromGap();
    recordExit(identity);
}

void MainWindow::stopStatusThread()
{
    if (!m_statusThread.isRunning())
        return;
    // The checker ends in its own thread, after the events already posted to it (moving it there
    // queued the re-registration of its timers, which would otherwise be dropped unfreed), and its
    // end quits the thread.
    ThreadHandOver::end(&m_statusThread, m_statusCheckout);
    ThreadHandOver::wait(&m_statusThread);
    m_statusCheckout = nullptr;
    // Reports the checker posted before it ended describe a state the logout is about to change.
    for (QObject *view :
        { static_cast<QObject *>(m_ui->gapaddrview), static_cast<QObject *>(m_ui->sendpathview),
            static_cast<QObject *>(m_ui->recvpathview) })
        QCoreApplication::removePostedEvents(view, QEvent::MetaCall);
}

void MainWindow::on_maxbtn_clicked()
{
    if (isMaximized())
        showNormal();
    else
        showMaximized();
}

void MainWindow::on_minbtn_clicked() { showMinimized(); }

void MainWindow::on_closebtn_clicked() { onWindowClose(); }

void MainWindow::showAndRaise()
{
    showNormal();
    raise();
    activateWindow();
}

void MainWindow::onAboutClicked()
{
    AboutDialog about(this);
    about.exec();
}

void MainWindow::onReStoreConf()
{
    const QString fileName = QFileDialog::getOpenFileName(this, QStringLiteral("打开配置文件"),
        QDir::currentPath() + QStringLiteral("/config"),
        QStringLiteral("配置文件(*.vkg);;所有文件(*.*)"));
    qDebug() << fileName;
    importConfiguration(fileName);
}

bool MainWindow::importConfiguration(const QString &fileName, ConfigurationFile::Import kind)
{
    const bool imported = ConfigurationFile::reStoreConf(fileName, kind);
    emit disPlayList();
    // Imported gaps show at once rather than at the checker's next pass.
    m_ui->gapaddrview->displayList();
    rememberRules();
    return imported;
}

void MainWindow::onSaveConf()
{
    qDebug() << "save config";
    const QString dir = QDir::currentPath() + QStringLiteral("/config");
    QDir().mkpath(dir);
    const QString fileName = QFileDialog::getSaveFileName(this, QStringLiteral("保存配置文件"),
        dir + QStringLiteral("/gapconfig.vkg"), QStringLiteral("配置文件(*.vkg)"));
    if (fileName.isEmpty())
        return;
    qDebug() << fileName;
    saveConf(fileName);
}

bool MainWindow::saveConf(const QString &fileName)
{
    const bool saved = ConfigurationFile::saveConf(fileName);
    PromptRequest request
        = notice(saved ? QStringLiteral("配置已保存到 %1").arg(fileName)
                       : QStringLiteral("配置未能保存到 %1，请检查该位置是否可写").arg(fileName));
    request.icon = saved ? PromptRequest::Information : PromptRequest::Critical;
    request.title = QStringLiteral("保存配置");
    request.parent = this;
    Prompt::show(request);
    return saved;
}

void MainWindow::rememberRules() { m_rememberedRules.remember(); }

void MainWindow::showEvent(QShowEvent *event)
{
    FramelessMainWindow::showEvent(event);
    if (m_startupOptionsDone)
        return;
    m_startupOptionsDone = true;
    // After the window is on screen, so that boxes and pages of the unattended start show over it.
    QTimer::singleShot(0, this, &MainWindow::runStartupOptions);
}

void MainWindow::runStartupOptions()
{
    // The rules of the last run first: an imported file then adds to them.
    m_rememberedRules.restore([this](const QString &fileName) {
        importConfiguration(fileName, ConfigurationFile::Remembered);
    });
    const StartupOptions &options = StartupOptions::current();
    if (!options.importFile().isEmpty())
        importConfiguration(options.importFile(), ConfigurationFile::Unattended);
    if (options.send() && m_ui->start->text() == kStartText)
        onSendStart();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    // A close from the window manager goes the same way as the close button, so that the user is
    // logged out and the exit is recorded.
    if (!m_exitConfirmed) {
        event->ignore();
        onWindowClose();
        return;
    }
    FramelessMainWindow::closeEvent(event);
}
