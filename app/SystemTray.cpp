#include "app/SystemTray.h"

#include <QAction>
#include <QMenu>

SystemTray::SystemTray(QObject *parent)
    : QSystemTrayIcon(parent)
{
    createAction();
    addAction();
    // A desktop without a tray (a bare X server, a kiosk) shows no icon; the client runs on.
    if (QSystemTrayIcon::isSystemTrayAvailable())
        show();
}

SystemTray::~SystemTray() = default;

void SystemTray::createAction()
{
    m_menu = std::make_unique<QMenu>();
    m_showAction = new QAction(QStringLiteral("显示主界面"), this);
    m_minimizeAction = new QAction(QStringLiteral("最小化"), this);
    m_quitAction
        = new QAction(QIcon(QStringLiteral(":/res/login/quit2.png")), QStringLiteral("退出"), this);
    setIcon(QIcon(QStringLiteral(":/res/login/48x48.ico")));
    setToolTip(QStringLiteral("Varko隔离网闸"));
    setContextMenu(m_menu.get());
}

void SystemTray::addAction()
{
    m_menu->addAction(m_showAction);
    m_menu->addAction(m_minimizeAction);
    m_menu->addAction(m_quitAction);
}

void SystemTray::showNotification(const QString &title, const QString &text, bool warning)
{
    showMessage(title, text, warning ? Warning : Information);
}
