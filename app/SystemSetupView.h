#pragma once

#include <QDialog>
#include <atomic>
#include <memory>

namespace Ui {
class SystemSetupView;
}

class QCheckBox;

// The settings window: switches and the settle time of files to be sent, kept in
// config/setting.conf; three switches and the settle time are mirrored into g_sysbaseconf, the
// fourth says whether the tray tells of files that arrived, were refused or could not be sent (on
// unless switched off). A change takes effect and is stored at once; there is no OK or Cancel.
class SystemSetupView : public QDialog
{
    Q_OBJECT

public:
    explicit SystemSetupView(QWidget *parent = nullptr);
    ~SystemSetupView() override;

    void loadConf();
    QString readConf(const QString &key);
    void writeConf(const QString &key, const QString &value);
    void remove(const QString &key);
    bool notificationsOn() const;

signals:
    void notificationsChanged(bool on);

public slots:
    void onCheckBoxStateChange();
    void onDelSendFileStatesChange();
    void onFullScreenStateChange();
    void onSettleTimeChange(int seconds);
    void onNotifyStateChange();

private:
    void applyBox(const QCheckBox *box, std::atomic<bool> &flag, const char *key);

    std::unique_ptr<Ui::SystemSetupView> m_ui;
    QString m_confPath;
};
