#pragma once

#include <QSystemTrayIcon>
#include <memory>

class QAction;
class QMenu;

// The tray icon with its menu and the client's notifications. The main window, its parent,
// connects the three actions.
class SystemTray : public QSystemTrayIcon
{
    Q_OBJECT

public:
    explicit SystemTray(QObject *parent = nullptr);
    ~SystemTray() override;

    QAction *showAction() const { return m_showAction; }
    QAction *minimizeAction() const { return m_minimizeAction; }
    QAction *quitAction() const { return m_quitAction; }

    // A message through the desktop's notifications; the main window connects messageClicked.
    void showNotification(const QString &title, const QString &text, bool warning);

private:
    void createAction();
    void addAction();

    std::unique_ptr<QMenu> m_menu; // a menu takes only a widget as parent, so the tray owns it
    QAction *m_showAction = nullptr;
    QAction *m_minimizeAction = nullptr;
    QAction *m_quitAction = nullptr;
};
