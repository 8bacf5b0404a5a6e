#include "gap/IPAddrConfigDialog.h"

#include "gap/FormLogin.h"
#include "gap/GapInput.h"
#include "gap/SocketTools.h"
#include "model/BaseFunction.h"
#include "model/GlobalData.h"
#include "model/Prompt.h"
#include "ui_IPAddrConfigDialog.h"

#include <QtDebug>
#include <memory>

IPAddrConfigDialog::IPAddrConfigDialog(QWidget *parent)
    : QDialog(parent)
    , m_ui(new Ui::IPAddrConfigDialog)
{
    m_ui->setupUi(this);
    setModal(true);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    // The record's fields hold this much; longer input would be cut silently on the wire.
    m_ui->ipEdit->setMaxLength(kHostIPSize - 1);
    m_ui->userEdit->setMaxLength(kUserNameSize - 1);
    m_ui->pswdEdit->setMaxLength(kUserNameSize - 1);
    // Closing the dialog while it logs in lets the login go (FormLogin's end).
    m_login = new FormLogin(m_ui->pushButton, m_ui->cancelButton,
        { m_ui->ipEdit, m_ui->userEdit, m_ui->pswdEdit }, this);
    connect(m_login, &FormLogin::finished, this, &IPAddrConfigDialog::onLoginFinished);
}

IPAddrConfigDialog::~IPAddrConfigDialog() { delete m_ui; }

void IPAddrConfigDialog::gapIPConfInit(_VKGAPIP_CONF *gap)
{
    GapInput::fillGapRecord(
        gap, m_ui->ipEdit->text(), m_ui->userEdit->text(), m_ui->pswdEdit->text());
}

bool IPAddrConfigDialog::inputRefused()
{
    const QString address = m_ui->ipEdit->text();
    if (!GapInput::isGapAddress(address)) {
        Prompt::error(QStringLiteral("无效的ip地址"));
        return true;
    }
    if (m_ui->userEdit->text().isEmpty()) {
        Prompt::error(QStringLiteral("请输入用户名"));
        return true;
    }
    if (m_ui->pswdEdit->text().isEmpty()) {
        Prompt::error(QStringLiteral("请输入密码 "));
        return true;
    }
    // Gaps are found by their address: a second record for a listed address could never be
    // reached by a rule, and would only log in again and again beside the first.
    if (BaseFunction::findVkgapinfo(address)) {
        Prompt::error(QStringLiteral("该隔离器已添加"));
        return true;
    }
    return false;
}

void IPAddrConfigDialog::on_pushButton_clicked()
{
    if (isLoggingIn() || inputRefused())
        return;
    auto gap = std::make_unique<_VKGAPIP_CONF>();
    gapIPConfInit(gap.get());
    // The login holds no registry lock while it waits on the network.
    m_login->start(std::move(gap));
}

bool IPAddrConfigDialog::isLoggingIn() const { return m_login->isRunning(); }

void IPAddrConfigDialog::cancelLogin() { m_login->cancel(); }

void IPAddrConfigDialog::onLoginFinished(int result)
{
    std::unique_ptr<_VKGAPIP_CONF> gap = m_login->takeGap();
    if (result != SocketTools::kResultOk) {
        qWarning().noquote() << "res=" << result;
        Prompt::error(m_login->failureText(result));
        return; // the refused record goes with gap
    }
    g_GapInfoList.append(gap.release());
    emit updateDisPlayList();
    close();
}
