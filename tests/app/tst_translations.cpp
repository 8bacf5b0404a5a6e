// Qt's own texts speak the client's language: standard buttons and file dialogs in Chinese.

#include "app/Startup.h"

#include <QCalendarWidget>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

class TestTranslations : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(Startup::loadQtTranslations()); }

    void standardButtonsAreChinese_data()
    {
        QTest::addColumn<int>("button");
        QTest::addColumn<QString>("text");
        QTest::newRow("Yes") << int(QDialogButtonBox::Yes) << "是(&Y)";
        QTest::newRow("No") << int(QDialogButtonBox::No) << "否(&N)";
        QTest::newRow("OK") << int(QDialogButtonBox::Ok) << "确定";
        QTest::newRow("Cancel") << int(QDialogButtonBox::Cancel) << "取消";
    }

    void standardButtonsAreChinese()
    {
        QFETCH(int, button);
        QFETCH(QString, text);
        const QDialogButtonBox box { QDialogButtonBox::StandardButtons(button) };
        QCOMPARE(box.button(QDialogButtonBox::StandardButton(button))->text(), text);
    }

    void localeIsChineseUnlessAsked_data()
    {
        QTest::addColumn<QString>("system");
        QTest::addColumn<QString>("used");
        QTest::newRow("none asked") << "C"
                                    << "zh_CN";
        QTest::newRow("Chinese asked") << "zh_TW"
                                       << "zh_TW";
        QTest::newRow("another asked") << "de_DE"
                                       << "de_DE";
    }

    void localeIsChineseUnlessAsked()
    {
        QFETCH(QString, system);
        QFETCH(QString, used);
        QCOMPARE(Startup::applicationLocale(QLocale(system)).name(), used);
    }

    // The history page's calendar names its days and months in Chinese.
    void calendarIsChinese()
    {
        const QLocale before;
        QLocale::setDefault(Startup::applicationLocale(QLocale::c()));
        QCalendarWidget calendar;
        QCOMPARE(calendar.locale().dayName(1, QLocale::ShortFormat), QStringLiteral("周一"));
        QCOMPARE(calendar.locale().monthName(12), QStringLiteral("十二月"));
        QLocale::setDefault(before);
    }

    void fileDialogIsChinese()
    {
        QFileDialog dialog;
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        const QLabel *lookIn = dialog.findChild<QLabel *>(QStringLiteral("lookInLabel"));
        QVERIFY(lookIn);
        QCOMPARE(lookIn->text(), QStringLiteral("查找范围："));
    }
};

QTEST_MAIN(TestTranslations)
#include "tst_translations.moc"
