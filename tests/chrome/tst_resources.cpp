#include <QApplication>
#include <QIcon>
#include <QPixmap>
#include <QtTest>

// Every image the windows name must be in the bundle and decodable (PNG, ICO and SVG alike).
class TestResources : public QObject
{
    Q_OBJECT

private slots:
    void imageLoads_data()
    {
        QTest::addColumn<QString>("path");
        const char *const paths[] = {
            ":/res/login/128x128.png",
            ":/res/login/48x48.ico",
            ":/res/login/gap.png",
            ":/res/login/user.png",
            ":/res/login/pswd.png",
            ":/res/login/quit2.png",
            ":/res/navbar/start.svg",
            ":/res/navbar/stop.svg",
            ":/res/navbar/gaplist.svg",
            ":/res/navbar/senddir.svg",
            ":/res/navbar/sendstate.svg",
            ":/res/navbar/recvdir.svg",
            ":/res/navbar/recvstate.svg",
            ":/res/navbar/history.svg",
            ":/res/navbar/restore.svg",
            ":/res/navbar/save.svg",
            ":/res/navbar/about.svg",
            ":/res/titlebar/设 置.png",
            ":/res/titlebar/settings.svg",
            ":/res/titlebar/min.svg",
            ":/res/titlebar/max.svg",
            ":/res/titlebar/restore.svg",
            ":/res/titlebar/close.svg",
            ":/res/centerwidget/combobox_ip.svg",
            ":/res/centerwidget/combobox_rule.svg",
            ":/res/centerwidget/combobox_user.svg",
            ":/res/centerwidget/del.png",
            ":/res/centerwidget/dir.png",
            ":/res/centerwidget/edit.png",
        };
        for (const char *path : paths)
            QTest::newRow(path) << QString::fromUtf8(path);
    }

    void imageLoads()
    {
        QFETCH(QString, path);
        QVERIFY2(QFile::exists(path), "missing from the bundle");
        QVERIFY(!QPixmap(path).isNull());
        QVERIFY(!QIcon(path).pixmap(32, 32).isNull());
    }

    void logoHasItsNamedSize()
    {
        QCOMPARE(QPixmap(":/res/login/128x128.png").size(), QSize(128, 128));
        QCOMPARE(QPixmap(":/res/login/48x48.ico").size(), QSize(48, 48));
    }
};

QTEST_MAIN(TestResources)
#include "tst_resources.moc"
