#include "app/SystemSetupView.h"
#include "app/SystemTray.h"
#include "model/GlobalData.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QMenu>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

namespace {

QString settingsFile() { return QDir::currentPath() + QStringLiteral("/config/setting.conf"); }

void writeSettings(const QMap<QString, QString> &values)
{
    QSettings settings(settingsFile(), QSettings::IniFormat);
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        settings.setValue(it.key(), it.value());
}

QStringList storedKeys()
{
    QSettings settings(settingsFile(), QSettings::IniFormat);
    return settings.allKeys();
}

struct Switch {
    const char *box;
    const char *key;
    std::atomic<bool> *flag;
};
const Switch kSwitches[] = {
    { "forceVisitBox", "setting/isForceVisit", &g_sysbaseconf.isForceVisit },
    { "keepSentFilesBox", "setting/ifDelSendFile", &g_sysbaseconf.ifDelSendFile },
    { "fullScreenBox", "setting/ifFullScreen", &g_sysbaseconf.ifFullScreen },
};

} // namespace

class TestSystemSetup : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_workDir;

    static QCheckBox *box(const SystemSetupView &view, int index)
    {
        return view.findChild<QCheckBox *>(QLatin1String(kSwitches[index].box));
    }

private slots:
    void init()
    {
        m_workDir = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir::setCurrent(m_workDir->path()));
        for (const Switch &s : kSwitches)
            *s.flag = false;
    }

    void cleanup() { m_workDir.reset(); }

    void windowAsTheUserSeesIt()
    {
        SystemSetupView view;
        QVERIFY(view.isModal());
        QCOMPARE(view.windowTitle(), QStringLiteral("策略设置"));
        QVERIFY(!(view.windowFlags() & Qt::WindowContextHelpButtonHint));
        auto *tabs = view.findChild<QTabWidget *>();
        QCOMPARE(tabs->count(), 1);
        QCOMPARE(tabs->tabText(0), QStringLiteral("基础设置"));
        QVERIFY(!tabs->tabIcon(0).isNull());
        const char *const labels[] = { "强访问控制", "保留已发送文件", "程序启动时自动全屏" };
        for (int i = 0; i < 3; ++i)
            QCOMPARE(box(view, i)->text(), QString::fromUtf8(labels[i]));
    }

    void loadsStoredSwitches_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("checked");
        const struct {
            const char *value;
            bool checked;
        } values[] = { { "1", true }, { "2", true }, { "0", false }, { "yes", false } };
        for (int i = 0; i < 3; ++i) {
            for (const auto &v : values)
                QTest::addRow("%s=%s", kSwitches[i].key, v.value) << i << v.value << v.checked;
        }
    }

    void loadsStoredSwitches()
    {
        QFETCH(int, index);
        QFETCH(QString, value);
        QFETCH(bool, checked);
        writeSettings({ { QLatin1String(kSwitches[index].key), value } });
        SystemSetupView view;
        for (int j = 0; j < 3; ++j) {
            const bool expected = checked && index == j;
            QCOMPARE(box(view, j)->isChecked(), expected);
            QCOMPARE(kSwitches[j].flag->load(), expected);
        }
    }

    void missingFileLeavesEverythingOff()
    {
        SystemSetupView view;
        for (int i = 0; i < 3; ++i) {
            QVERIFY(!box(view, i)->isChecked());
            QVERIFY(!*kSwitches[i].flag);
        }
        QVERIFY(!QFile::exists(settingsFile()));
    }

    void changeIsStoredAtOnce()
    {
        writeSettings({ { QStringLiteral("setting/ifDelSendFile"), QStringLiteral("2") } });
        SystemSetupView view;
        QCheckBox *keep = box(view, 1);
        keep->click();
        QVERIFY(!g_sysbaseconf.ifDelSendFile);
        QCOMPARE(storedKeys(), QStringList());
        keep->click();
        QVERIFY(g_sysbaseconf.ifDelSendFile);
        QCOMPARE(QSettings(settingsFile(), QSettings::IniFormat).value("setting/ifDelSendFile"),
            QVariant(QStringLiteral("1")));
    }

    // The settle time: read from the file when it holds a value the box takes, stored once changed.
    void settleTimeIsKeptWithTheSettings_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<int>("shown");
        QTest::newRow("none stored") << QString() << 2;
        QTest::newRow("stored") << "30" << 30;
        QTest::newRow("zero") << "0" << 0;
        QTest::newRow("out of range") << "601" << 2;
        QTest::newRow("not a number") << "soon" << 2;
    }

    void settleTimeIsKeptWithTheSettings()
    {
        QFETCH(QString, stored);
        QFETCH(int, shown);
        g_sysbaseconf.settleSeconds = 2;
        if (!stored.isNull())
            writeSettings({ { QStringLiteral("setting/settleSeconds"), stored } });
        SystemSetupView view;
        auto *spin = view.findChild<QSpinBox *>(QStringLiteral("settleSpin"));
        QVERIFY(spin);
        QCOMPARE(view.findChild<QLabel *>(QStringLiteral("settleLabel"))->text(),
            QStringLiteral("文件稳定时间(秒)"));
        QCOMPARE(spin->minimum(), 0);
        QCOMPARE(spin->maximum(), 600);
        QCOMPARE(spin->value(), shown);
        QCOMPARE(g_sysbaseconf.settleSeconds.load(), shown);
        spin->setValue(45);
        QCOMPARE(g_sysbaseconf.settleSeconds.load(), 45);
        QCOMPARE(QSettings(settingsFile(), QSettings::IniFormat).value("setting/settleSeconds"),
            QVariant(QStringLiteral("45")));
        g_sysbaseconf.settleSeconds = 2;
    }

    void firstCheckedBoxCreatesTheDirectory_data()
    {
        QTest::addColumn<int>("index");
        QTest::newRow("强访问控制") << 0;
        QTest::newRow("保留已发送文件") << 1;
        QTest::newRow("程序启动时自动全屏") << 2;
    }

    void firstCheckedBoxCreatesTheDirectory()
    {
        QFETCH(int, index);
        SystemSetupView view;
        QVERIFY(!QDir(QStringLiteral("config")).exists());
        box(view, index)->setChecked(true);
        QCOMPARE(storedKeys(), QStringList { QLatin1String(kSwitches[index].key) });
        QVERIFY(*kSwitches[index].flag);
        box(view, index)->setChecked(false);
        QCOMPARE(storedKeys(), QStringList());
        QVERIFY(!*kSwitches[index].flag);
    }

    // Notifications are on unless switched off, and only "off" is stored.
    void notificationSwitchIsOnByDefault()
    {
        auto view = std::make_unique<SystemSetupView>();
        auto *notify = view->findChild<QCheckBox *>(QStringLiteral("notifyBox"));
        QVERIFY(notify->isChecked());
        QVERIFY(view->notificationsOn());
        QVERIFY(!QFile::exists(settingsFile()));
        QSignalSpy changed(view.get(), &SystemSetupView::notificationsChanged);
        notify->click();
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.first().first().toBool(), false);
        QCOMPARE(QSettings(settingsFile(), QSettings::IniFormat).value("setting/notify"),
            QVariant(QStringLiteral("0")));

        view = std::make_unique<SystemSetupView>();
        notify = view->findChild<QCheckBox *>(QStringLiteral("notifyBox"));
        QVERIFY(!notify->isChecked());
        notify->click();
        QVERIFY(view->notificationsOn());
        QCOMPARE(storedKeys(), QStringList());
    }

    void trayMenu()
    {
        SystemTray tray;
        QCOMPARE(tray.toolTip(), QStringLiteral("Varko隔离网闸"));
        QVERIFY(!tray.icon().isNull());
        QCOMPARE(tray.isVisible(), QSystemTrayIcon::isSystemTrayAvailable());
        const QList<QAction *> actions = tray.contextMenu()->actions();
        QCOMPARE(actions,
            (QList<QAction *> { tray.showAction(), tray.minimizeAction(), tray.quitAction() }));
        QCOMPARE(actions[0]->text(), QStringLiteral("显示主界面"));
        QCOMPARE(actions[1]->text(), QStringLiteral("最小化"));
        QCOMPARE(actions[2]->text(), QStringLiteral("退出"));
        QVERIFY(!actions[2]->icon().isNull());
    }
};

QTEST_MAIN(TestSystemSetup)
#include "tst_systemsetup.moc"
