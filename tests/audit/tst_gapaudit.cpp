#include "AuditTestSupport.h"
#include "audit/CsvWriter.h"
#include "model/AuditLog.h"

#include <QBuffer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct FixtureEvent {
    const char *timeUtc;
    const char *timeLocal;
    const char *gap; // null: written outside a triple
    const char *category;
    const char *user;
    const char *operation;
    int outcome;
    const char *detail;
};

constexpr int kPid = 4242;
constexpr int kThread = 4243;

// Written in this order, so event n has id n.
const FixtureEvent kEvents[] = {
    { "2026-03-01T09:00:00.000Z", "2026-03-01T17:00:00.000+08:00", "10.0.0.1", "CLIENT_LOGIN",
        "张三", "登录", 1, "'10.0.0.5','登录成功'" },
    { "2026-03-01T23:30:00.000Z", "2026-03-02T07:30:00.000+08:00", "10.0.0.1", "CLIENT_SEND",
        "张三", "发送", 0, "'10.0.0.5', 'a,b \"c\".txt', '李四', '文件类型被禁止'" },
    { "2026-03-02T08:15:00.500Z", "2026-03-02T16:15:00.500+08:00", "10.0.0.2", "CLIENT_RECV",
        "李四", "接收文件", 1, "'10.0.0.6', 'x\ny\t\x01.txt', '张三', '接收成功'" },
    { "2026-03-03T12:00:00.000Z", "2026-03-03T20:00:00.000+08:00", "10.0.0.1", "CLIENT_LOGIN",
        "张三", "登出", 1, "'10.0.0.5','客户端退出'" },
    { "2026-03-04T00:00:00.000Z", "2026-03-04T08:00:00.000+08:00", nullptr, "CLIENT_LOGIN", "王五",
        "登录", 0, "'10.0.0.7','密码错误'" },
};

// For a spreadsheet: a byte-order mark, Chinese headers, times of the zone (UTC here), the
// outcome in words, the detail in its fields, controls as escapes.
const char kExpectedCsv[] = "\xEF\xBB\xBF"
                            "编号,时间,网闸,类别,用户,结果,本机地址,文件,对方用户,说明\r\n"
                            "1,2026-03-01 09:00:00,10.0.0.1,登录,张三,成功,10.0.0.5,,,登录成功\r\n"
                            "2,2026-03-01 23:30:00,10.0.0.1,发送,张三,失败,10.0.0.5,"
                            "\"a,b \"\"c\"\".txt\",李四,文件类型被禁止\r\n"
                            "3,2026-03-02 08:15:00,10.0.0.2,接收,李四,成功,10.0.0.6,"
                            "x\\ny\\t\\x01.txt,张三,接收成功\r\n"
                            "4,2026-03-03 12:00:00,10.0.0.1,退出,张三,成功,10.0.0.5,,,客户端退出\r\n"
                            "5,2026-03-04 00:00:00,,登录,王五,失败,10.0.0.7,,,密码错误\r\n";

bool hasControlBytesBesidesLineEnds(const QByteArray &text)
{
    return std::any_of(text.begin(), text.end(),
        [](char c) { return static_cast<unsigned char>(c) < 0x20 && c != '\n' && c != '\r'; });
}

} // namespace

// The auditors' tool over a small fixture written through the real library.
class TestGapAudit : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_db = m_dir.filePath("fixture.db");
        qputenv("VARKO_DLOG_LIBRARY", AuditTestSupport::builtFile("libdlog.so").toLocal8Bit());
        qputenv("DLOG_DB", m_db.toLocal8Bit());
        QVERIFY(AuditLog::available());
        for (const FixtureEvent &e : kEvents) {
            if (e.gap)
                AuditLog::record(e.gap, e.category, e.user, e.operation, e.outcome, e.detail);
            else
                AuditLog::dlog(e.category, e.user, e.operation, e.outcome, e.detail);
        }
        // Fixed times and process ids, so that the outputs are known to the byte.
        int id = 0;
        for (const FixtureEvent &e : kEvents) {
            const QByteArray sql = QByteArray("UPDATE events SET time_utc = '") + e.timeUtc
                + "', time_local = '" + e.timeLocal + "', pid = " + QByteArray::number(kPid)
                + ", thread = " + QByteArray::number(kThread)
                + " WHERE id = " + QByteArray::number(++id);
            AUDIT_QUERY(updated, m_db, sql);
        }
    }

    void csvQuotesWhatNeedsIt()
    {
        const QByteArray out = run({ "--format", "csv" });
        QCOMPARE(out, QByteArray(kExpectedCsv));
    }

    // A name from the far side that a spreadsheet would run as a formula is written as text.
    void csvDefusesFormulas()
    {
        AuditEvent event;
        event.category = "CLIENT_RECV";
        event.operation = "接收文件";
        event.detail = "'10.0.0.6', '=HYPERLINK(\"http://x\")', '@bob', '-1+1'";
        QBuffer out;
        QVERIFY(out.open(QIODevice::WriteOnly));
        CsvWriter writer(&out);
        writer.write(event);
        QCOMPARE(out.data(),
            QByteArray("0,,,接收,,失败,10.0.0.6,\"'=HYPERLINK(\"\"http://x\"\")\",'@bob,'-1+1\r\n"));
    }

    void jsonHoldsEveryFieldAndEscapesControls()
    {
        const QByteArray out = run({ "--format", "json" });
        QVERIFY(!hasControlBytesBesidesLineEnds(out));
        QVERIFY(out.contains("\"user\": \"张三\""));
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(out, &error);
        QCOMPARE(error.error, QJsonParseError::NoError);
        const QJsonArray events = document.array();
        QCOMPARE(events.size(), int(std::size(kEvents)));
        for (int i = 0; i < events.size(); ++i) {
            const FixtureEvent &e = kEvents[i];
            const QJsonObject expected {
                { "id", i + 1 },
                { "time_utc", e.timeUtc },
                { "time_local", e.timeLocal },
                { "gap", e.gap ? QJsonValue(QString::fromUtf8(e.gap)) : QJsonValue() },
                { "category", e.category },
                { "user", QString::fromUtf8(e.user) },
                { "operation", QString::fromUtf8(e.operation) },
                { "outcome", e.outcome },
                { "detail", QString::fromUtf8(e.detail) },
                { "pid", kPid },
                { "thread", kThread },
            };
            QCOMPARE(events[i].toObject(), expected);
        }
    }

    void tableShowsControlsAsEscapes()
    {
        const QByteArray out = run({});
        QVERIFY(!hasControlBytesBesidesLineEnds(out));
        const QList<QByteArray> lines = out.trimmed().split('\n');
        QCOMPARE(lines.size(), 1 + int(std::size(kEvents)));
        QVERIFY(lines[0].startsWith("time"));
        QVERIFY2(lines[3].contains("'x\\ny\\t\\x01.txt'"), lines[3]);
        // The outcome in the client's words.
        QVERIFY2(lines[1].contains("成功") && lines[2].contains("失败"), lines[2]);
    }

    void filters_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QList<int>>("ids");

        const QByteArray utc = "UTC";
        QTest::newRow("category") << QStringList { "--category", "CLIENT_LOGIN" } << utc
                                  << QList<int> { 1, 4, 5 };
        QTest::newRow("user in Chinese")
            << QStringList { "--user", "李四" } << utc << QList<int> { 3 };
        QTest::newRow("gap") << QStringList { "--gap", "10.0.0.2" } << utc << QList<int> { 3 };
        QTest::newRow("failures") << QStringList { "--outcome", "failure" } << utc
                                  << QList<int> { 2, 5 };
        QTest::newRow("failed for good, in the client's word")
            << QStringList { "--outcome", "失败" } << utc << QList<int> { 2, 5 };
        QTest::newRow("refused: none") << QStringList { "--outcome", "refused" } << utc
                                       << QList<int> {};
        QTest::newRow("successes as 1")
            << QStringList { "--outcome", "1" } << utc << QList<int> { 1, 3, 4 };
        QTest::newRow("since a date")
            << QStringList { "--since", "2026-03-02" } << utc << QList<int> { 3, 4, 5 };
        QTest::newRow("until a date takes its whole day")
            << QStringList { "--until", "2026-03-01" } << utc << QList<int> { 1, 2 };
        QTest::newRow("range to the millisecond") << QStringList { "--since", "2026-03-01 10:00:00",
            "--until", "2026-03-02T08:15:00.500" } << utc
                                                  << QList<int> { 2, 3 };
        QTest::newRow("time with an offset")
            << QStringList { "--until", "2026-03-02T16:15:00+08:00" } << utc << QList<int> { 1, 2 };
        QTest::newRow("local day east of UTC")
            << QStringList { "--until", "2026-03-01" } << QByteArray("UTC-8") << QList<int> { 1 };
        QTest::newRow("combined") << QStringList { "--category", "CLIENT_LOGIN", "--user", "张三",
            "--since", "2026-03-02" }
                                  << utc << QList<int> { 4 };
        QTest::newRow("kind: logins")
            << QStringList { "--kind", "login" } << utc << QList<int> { 1, 5 };
        QTest::newRow("kind: logouts")
            << QStringList { "--kind", "logout" } << utc << QList<int> { 4 };
        QTest::newRow("kind: receives")
            << QStringList { "--kind", "receive" } << utc << QList<int> { 3 };
        QTest::newRow("search in either case")
            << QStringList { "--search", "A,B \"C" } << utc << QList<int> { 2 };
        QTest::newRow("search in Chinese")
            << QStringList { "--search", "退出" } << utc << QList<int> { 4 };
        QTest::newRow("search takes wildcards literally")
            << QStringList { "--search", "_" } << utc << QList<int> {};
        QTest::newRow("nothing matches")
            << QStringList { "--user", "nobody" } << utc << QList<int> {};
    }

    void filters()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, zone);
        QFETCH(QList<int>, ids);

        const QByteArray out = run(arguments + QStringList { "--format", "json" }, zone);
        QList<int> listed;
        for (const QJsonValue event : QJsonDocument::fromJson(out).array())
            listed.append(event.toObject().value("id").toInt());
        QCOMPARE(listed, ids);
    }

    void errors_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");

        QTest::newRow("missing database")
            << QStringList { "--db", "DIR/none.db" } << 1 << "no audit database at DIR/none.db";
        QTest::newRow("not an audit database")
            << QStringList { "--db", "DIR/notes.txt" } << 1 << "cannot read events";
        QTest::newRow("unknown format")
            << QStringList { "--format", "xml" } << 2 << "unknown format";
        QTest::newRow("unknown outcome")
            << QStringList { "--outcome", "maybe" } << 2 << "--outcome";
        QTest::newRow("unknown option")
            << QStringList { "--bogus" } << 2 << "Unknown option 'bogus'";
        QTest::newRow("unknown kind") << QStringList { "--kind", "upload" } << 2 << "--kind";
        QTest::newRow("impossible date")
            << QStringList { "--since", "2026-02-30" } << 2 << "--since";
    }

    void errors()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, message);

        QFile notes(m_dir.filePath("notes.txt"));
        QVERIFY(notes.open(QIODevice::WriteOnly));
        notes.write("not a database, just words long enough to fill a header page.\n");
        notes.close();
        arguments.replaceInStrings("DIR", m_dir.path());

        QProcess tool;
        tool.start(AuditTestSupport::builtFile("gapaudit"), arguments);
        QVERIFY(tool.waitForFinished(120000));
        QCOMPARE(tool.exitCode(), exitCode);
        const QString errors = QString::fromUtf8(tool.readAllStandardError());
        QVERIFY2(errors.contains(message.replace("DIR", m_dir.path())), qPrintable(errors));
        QVERIFY(!QFile::exists(m_dir.filePath("none.db")));
    }

private:
    QByteArray run(const QStringList &arguments, const QByteArray &zone = "UTC")
    {
        return AuditTestSupport::gapaudit(m_db, arguments, zone);
    }

    QTemporaryDir m_dir;
    QString m_db;
};

QTEST_GUILESS_MAIN(TestGapAudit)
#include "tst_gapaudit.moc"
