#include "app/StartupOptions.h"

#include <QtTest>

class TestStartupOptions : public QObject
{
    Q_OBJECT

private slots:
    void parse_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("logLevel");
        QTest::addColumn<QString>("importFile");
        QTest::addColumn<bool>("send");
        QTest::addColumn<int>("problems");
        QTest::addColumn<bool>("help");

        QTest::newRow("nothing") << QStringList {} << 0 << QString() << false << 0 << false;
        QTest::newRow("level") << QStringList { "2" } << 2 << QString() << false << 0 << false;
        QTest::newRow("level not a number")
            << QStringList { "verbose" } << 0 << QString() << false << 0 << false;
        QTest::newRow("negative level is an unknown option")
            << QStringList { "-1" } << 0 << QString() << false << 1 << false;
        QTest::newRow("level then options") << QStringList { "1", "--import", "a.vkg", "--send" }
                                            << 1 << "a.vkg" << true << 0 << false;
        QTest::newRow("option first leaves level 0")
            << QStringList { "--send", "3" } << 0 << QString() << true << 1 << false;
        QTest::newRow("options in any order") << QStringList { "--send", "--import", "conf/b.vkg" }
                                              << 0 << "conf/b.vkg" << true << 0 << false;
        QTest::newRow("import with equals sign")
            << QStringList { "--import=c.vkg" } << 0 << "c.vkg" << false << 0 << false;
        QTest::newRow("import without file")
            << QStringList { "--import" } << 0 << QString() << false << 1 << false;
        QTest::newRow("import followed by an option")
            << QStringList { "--import", "--send" } << 0 << QString() << true << 1 << false;
        QTest::newRow("import with empty equals")
            << QStringList { "--import=" } << 0 << QString() << false << 1 << false;
        QTest::newRow("unknown options ignored") << QStringList { "0", "--fast", "stray", "--send" }
                                                 << 0 << QString() << true << 2 << false;
        QTest::newRow("help") << QStringList { "--help" } << 0 << QString() << false << 0 << true;
        QTest::newRow("short help after a level")
            << QStringList { "2", "-h" } << 2 << QString() << false << 0 << true;
    }

    void parse()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, logLevel);
        QFETCH(QString, importFile);
        QFETCH(bool, send);
        QFETCH(int, problems);
        QFETCH(bool, help);

        const StartupOptions options
            = StartupOptions::parse(QStringList { "/opt/app/gapclient" } + arguments);
        QCOMPARE(options.logLevel(), logLevel);
        QCOMPARE(options.importFile(), importFile);
        QCOMPARE(options.send(), send);
        QCOMPARE(options.problems().size(), problems);
        QCOMPARE(options.help(), help);
    }

    void version_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("version");
        QTest::addColumn<int>("problems");

        QTest::newRow("version") << QStringList { "--version" } << true << 0;
        QTest::newRow("after a level and an option")
            << QStringList { "1", "--send", "--version" } << true << 0;
        QTest::newRow("a longer word is unknown") << QStringList { "--versions" } << false << 1;
        QTest::newRow("no short form") << QStringList { "-v" } << false << 1;
    }

    void version()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, version);
        QFETCH(int, problems);

        const StartupOptions options
            = StartupOptions::parse(QStringList { "/opt/app/gapclient" } + arguments);
        QCOMPARE(options.version(), version);
        QCOMPARE(options.problems().size(), problems);
    }

    // One line, the program's name and the project's version, the way packaging tools read it.
    void versionText()
    {
        QVERIFY(QRegularExpression("^gapclient [0-9]+(\\.[0-9]+)+\n$")
                    .match(StartupOptions::versionText())
                    .hasMatch());
    }
};

QTEST_GUILESS_MAIN(TestStartupOptions)
#include "tst_startupoptions.moc"
