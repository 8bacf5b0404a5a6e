#pragma once

#include <QDialog>

namespace Ui {
class IPAddrConfigDialog;
}

struct _VKGAPIP_CONF;

// Adds a further gap: asks for its address, a user name and a password, logs in to it and, on
// success, lists the new gap record. Modal, and deletes itself when closed.
class IPAddrConfigDialog : public QDialog
{
    Q_OBJECT

public:
    explicit IPAddrConfigDialog(QWidget *parent = nullptr);
    ~IPAddrConfigDialog() override;

    void gapIPConfInit(_VKGAPIP_CONF *gap);

signals:
    void updateDisPlayList();

public slots:
    void on_pushButton_clicked();

private:
    bool inputRefused();
    void showResult(int result);

    Ui::IPAddrConfigDialog *m_ui;
};
