#include "app/MainWindow.h"
#include "audit/AuditTestSupport.h"
#include "gap/SocketTools.h"
#include "model/GlobalData.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const char *const kSimulatorConfig = "[gap]\n"
                                     "listen=127.0.0.1\n"
                                     "port=0\n"
                                     "[user.alice]\n"
                                     "password=alice-pass\n"
                                     "[path.exit-rule]\n"
                                     "from=alice\n"
                                     "to=alice\n";

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

// Quitting logs the first gap out and records the exit, against the simulated gap and the real
// audit library.
class TestProgramExit : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(TestSupport::enterDir(m_workDir));
        TestSupport::useFreeListenerPorts();

        const QString simulator = AuditTestSupport::builtFile("gapsim");
        if (!QFile::exists(simulator) || !QFile::exists(AuditTestSupport::builtFile("libdlog.so")))
            QSKIP("gapsim and libdlog.so are built beside the tests");
        QFile config(m_workDir.filePath("gap.ini"));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write(kSimulatorConfig);
        config.close();
        m_simulator.start(simulator, { "--config", config.fileName(), "--log", eventLogPath() });
        QVERIFY(m_simulator.waitForStarted(10000));
        // The simulator picks its port and names it in its first event.
        const QRegularExpression listening(QStringLiteral("listening .*port=(\\d+)"));
        QTRY_VERIFY_WITH_TIMEOUT(
            listening.match(QString::fromUtf8(readAll(eventLogPath()))).hasMatch(), 20000);
        const QString port
            = listening.match(QString::fromUtf8(readAll(eventLogPath()))).captured(1);
        qputenv("VARKO_GAP_PORT", port.toLatin1());
    }

    void cleanupTestCase()
    {
        if (m_simulator.state() != QProcess::NotRunning) {
            m_simulator.terminate();
            if (!m_simulator.waitForFinished(10000))
                m_simulator.kill();
        }
        const QList<_VKGAPIP_CONF *> gaps = g_GapInfoList.snapshot();
        g_GapInfoList.clear();
        qDeleteAll(gaps);
    }

    void exitLogsOutAndRecordsIt()
    {
        auto *gap = new _VKGAPIP_CONF;
        copyToField(gap->HostIP, kHostIPSize, "127.0.0.1");
        copyToField(gap->LoginUserName, kUserNameSize, "alice");
        copyToField(gap->LoginPswd, kUserNameSize, "alice-pass");
        gap->hostIPStr = QStringLiteral("127.0.0.1");
        QCOMPARE(SocketTools().connectToGapHost(gap), 0);
        g_GapInfoList.append(gap);
        const QByteArray localAddress = gap->localIP.toLatin1();
        QVERIFY(!localAddress.isEmpty());

        TestSupport::PromptRecorder prompts(PromptRequest::Yes);
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.onWindowClose();

        QCOMPARE(prompts.texts(), QStringList { QStringLiteral("确认关闭?") });
        QVERIFY(!window.isVisible());
        const QRegularExpression logout(
            QStringLiteral("^logout .*user=alice"), QRegularExpression::MultilineOption);
        QTRY_VERIFY_WITH_TIMEOUT(
            logout.match(QString::fromUtf8(readAll(eventLogPath()))).hasMatch(), 20000);

        AUDIT_QUERY(rows, m_workDir.filePath("audit.db"),
            "SELECT gap, category, user, operation, outcome, detail FROM events");
        QCOMPARE(rows.size(), 1);
        const AuditTestSupport::Row expected = { "127.0.0.1", "CLIENT_LOGIN", "alice", "登出", "1",
            "'" + localAddress + "','" + QByteArray("客户端退出") + "'" };
        QCOMPARE(rows.first(), expected);
    }

private:
    QString eventLogPath() const { return m_workDir.filePath("gapsim-events.log"); }

    QTemporaryDir m_workDir;
    QProcess m_simulator;
};

QTEST_MAIN(TestProgramExit)
#include "tst_programexit.moc"
