#pragma once

#include <QPoint>
#include <QWidget>
#include <memory>

namespace Ui {
class LoginView;
}

class FormLogin;
class QCloseEvent;
class QKeyEvent;
class QLineEdit;
class QMouseEvent;
struct _VKGAPIP_CONF;

// The first window: logs the user in to one gap, remembers the login if asked, and opens the main
// window. It can log in by itself a few seconds after start from a remembered login. The login
// runs beside the window, which keeps answering and offers to cancel it.
class LoginView : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kAutoLoginDelayMs = 3000;

    explicit LoginView(QWidget *parent = nullptr);
    ~LoginView() override;

    void loadConf();
    QString readConf(const QString &key);
    void writeConf(const QString &key, const QString &value);
    bool checkPortisListening();
    void gapIPConfInit(_VKGAPIP_CONF *gap);

    // The main window a successful login opened, or null.
    QWidget *mainWindow() const { return m_mainWindow; }
    // From the start of a login with the gap until its result (or a cancel).
    bool isLoggingIn() const;

public slots:
    void onLoginBtnClicked();
    void onAutoLoginClicked();
    void onKeepPaswdClicked();
    void onAutoLoginTicked(bool checked);
    // Ends the login under way at once, as if it had not been started.
    void cancelLogin();
    void on_mixBtn_clicked();
    void on_closeBtn_clicked();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void setWindowStyle();
    void setupField(QLineEdit *field, const char *iconPath);
    bool inputRefused();
    void onLoginFinished(int result);
    void rememberLogin();
    void recordAudit(const _VKGAPIP_CONF &gap, int result);
    void openMainWindow();

    std::unique_ptr<Ui::LoginView> m_ui;
    QWidget *m_mainWindow = nullptr; // top-level, lives until the process ends
    FormLogin *m_login;
    bool m_dragging = false;
    bool loginTried = false;
    QPoint m_dragOffset;

    QString m_confPath;
    QString m_password;
    QString m_userName;
    QString m_ip;
    QString m_isRemember;
    QString m_isAuto;
};
