#include "app/SystemSetupView.h"

#include "model/GlobalData.h"
#include "ui_SystemSetupView.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QSignalBlocker>
#include <QSpinBox>

namespace {

const char *const kConfFile = "/config/setting.conf";
const char *const kGroup = "setting";
const char *const kForceVisitKey = "isForceVisit";
const char *const kKeepSentFilesKey = "ifDelSendFile";
const char *const kFullScreenKey = "ifFullScreen";
const char *const kSettleKey = "settleSeconds";
// On by default: stored only while switched off.
const char *const kNotifyKey = "notify";
const char *const kChecked = "1";
const char *const kUnchecked = "0";
const char *const kTabIcon = ":/res/titlebar/设 置.png";

QString groupKey(const char *key) { return QLatin1String(kGroup) + '/' + QLatin1String(key); }

} // namespace

SystemSetupView::SystemSetupView(QWidget *parent)
    : QDialog(parent)
    , m_ui(new Ui::SystemSetupView)
{
    m_ui->setupUi(this);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    m_ui->tabWidget->setTabIcon(0, QIcon(QString::fromUtf8(kTabIcon)));
    connect(m_ui->forceVisitBox, &QCheckBox::stateChanged, this,
        &SystemSetupView::onCheckBoxStateChange);
    connect(m_ui->keepSentFilesBox, &QCheckBox::stateChanged, this,
        &SystemSetupView::onDelSendFileStatesChange);
    connect(m_ui->fullScreenBox, &QCheckBox::stateChanged, this,
        &SystemSetupView::onFullScreenStateChange);
    connect(m_ui->settleSpin, QOverload<int>::of(&QSpinBox::valueChanged), this,
        &SystemSetupView::onSettleTimeChange);
    m_confPath = QDir::currentPath() + QLatin1String(kConfFile);
    loadConf();
    // After loading: nothing is written for a switch that stays as it was.
    m_ui->notifyBox->setChecked(readConf(QLatin1String(kNotifyKey)) != QLatin1String(kUnchecked));
    connect(m_ui->notifyBox, &QCheckBox::stateChanged, this, &SystemSetupView::onNotifyStateChange);
}

SystemSetupView::~SystemSetupView() = default;

QString SystemSetupView::readConf(const QString &key)
{
    QSettings settings(m_confPath, QSettings::IniFormat);
    return settings.value(QLatin1String(kGroup) + '/' + key).toString();
}

void SystemSetupView::writeConf(const QString &key, const QString &value)
{
    QDir().mkpath(QFileInfo(m_confPath).absolutePath());
    QSettings settings(m_confPath, QSettings::IniFormat);
    settings.beginGroup(QLatin1String(kGroup));
    settings.setValue(key, value);
    settings.endGroup();
}

void SystemSetupView::remove(const QString &key)
{
    QSettings settings(m_confPath, QSettings::IniFormat);
    settings.remove(key);
}

void SystemSetupView::loadConf()
{
    if (!QFileInfo::exists(m_confPath))
        return;
    const int forceVisit = readConf(QLatin1String(kForceVisitKey)).toInt();
    const int keepSentFiles = readConf(QLatin1String(kKeepSentFilesKey)).toInt();
    const int fullScreen = readConf(QLatin1String(kFullScreenKey)).toInt();
    if (forceVisit != 0) {
        m_ui->forceVisitBox->setChecked(true);
        g_sysbaseconf.isForceVisit = true;
    }
    if (keepSentFiles != 0) {
        m_ui->keepSentFilesBox->setChecked(true);
        g_sysbaseconf.ifDelSendFile = true;
    }
    if (fullScreen != 0) {
        m_ui->fullScreenBox->setChecked(true);
        g_sysbaseconf.ifFullScreen = true;
    }
    bool isNumber = false;
    const int settle = readConf(QLatin1String(kSettleKey)).toInt(&isNumber);
    if (isNumber && settle >= m_ui->settleSpin->minimum()
        && settle <= m_ui->settleSpin->maximum()) {
        const QSignalBlocker quiet(m_ui->settleSpin);
        m_ui->settleSpin->setValue(settle);
        g_sysbaseconf.settleSeconds = settle;
    }
}

void SystemSetupView::applyBox(const QCheckBox *box, std::atomic<bool> &flag, const char *key)
{
    flag = box->isChecked();
    if (box->isChecked())
        writeConf(QLatin1String(key), QLatin1String(kChecked));
    else
        remove(groupKey(key));
}

void SystemSetupView::onCheckBoxStateChange()
{
    applyBox(m_ui->forceVisitBox, g_sysbaseconf.isForceVisit, kForceVisitKey);
}

void SystemSetupView::onDelSendFileStatesChange()
{
    applyBox(m_ui->keepSentFilesBox, g_sysbaseconf.ifDelSendFile, kKeepSentFilesKey);
}

void SystemSetupView::onSettleTimeChange(int seconds)
{
    g_sysbaseconf.settleSeconds = seconds;
    writeConf(QLatin1String(kSettleKey), QString::number(seconds));
}

void SystemSetupView::onFullScreenStateChange()
{
    applyBox(m_ui->fullScreenBox, g_sysbaseconf.ifFullScreen, kFullScreenKey);
}

bool SystemSetupView::notificationsOn() const { return m_ui->notifyBox->isChecked(); }

void SystemSetupView::onNotifyStateChange()
{
    if (notificationsOn())
        remove(groupKey(kNotifyKey));
    else
        writeConf(QLatin1String(kNotifyKey), QLatin1String(kUnchecked));
    emit notificationsChanged(notificationsOn());
}
