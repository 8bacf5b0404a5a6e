#include "gap/LoginView.h"

#include "app/MainWindow.h"
#include "app/Startup.h"
#include "gap/FormLogin.h"
#include "gap/GapInput.h"
#include "gap/LoginFile.h"
#include "model/AuditLog.h"
#include "model/GlobalData.h"
#include "model/Ports.h"
#include "model/Prompt.h"
#include "ui_LoginView.h"

#include <QCloseEvent>
#include <QDir>
#include <QHostAddress>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTcpServer>
#include <QTimer>
#include <QtDebug>
#include <cstdio>
#include <memory>

namespace {

const char *const kWindowIcon = ":/res/login/48x48.ico";
const char *const kLogo = ":/res/login/128x128.png";
constexpr int kLogoSize = 72;

const char *const kFieldStyle = "border:2px groove gray;border-radius:4px;";
const char *const kFieldFont = "黑体";
const char *const kWindowStyle
    = "QWidget#LoginView{border:0px solid #A0A0A0; background:#FFFFFF;}"
      "#header{background:#5974FB;}"
      "#productLabel{color:#FFFFFF; font-size:18px; font-weight:bold;}"
      "#mixBtn, #closeBtn{border:none; background:transparent;}"
      "#mixBtn:hover{background:rgba(255,255,255,40);}"
      "#closeBtn:hover{background:#E5484D;}"
      "#loginBtn{background:#5974FB; color:#FFFFFF; border:none; border-radius:4px;"
      " font-size:16px;}"
      "#loginBtn:hover{background:#6F86FF;}"
      "#loginBtn:pressed{background:#3346B8;}"
      "#loginBtn:disabled{background:#9AA9F7;}"
      "#cancelBtn{background:#FFFFFF; color:#5974FB; border:1px solid #5974FB; border-radius:4px;"
      " font-size:16px;}"
      "#cancelBtn:hover{background:#EEF1FF;}";

// The audit event of a login result; results without one write no event.
struct AuditedResult {
    int result;
    int outcome;
    const char *reason;
};
const AuditedResult kAuditedResults[] = {
    { 0, 1, "客户端登录" },
    { 1, 0, "网闸连接失败" },
    { -1, 0, "网络异常" },
    { 102, 0, "该用户不存在" },
    { 103, 0, "密码错误" },
    { 106, 0, "密码过期" },
};
const char *const kAuditCategory = "CLIENT_LOGIN";
const char *const kAuditOperation = "登录";
constexpr int kAuditDetailSize = 128;

} // namespace

LoginView::LoginView(QWidget *parent)
    : QWidget(parent)
    , m_ui(new Ui::LoginView)
{
    m_ui->setupUi(this);
    m_login = new FormLogin(
        m_ui->loginBtn, m_ui->cancelBtn, { m_ui->ipEdit, m_ui->userEdit, m_ui->pswdEdit }, this);
    connect(m_login, &FormLogin::finished, this, &LoginView::onLoginFinished);
    setWindowStyle();
    connect(m_ui->loginBtn, &QPushButton::clicked, this, &LoginView::onLoginBtnClicked);
    connect(m_ui->keeppaswd, &QCheckBox::clicked, this, &LoginView::onKeepPaswdClicked);
    connect(m_ui->autologin, &QCheckBox::clicked, this, &LoginView::onAutoLoginTicked);
    m_confPath = LoginFile::pathIn(QDir::currentPath());
    loadConf();
}

LoginView::~LoginView() = default;

void LoginView::setWindowStyle()
{
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowMinimizeButtonHint);
    setAttribute(Qt::WA_StyledBackground);
    setWindowIcon(QIcon(QString::fromLatin1(kWindowIcon)));
    setStyleSheet(QString::fromUtf8(kWindowStyle));
    m_ui->logoLabel->setPixmap(QIcon(QString::fromLatin1(kLogo)).pixmap(kLogoSize, kLogoSize));
    m_ui->mixBtn->setIcon(QIcon(QStringLiteral(":/res/titlebar/min.svg")));
    m_ui->closeBtn->setIcon(QIcon(QStringLiteral(":/res/titlebar/close.svg")));
    setupField(m_ui->ipEdit, ":/res/login/gap.png");
    setupField(m_ui->userEdit, ":/res/login/user.png");
    setupField(m_ui->pswdEdit, ":/res/login/pswd.png");
    m_ui->ipEdit->setMaxLength(LoginFile::kAddressLength);
    m_ui->userEdit->setMaxLength(LoginFile::kFieldLength);
    m_ui->pswdEdit->setMaxLength(LoginFile::kFieldLength);
}

void LoginView::setupField(QLineEdit *field, const char *iconPath)
{
    field->addAction(QIcon(QString::fromLatin1(iconPath)), QLineEdit::LeadingPosition);
    field->setStyleSheet(QString::fromLatin1(kFieldStyle));
    QFont font = field->font();
    font.setFamily(QString::fromUtf8(kFieldFont));
    field->setFont(font);
}

QString LoginView::readConf(const QString &key) { return LoginFile(m_confPath).read(key); }

void LoginView::writeConf(const QString &key, const QString &value)
{
    const bool password = key == QLatin1String(LoginFile::kPasswordKey);
    LoginFile(m_confPath)
        .write(key, password ? LoginFile::scramble(m_ui->pswdEdit->text()) : value);
}

void LoginView::loadConf()
{
    if (!LoginFile(m_confPath).exists())
        return;
    m_ip = readConf(QLatin1String(LoginFile::kAddressKey));
    m_userName = readConf(QLatin1String(LoginFile::kUserKey));
    m_password = readConf(QLatin1String(LoginFile::kPasswordKey));
    m_isRemember = readConf(QLatin1String(LoginFile::kRememberKey));
    m_isAuto = readConf(QLatin1String(LoginFile::kAutoLoginKey));

    m_ui->ipEdit->setText(m_ip);
    m_ui->userEdit->setText(m_userName);
    m_ui->pswdEdit->setText(LoginFile::unscramble(m_password));
    if (m_isRemember == QLatin1String(LoginFile::kTrue))
        m_ui->keeppaswd->setChecked(true);
    if (m_isAuto == QLatin1String(LoginFile::kTrue))
        m_ui->autologin->setChecked(true);
    if (m_ui->autologin->isChecked())
        QTimer::singleShot(kAutoLoginDelayMs, this, &LoginView::onAutoLoginClicked);
}

bool LoginView::checkPortisListening()
{
    QTcpServer fileServer;
    if (!fileServer.listen(QHostAddress::AnyIPv4, Ports::filePort()))
        return false;
    QTcpServer confServer;
    const bool free = confServer.listen(QHostAddress::AnyIPv4, Ports::confPort());
    confServer.close();
    fileServer.close();
    return free;
}

void LoginView::gapIPConfInit(_VKGAPIP_CONF *gap)
{
    GapInput::fillGapRecord(
        gap, m_ui->ipEdit->text(), m_ui->userEdit->text(), m_ui->pswdEdit->text());
}

bool LoginView::inputRefused()
{
    if (!checkPortisListening()) {
        Prompt::error(QStringLiteral("接收端口监听失败"));
        return true;
    }
    if (!GapInput::isGapAddress(m_ui->ipEdit->text())) {
        Prompt::error(QStringLiteral("无效的ip地址"));
        return true;
    }
    if (m_ui->userEdit->text().isEmpty()) {
        Prompt::error(QStringLiteral("请输入用户名"));
        return true;
    }
    if (m_ui->pswdEdit->text().isEmpty()) {
        Prompt::error(QStringLiteral("请输入密码"));
        return true;
    }
    return false;
}

void LoginView::onLoginBtnClicked()
{
    if (isLoggingIn())
        return;
    loginTried = true;
    if (inputRefused())
        return;
    auto gap = std::make_unique<_VKGAPIP_CONF>();
    gapIPConfInit(gap.get());
    m_login->start(std::move(gap));
}

bool LoginView::isLoggingIn() const { return m_login->isRunning(); }

void LoginView::onLoginFinished(int result)
{
    std::unique_ptr<_VKGAPIP_CONF> gap = m_login->takeGap();
    if (result != 0) {
        Prompt::error(m_login->failureText(result));
        recordAudit(*gap, result);
        return; // the refused record goes with gap
    }
    if (m_ui->keeppaswd->isChecked())
        rememberLogin();
    const _VKGAPIP_CONF &listed = *gap;
    g_GapInfoList.append(gap.release());
    close();
    openMainWindow();
    recordAudit(listed, result);
}

void LoginView::cancelLogin()
{
    if (!isLoggingIn())
        return;
    qWarning().noquote() << "登录已取消";
    m_login->cancel();
}

void LoginView::rememberLogin()
{
    LoginFile(m_confPath)
        .remember(m_ui->ipEdit->text(), m_ui->userEdit->text(), m_ui->pswdEdit->text(),
            m_ui->autologin->isChecked());
}

void LoginView::recordAudit(const _VKGAPIP_CONF &gap, int result)
{
    AuditLog::dlog_init(gap.HostIP);
    for (const AuditedResult &audited : kAuditedResults) {
        if (audited.result != result)
            continue;
        char detail[kAuditDetailSize];
        std::snprintf(
            detail, sizeof detail, "'%s','%s'", gap.localIP.toLatin1().constData(), audited.reason);
        AuditLog::dlog(kAuditCategory, gap.LoginUserName, kAuditOperation, audited.outcome, detail);
        break;
    }
    AuditLog::dlog_destroy();
}

void LoginView::openMainWindow()
{
    m_mainWindow = new MainWindow;
    m_mainWindow->show();
    Startup::fitOnScreen(m_mainWindow);
}

void LoginView::onAutoLoginClicked()
{
    if (m_ui->autologin->isChecked() && !loginTried)
        onLoginBtnClicked();
}

void LoginView::onKeepPaswdClicked()
{
    if (m_ui->keeppaswd->isChecked())
        return;
    LoginFile(m_confPath).remove();
    // Logging in by itself needs the remembered password.
    m_ui->autologin->setChecked(false);
}

void LoginView::onAutoLoginTicked(bool checked)
{
    if (checked)
        m_ui->keeppaswd->setChecked(true);
}

void LoginView::on_mixBtn_clicked() { showMinimized(); }

void LoginView::on_closeBtn_clicked() { close(); }

void LoginView::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Return) {
        onLoginBtnClicked();
        return;
    }
    if (event->key() == Qt::Key_Escape && isLoggingIn()) {
        cancelLogin();
        return;
    }
    QWidget::keyPressEvent(event);
}

void LoginView::closeEvent(QCloseEvent *event)
{
    // A login that ended after the window had been closed would open the main window.
    cancelLogin();
    QWidget::closeEvent(event);
}

void LoginView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    m_dragging = true;
    m_dragOffset = event->globalPos() - pos();
    setCursor(Qt::ClosedHandCursor);
}

void LoginView::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_dragging || !(event->buttons() & Qt::LeftButton))
        return QWidget::mouseMoveEvent(event);
    move(event->globalPos() - m_dragOffset);
}

void LoginView::mouseReleaseEvent(QMouseEvent *event)
{
    if (!m_dragging)
        return QWidget::mouseReleaseEvent(event);
    m_dragging = false;
    unsetCursor();
}
