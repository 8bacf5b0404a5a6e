#pragma once

#include <QDialog>

namespace Ui {
class IPAddrConfigDialog;
}

class FormLogin;
struct _VKGAPIP_CONF;

// Adds a further gap: asks for its address, a user name and a password, logs in to it and, on
// success, lists the new gap record. Modal, and deletes itself when closed. The login runs beside
// the window, which keeps answering and offers to cancel it; closing the dialog cancels it too.
class IPAddrConfigDialog : public QDialog
{
    Q_OBJECT

public:
    explicit IPAddrConfigDialog(QWidget *parent = nullptr);
    ~IPAddrConfigDialog() override;

    void gapIPConfInit(_VKGAPIP_CONF *gap);
    // From the start of a login with the gap until its result (or a cancel).
    bool isLoggingIn() const;

signals:
    void updateDisPlayList();

public slots:
    void on_pushButton_clicked();
    // Ends the login under way at once; the dialog stays open with its input.
    void cancelLogin();

private:
    bool inputRefused();
    void onLoginFinished(int result);

    Ui::IPAddrConfigDialog *m_ui;
    FormLogin *m_login;
};
