#include "gap/IPAddrConfigDialog.h"

#include "gap/GapInput.h"
#include "gap/SocketTools.h"
#include "model/BaseFunction.h"
#include "model/GlobalData.h"
#include "model/Prompt.h"
#include "ui_IPAddrConfigDialog.h"

#include <QtDebug>
#include <memory>

namespace {

// The message for a result with a specific reason; empty for the others.
QString resultMessage(int result)
{
    switch (result) {
    case SocketTools::kResultExchangeFailed:
        return QStringLiteral("服务器连接失败，请检查网络是否正常 ");
    case 102:
        return QStringLiteral("该用户不存在");
    case 103:
        return QStringLiteral("密码错误");
    case 105:
        return QStringLiteral("用户首次登录,请先修改密码");
    case 106:
        return QStringLiteral("账户密码已过期,请联系管理员重置");
    default:
        return QString();
    }
}

} // namespace

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
    if (inputRefused())
        return;
    auto gap = std::make_unique<_VKGAPIP_CONF>();
    gapIPConfInit(gap.get());
    // The login blocks this thread but holds no registry lock while it waits on the network.
    const int result = SocketTools().connectToGapHost(gap.get());
    if (result != SocketTools::kResultOk) {
        showResult(result);
        return; // the refused record goes with gap
    }
    g_GapInfoList.append(gap.release());
    emit updateDisPlayList();
    close();
}

void IPAddrConfigDialog::showResult(int result)
{
    QString text = resultMessage(result);
    if (text.isEmpty()) {
        qWarning().noquote() << "res=" << result;
        text = QStringLiteral("验证错误");
    }
    Prompt::error(text);
}
