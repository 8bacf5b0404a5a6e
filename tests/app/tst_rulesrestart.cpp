// The real client, started twice in one working directory: the rules the first run was given
// come back in the second without being imported again, and files go through them.

#include "model/BaseFunction.h"
#include "model/GlobalData.h"
#include "support/TestSupport.h"
#include "tools/gapsim/GapsimProcess.h"

#include <QDir>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

namespace {

constexpr int kStartWaitMs = 60000;
constexpr int kDeliveryWaitMs = 90000;
const QByteArray kContent = QByteArray("remembered across restarts\n").repeated(5000);

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The login the login window keeps when "记住密码" and "自动登录" are ticked.
void rememberLogin(const QString &clientDir)
{
    char password[BaseFunction::kCodecBufferSize];
    copyToField(password, sizeof password, "alice-pass");
    QSettings login(clientDir + QStringLiteral("/config/login.conf"), QSettings::IniFormat);
    login.beginGroup(QStringLiteral("config"));
    login.setValue(QStringLiteral("ip"), QStringLiteral("127.0.0.1"));
    login.setValue(QStringLiteral("username"), QStringLiteral("alice"));
    login.setValue(
        QStringLiteral("password"), QString::fromLatin1(BaseFunction::crypPasswd(password)));
    login.setValue(QStringLiteral("isrember"), QStringLiteral("true"));
    login.setValue(QStringLiteral("isauto"), QStringLiteral("true"));
}

// A configuration file with one send and one receive rule on the path, as "保存配置" writes it.
void writeSeed(const QString &path, const QString &sendDir, const QString &recvDir)
{
    QSettings seed(path, QSettings::IniFormat);
    seed.setValue(QStringLiteral("VKGAPINFO/GapIPCount"), 0);
    seed.beginGroup(QStringLiteral("SENDINFO"));
    seed.setValue(QStringLiteral("SendInfoNum"), 1);
    seed.setValue(QStringLiteral("SendPath_0"), sendDir);
    seed.setValue(QStringLiteral("SendPathID_0"), QStringLiteral("KEEP"));
    seed.setValue(QStringLiteral("SendPathGapIP_0"), QStringLiteral("127.0.0.1"));
    seed.setValue(QStringLiteral("ToUser_0"), QStringLiteral("alice"));
    seed.setValue(QStringLiteral("RecviverLevel_0"), 1);
    seed.setValue(QStringLiteral("FromUser_0"), QStringLiteral("alice"));
    seed.endGroup();
    seed.beginGroup(QStringLiteral("RECVINO"));
    seed.setValue(QStringLiteral("RecvInfoNum"), 1);
    seed.setValue(QStringLiteral("RecvPath_0"), recvDir);
    seed.setValue(QStringLiteral("RecvPathID_0"), QStringLiteral("KEEP"));
    seed.setValue(QStringLiteral("RecvPathGapIP_0"), QStringLiteral("127.0.0.1"));
    seed.setValue(QStringLiteral("FromUser_0"), QStringLiteral("alice"));
    seed.endGroup();
}

// One run of the client in its working directory, ended by SIGTERM like a crash or a shutdown.
class ClientRun
{
public:
    ClientRun(const QString &dir, const QProcessEnvironment &environment, const QStringList &args)
    {
        m_process.setWorkingDirectory(dir);
        m_process.setProcessEnvironment(environment);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(GapsimProcess::binary(QStringLiteral("gapclient")), args);
    }
    ~ClientRun()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(10000))
            m_process.kill();
        m_process.waitForFinished();
    }
    ClientRun(const ClientRun &) = delete;
    ClientRun &operator=(const ClientRun &) = delete;

    bool started() { return m_process.waitForStarted(); }

private:
    QProcess m_process;
};

} // namespace

class TestRulesRestart : public QObject
{
    Q_OBJECT

private slots:
    void restartBringsBackTheSameRules()
    {
        QTemporaryDir work;
        QVERIFY(work.isValid());
        const QString clientDir = work.filePath(QStringLiteral("client"));
        const QString sendDir = work.filePath(QStringLiteral("发送"));
        const QString recvDir = work.filePath(QStringLiteral("接收"));
        for (const QString &dir : { clientDir + QStringLiteral("/config"), sendDir, recvDir })
            QVERIFY(QDir().mkpath(dir));

        const quint16 filePort = TestSupport::pickFreePort();
        quint16 confPort = TestSupport::pickFreePort();
        while (confPort == filePort)
            confPort = TestSupport::pickFreePort();
        GapsimProcess gapsim(work.path());
        QVERIFY(
            gapsim.start(QStringLiteral("[user.alice]\npassword = alice-pass\nlevel = 1\n"
                                        "file_port = %1\n[path.KEEP]\nfrom = alice\nto = alice\n")
                             .arg(filePort)));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("VARKO_GAP_PORT"), QString::number(gapsim.port()));
        environment.insert(QStringLiteral("VARKO_FILE_PORT"), QString::number(filePort));
        environment.insert(QStringLiteral("VARKO_CONF_PORT"), QString::number(confPort));
        rememberLogin(clientDir);
        writeSeed(clientDir + QStringLiteral("/seed.vkg"), sendDir, recvDir);
        const QString remembered = clientDir + QStringLiteral("/config/rules.vkg");

        QByteArray firstRules;
        {
            ClientRun first(clientDir, environment, { "--import", "seed.vkg" });
            QVERIFY(first.started());
            QTRY_VERIFY_WITH_TIMEOUT(readFile(remembered).contains("RecvInfoNum=1"), kStartWaitMs);
            firstRules = readFile(remembered);
            QVERIFY(firstRules.contains("SendInfoNum=1"));
        }

        // Neither an import nor a click: the second run has only what it remembered.
        QVERIFY(writeFile(sendDir + QStringLiteral("/报告.txt"), kContent));
        ClientRun second(clientDir, environment, { "--send" });
        QVERIFY(second.started());
        QTRY_COMPARE_WITH_TIMEOUT(
            readFile(recvDir + QStringLiteral("/报告.txt")), kContent, kDeliveryWaitMs);
        QCOMPARE(readFile(remembered), firstRules);
        QCOMPARE(QFile::permissions(remembered),
            QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser
                | QFileDevice::WriteUser);
        QVERIFY(!gapsim.waitForEvent(QStringLiteral("result=delivered"), 0).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestRulesRestart)
#include "tst_rulesrestart.moc"
