#include "gap/FormLogin.h"

#include "gap/GapLogin.h"
#include "gap/LoginResultText.h"

#include <QLineEdit>
#include <QPushButton>

FormLogin::FormLogin(QPushButton *button, QPushButton *cancelButton,
    const QList<QLineEdit *> &fields, QObject *parent)
    : QObject(parent)
    , m_button(button)
    , m_buttonText(button->text())
    , m_cancelButton(cancelButton)
    , m_fields(fields)
{
    m_cancelButton->hide();
    connect(m_cancelButton, &QPushButton::clicked, this, &FormLogin::cancel);
}

FormLogin::~FormLogin() { GapLogin::dismiss(std::move(m_login)); }

void FormLogin::start(std::unique_ptr<_VKGAPIP_CONF> gap)
{
    m_login = std::make_unique<GapLogin>(std::move(gap));
    connect(m_login.get(), &GapLogin::finished, this, &FormLogin::onFinished);
    showRunning(true);
    m_login->start();
}

void FormLogin::cancel()
{
    if (!isRunning())
        return;
    GapLogin::dismiss(std::move(m_login));
    showRunning(false);
}

QString FormLogin::failureText(int result) const
{
    return LoginResultText::forFailure(result, m_notice);
}

void FormLogin::onFinished(int result)
{
    m_notice = m_login->notice();
    m_gap = m_login->takeGap();
    // Gone once this signal has been delivered; its thread has ended.
    m_login.release()->deleteLater();
    showRunning(false);
    emit finished(result);
}

void FormLogin::showRunning(bool running)
{
    m_button->setEnabled(!running);
    m_button->setText(running ? QStringLiteral("正在登录…") : m_buttonText);
    m_cancelButton->setVisible(running);
    for (QLineEdit *field : qAsConst(m_fields))
        field->setReadOnly(running);
}
