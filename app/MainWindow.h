#pragma once

#include "chrome/FramelessMainWindow.h"
#include "views/rules/ConfigurationFile.h"
#include "views/rules/RememberedRules.h"

#include <QPointer>
#include <QThread>
#include <QTimer>
#include <memory>

namespace Ui {
class MainWindow;
}

class Controller;
class HistoryView;
class IPAddrView;
class RecvDataProc;
class RecvPathView;
class RecvStatusView;
class SendPathView;
class SendStatusView;
class StatusCheckout;
class SystemSetupView;
class SystemTray;
class TransferNotifier;
class QAbstractButton;

// The client's working window and the owner of everything that runs after the login: the status
// checker in its own thread, the two listeners, the pages, sending on and off, and the exit.
// Created by the login window after the first successful login; it then acts on the unattended
// start options (StartupOptions) once it is shown.
class MainWindow : public FramelessMainWindow
{
    Q_OBJECT

public:
    // The pages of the stacked widget, in the order of the navigation buttons.
    enum Page {
        GapListPage,
        SendPathPage,
        SendStatusPage,
        RecvPathPage,
        RecvStatusPage,
        HistoryPage
    };

    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    IPAddrView *gapListView() const;
    SendPathView *sendPathView() const;
    SendStatusView *sendStatusView() const;
    RecvPathView *recvPathView() const;
    RecvStatusView *recvStatusView() const;
    HistoryView *historyView() const;
    RecvDataProc *fileListener() const { return m_fileListener.get(); }
    TransferNotifier *notifier() const { return m_notifier; }
    SystemTray *tray() const { return m_tray; }
    SystemSetupView *setupView() const { return m_setupView.get(); }

    // Adds the gaps and rules of a configuration file to the registries and redraws the lists;
    // true when nothing in it was refused.
    bool importConfiguration(
        const QString &fileName, ConfigurationFile::Import kind = ConfigurationFile::Asked);
    // Writes the gaps and rules into a configuration file and says whether it could, naming the
    // file; false when it could not be written.
    bool saveConf(const QString &fileName);

signals:
    void disPlayList();

public slots:
    void onSendStart();
    void onWindowClose();
    void programExit();
    void on_maxbtn_clicked();
    void on_minbtn_clicked();
    void on_closebtn_clicked();
    void onAboutClicked();
    void onReStoreConf();
    void onSaveConf();
    // Shows the window normally and brings it to the front (the tray's left click and its
    // "显示主界面").
    void showAndRaise();
    // Writes the gaps and rules to the remembered rules file, once they have been restored.
    void rememberRules();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void initFrame();
    void setWidgetStyle();
    void setConnect();
    void initThread();
    void setIcons();
    void showPage(Page page);
    QAbstractButton *pageButton(Page page) const;
    void connectNotifications();
    void connectDrops();
    void showNotification(const QString &title, const QString &text, bool warning, int page);
    // Whether the user looks at the page now.
    bool isPageSeen(int page) const;
    void startSending();
    void stopSending();
    // Ends a stop once the scanner and every worker of the run have ended.
    void onStopProgress();
    // The scanner that feeds the send status view while sending is on.
    void startScanner();
    void stopScanner();
    void stopStatusThread();
    void runStartupOptions();

    std::unique_ptr<Ui::MainWindow> m_ui;
    QThread m_statusThread;
    StatusCheckout *m_statusCheckout = nullptr; // deleted by the status thread's finish
    int m_poolSize = 0;
    std::unique_ptr<RecvDataProc> m_fileListener;
    std::unique_ptr<RecvDataProc> m_confListener;
    SystemTray *m_tray = nullptr;
    TransferNotifier *m_notifier = nullptr;
    Page m_notifiedPage = RecvStatusPage; // of the last notification
    std::unique_ptr<SystemSetupView> m_setupView; // a window of its own, without parent
    std::unique_ptr<Controller> m_controller; // while sending is on
    QPointer<Controller> m_endingController; // after a stop, until its scan has ended
    QTimer m_stopWatch;
    RememberedRules m_rememberedRules;
    bool m_startupOptionsDone = false;
    bool m_exitConfirmed = false;
};
