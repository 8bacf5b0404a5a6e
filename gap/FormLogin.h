#pragma once

#include "model/GlobalData.h"

#include <QList>
#include <QObject>
#include <QString>
#include <memory>

class GapLogin;
class QLineEdit;
class QPushButton;

// The login that a window starts from its form (the login window, the add-gap dialog). It runs
// beside the window (GapLogin), and the form shows it: the button that started it reads
// "正在登录…" and is disabled, the cancel button beside it shows, the fields are read-only, so
// that what the login uses stays in view.
class FormLogin : public QObject
{
    Q_OBJECT

public:
    // The widgets belong to the window, which owns this object too.
    FormLogin(QPushButton *button, QPushButton *cancelButton, const QList<QLineEdit *> &fields,
        QObject *parent);
    // Lets a login still under way go without waiting for it (GapLogin::dismiss).
    ~FormLogin() override;

    void start(std::unique_ptr<_VKGAPIP_CONF> gap);
    // Ends the login under way at once; finished() is not emitted for it.
    void cancel();
    bool isRunning() const { return m_login != nullptr; }

    // In the slot of finished(): the record the login filled in, and what to tell the user when
    // it did not succeed.
    std::unique_ptr<_VKGAPIP_CONF> takeGap() { return std::move(m_gap); }
    QString failureText(int result) const;

signals:
    void finished(int result);

private:
    void onFinished(int result);
    void showRunning(bool running);

    QPushButton *m_button;
    QString m_buttonText;
    QPushButton *m_cancelButton;
    QList<QLineEdit *> m_fields;
    std::unique_ptr<GapLogin> m_login;
    std::unique_ptr<_VKGAPIP_CONF> m_gap;
    QString m_notice;
};
