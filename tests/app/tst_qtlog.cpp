#include "app/QT_LOG.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>
#include <memory>

namespace {

const QRegularExpression kLine(
    QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\[Warning\\]:(.*)$"));

QStringList linesOf(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QString text = QString::fromUtf8(file.readAll());
    QStringList lines = text.split(QLatin1Char('\n'));
    // Every line ends in a newline, so the text ends with an empty part.
    if (lines.last().isEmpty())
        lines.removeLast();
    else
        lines.append(QStringLiteral("<unterminated>"));
    return lines;
}

// The message of a log line, or a marker when the line is not a whole log line.
QString messageOf(const QString &line)
{
    const QRegularExpressionMatch match = kLine.match(line);
    return match.hasMatch() ? match.captured(1) : QStringLiteral("<malformed: %1>").arg(line);
}

} // namespace

// The logger takes over the process-wide message handler, so it has a test process of its own,
// working in a temporary directory.
class TestQtLog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void defaultNameIsTheStartTime();
    void fileNameForProgram_data();
    void fileNameForProgram();
    void levelIsNormalised_data();
    void levelIsNormalised();
    void emptyNameKeepsTheFile();
    void onlyWarningsAreWritten_data();
    void onlyWarningsAreWritten();
    void percentSignsAreKeptAsWritten();
    void unwritableFileIsIgnored();
    void threadsWriteWholeLines();
    void cleanupTestCase();

private:
    QString logPath(const QString &name) const { return m_dir.filePath(name); }

    QTemporaryDir m_dir;
};

void TestQtLog::initTestCase() { QVERIFY(TestSupport::enterDir(m_dir)); }

void TestQtLog::defaultNameIsTheStartTime()
{
    QVERIFY2(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.log$"))
                 .match(QT_LOG::m_LogFile)
                 .hasMatch(),
        qPrintable(QT_LOG::m_LogFile));
    QCOMPARE(QT_LOG::m_LogLevel, 1);
}

void TestQtLog::fileNameForProgram_data()
{
    QTest::addColumn<QString>("argv0");
    QTest::addColumn<QString>("name");

    QTest::newRow("no separator") << "gapclient"
                                  << "gapclient.log";
    QTest::newRow("absolute") << "/opt/app/gapclient"
                              << "gapclient.log";
    QTest::newRow("relative") << "./bin/gapclient"
                              << "gapclient.log";
    QTest::newRow(".exe in the middle") << "my.exe.tool"
                                        << "my.tool.log";
    QTest::newRow("every .exe") << "/x/a.exe.exe"
                                << "a.log";
    QTest::newRow("case-sensitive") << "tool.EXE"
                                    << "tool.EXE.log";
    QTest::newRow(".exe in a directory only") << "/a.exe/tool"
                                              << "tool.log";
}

void TestQtLog::fileNameForProgram()
{
    QFETCH(QString, argv0);
    QFETCH(QString, name);
    QCOMPARE(QT_LOG::logFileNameFor(argv0), name);
}

void TestQtLog::levelIsNormalised_data()
{
    QTest::addColumn<int>("level");
    QTest::addColumn<int>("used");

    QTest::newRow("0") << 0 << 0;
    QTest::newRow("1") << 1 << 1;
    QTest::newRow("3") << 3 << 3;
    QTest::newRow("4") << 4 << 1;
    QTest::newRow("negative") << -1 << 1;
}

void TestQtLog::levelIsNormalised()
{
    QFETCH(int, level);
    QFETCH(int, used);
    QT_LOG::logInit(logPath(QStringLiteral("level.log")), level);
    QCOMPARE(QT_LOG::m_LogLevel, used);
}

void TestQtLog::emptyNameKeepsTheFile()
{
    QT_LOG::logInit(logPath(QStringLiteral("kept.log")), 0);
    QT_LOG::logInit(QString(), 0);
    QCOMPARE(QT_LOG::m_LogFile, logPath(QStringLiteral("kept.log")));
}

void TestQtLog::onlyWarningsAreWritten_data()
{
    QTest::addColumn<int>("level");
    QTest::addColumn<bool>("written");

    QTest::newRow("level 0") << 0 << true;
    QTest::newRow("level 1") << 1 << true;
    QTest::newRow("level 2") << 2 << false;
    QTest::newRow("level 3") << 3 << false;
    QTest::newRow("level 4 becomes 1") << 4 << true;
}

void TestQtLog::onlyWarningsAreWritten()
{
    QFETCH(int, level);
    QFETCH(bool, written);

    const QString path = logPath(QStringLiteral("only-%1.log").arg(level));
    QT_LOG::logInit(path, level);
    qDebug() << "a debug line";
    qInfo() << "an info line";
    qCritical() << "a critical line";
    qWarning().noquote() << "文件名: a.txt 文件拒绝传输";
    qWarning("second warning");

    QCOMPARE(QFile::exists(path), written);
    if (written) {
        const QStringList lines = linesOf(path);
        QCOMPARE(lines.size(), 2);
        QCOMPARE(messageOf(lines[0]), QStringLiteral("文件名: a.txt 文件拒绝传输"));
        QCOMPARE(messageOf(lines[1]), QStringLiteral("second warning"));
    }
}

void TestQtLog::percentSignsAreKeptAsWritten()
{
    const QString path = logPath(QStringLiteral("percent.log"));
    QT_LOG::logInit(path, 0);
    qWarning("%s", "%1 and %2 of 100%");
    const QStringList lines = linesOf(path);
    QCOMPARE(lines.size(), 1);
    QCOMPARE(messageOf(lines[0]), QStringLiteral("%1 and %2 of 100%"));
}

void TestQtLog::unwritableFileIsIgnored()
{
    // A directory where the file should be: the line is lost and the program goes on.
    const QString path = logPath(QStringLiteral("taken"));
    QVERIFY(QDir().mkpath(path));
    QT_LOG::logInit(path, 0);
    qWarning("lost");
    QVERIFY(QFileInfo(path).isDir());
}

void TestQtLog::threadsWriteWholeLines()
{
    const QString path = logPath(QStringLiteral("threads.log"));
    QT_LOG::logInit(path, 0);
    constexpr int kLinesPerThread = 300;
    const QString padding(300, QLatin1Char('x'));

    auto writer = [&padding](const QString &name) {
        return QThread::create([name, &padding] {
            for (int i = 0; i < kLinesPerThread; ++i)
                qWarning().noquote() << QStringLiteral("%1 %2 %3").arg(name).arg(i).arg(padding);
        });
    };
    std::unique_ptr<QThread> first(writer(QStringLiteral("first")));
    std::unique_ptr<QThread> second(writer(QStringLiteral("second")));
    first->start();
    second->start();
    QVERIFY(first->wait(120000));
    QVERIFY(second->wait(120000));

    const QStringList lines = linesOf(path);
    QCOMPARE(lines.size(), 2 * kLinesPerThread);
    QHash<QString, int> next;
    for (const QString &line : lines) {
        const QStringList parts = messageOf(line).split(QLatin1Char(' '));
        QCOMPARE(parts.size(), 3);
        // Each thread's lines are whole and in its own order.
        QCOMPARE(parts[1].toInt(), next[parts[0]]++);
        QCOMPARE(parts[2], padding);
    }
    QCOMPARE(next.value(QStringLiteral("first")), kLinesPerThread);
    QCOMPARE(next.value(QStringLiteral("second")), kLinesPerThread);
}

void TestQtLog::cleanupTestCase() { qInstallMessageHandler(nullptr); }

QTEST_GUILESS_MAIN(TestQtLog)
#include "tst_qtlog.moc"
