#include "chrome/AboutDialog.h"

#include <QLabel>
#include <QtTest>

class TestAboutDialog : public QObject
{
    Q_OBJECT

private slots:
    void showsProductLogoAndLink()
    {
        AboutDialog dialog;
        QVERIFY(dialog.isModal());
        QCOMPARE(dialog.windowTitle(), QStringLiteral("关于我们"));
        QVERIFY(!(dialog.windowFlags() & Qt::WindowContextHelpButtonHint));

        auto *name = dialog.findChild<QLabel *>(QStringLiteral("productName"));
        QVERIFY(name);
        QCOMPARE(name->text(), QStringLiteral("Varko网络传输客户端v1.0"));

        auto *logo = dialog.findChild<QLabel *>(QStringLiteral("logo"));
        QVERIFY(logo);
        QCOMPARE(logo->pixmap(Qt::ReturnByValue).size(), QSize(128, 128));

        auto *link = dialog.findChild<QLabel *>(QStringLiteral("webSite"));
        QVERIFY(link);
        QVERIFY(link->openExternalLinks());
        QVERIFY(link->text().contains(QStringLiteral("href=\"%1\"").arg(AboutDialog::kWebSite)));
    }
};

QTEST_MAIN(TestAboutDialog)
#include "tst_aboutdialog.moc"
