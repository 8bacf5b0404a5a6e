#include "AuditTestSupport.h"
#include "model/AuditLog.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <cstdio>

namespace {

constexpr const char *kChildOption = "--write-events";
constexpr int kChildEvents = 3;

// Child side: a fresh process, so that the library is looked up for the first time. Prints every
// warning the loader gives and whether audit is on.
int writeEvents(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &text) {
        if (type == QtWarningMsg)
            std::printf("warning: %s\n", qPrintable(text));
    });
    for (int i = 0; i < kChildEvents; ++i)
        AuditLog::record("10.0.0.1", "CLIENT_LOGIN", "张三", "登录", 1, "'10.0.0.5','登录成功'");
    std::printf("available: %d\n", AuditLog::available());
    return 0;
}

} // namespace

// How the client finds the library, and that nothing goes wrong when it cannot, or when the
// library cannot store.
class TestAuditLoader : public QObject
{
    Q_OBJECT
private slots:
    void loadsOrGoesOnWithoutAudit_data()
    {
        QTest::addColumn<QString>("library"); // VARKO_DLOG_LIBRARY; empty: not set
        QTest::addColumn<QString>("database"); // DLOG_DB below the work dir; empty: not set
        QTest::addColumn<bool>("available");
        QTest::addColumn<QString>("warning"); // the one warning expected; empty: none
        QTest::addColumn<int>("dropReports"); // lines the library writes on stderr
        QTest::addColumn<QString>("storedIn"); // database expected to hold the events

        const QString built = AuditTestSupport::builtFile("libdlog.so");
        QTest::newRow("default: beside the program, audit.db here")
            << QString() << QString() << true << QString() << 0 << "audit.db";
        QTest::newRow("chosen library and database")
            << built << "events.db" << true << QString() << 0 << "events.db";
        QTest::newRow("library missing") << "/nonexistent/libdlog.so" << QString() << false
                                         << "audit log is off:" << 0 << QString();
        QTest::newRow("library without the functions")
            << "libc.so.6" << QString() << false << "lacks dlog_init, dlog or dlog_destroy" << 0
            << QString();
        QTest::newRow("database cannot be created")
            << built << "no-such-dir/audit.db" << true << QString() << 1 << QString();
    }

    void loadsOrGoesOnWithoutAudit()
    {
        QFETCH(QString, library);
        QFETCH(QString, database);
        QFETCH(bool, available);
        QFETCH(QString, warning);
        QFETCH(int, dropReports);
        QFETCH(QString, storedIn);

        QTemporaryDir work;
        QVERIFY(work.isValid());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("VARKO_DLOG_LIBRARY");
        env.remove("DLOG_DB");
        if (!library.isEmpty())
            env.insert("VARKO_DLOG_LIBRARY", library);
        if (!database.isEmpty())
            env.insert("DLOG_DB", work.filePath(database));
        QProcess child;
        child.setProcessEnvironment(env);
        child.setWorkingDirectory(work.path());
        child.start(QCoreApplication::applicationFilePath(), { kChildOption });
        QVERIFY(child.waitForFinished(120000));
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 0);

        const QStringList out = QString::fromUtf8(child.readAllStandardOutput()).split('\n');
        const QStringList warnings = out.filter(QRegularExpression("^warning: "));
        QCOMPARE(warnings.size(), warning.isEmpty() ? 0 : 1);
        if (!warning.isEmpty()) {
            QVERIFY2(warnings.first().contains(warning), qPrintable(warnings.first()));
            QVERIFY2(warnings.first().contains(library), qPrintable(warnings.first()));
        }
        QVERIFY(out.contains(QStringLiteral("available: %1").arg(int(available))));

        const QString errors = QString::fromUtf8(child.readAllStandardError());
        QCOMPARE(errors.count(QStringLiteral("dlog: audit events are being dropped")), dropReports);

        const QStringList files = QDir(work.path()).entryList({ "*.db" }, QDir::Files);
        QCOMPARE(files, storedIn.isEmpty() ? QStringList() : QStringList(storedIn));
        if (!storedIn.isEmpty()) {
            AUDIT_QUERY(rows, work.filePath(storedIn), "SELECT count(*) FROM events");
            QCOMPARE(rows.value(0).value(0), QByteArray::number(kChildEvents));
        }
    }
};

int main(int argc, char *argv[])
{
    if (argc > 1 && qstrcmp(argv[1], kChildOption) == 0)
        return writeEvents(argc, argv);
    QCoreApplication app(argc, argv);
    TestAuditLoader test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_auditloader.moc"
