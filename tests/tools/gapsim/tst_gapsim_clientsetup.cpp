// gapsim client-setup prepares a working directory that the real client reads as its own: the
// login window finds the remembered auto-login, and the import finds the user's rules with their
// directories, keys, users and levels. Options that would write something unusable are refused
// before anything is written.

#include "gap/GapInput.h"
#include "gap/LoginView.h"
#include "model/GlobalData.h"
#include "support/TestSupport.h"
#include "tools/gapsim/GapsimProcess.h"
#include "views/rules/ConfigurationFile.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <sys/stat.h>

namespace {

// alice sends on two paths (one key outside ASCII), bob receives on one and sends on none, erin
// has no path.
const char *const kConfig = "[gap]\nlisten = 127.0.0.1\nport = 0\n"
                            "[user.alice]\npassword = \"p;w=d\\\"x#[\"\nlevel = 1\n"
                            "[user.bob]\npassword = bob-pass\nlevel = 2\nfile_port = 15288\n"
                            "[user.carol]\npassword = carol-pass\nlevel = 3\n"
                            "[user.erin]\npassword = erin-pass\n"
                            "[user.longpassword]\npassword = 0123456789abcdefg\n"
                            "[path.报表-A2B]\nfrom = alice\nto = bob\n"
                            "[path.A2C]\nfrom = alice\nto = carol\nlevel = 7\n"
                            "[path.C2A]\nfrom = carol\nto = alice\n";

int fileMode(const QString &path)
{
    struct stat info {
    };
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 0777) : -1;
}

template <typename T> void clearRegistry(Registry<T> &registry)
{
    const QList<T *> records = registry.snapshot();
    registry.clear();
    qDeleteAll(records);
}

// A rule as "key to/from level dir", the directory relative to the test directory.
QString describeSend(const _SENDPATH_LISTDATA &rule, const QDir &base)
{
    return QStringLiteral("%1 %2 %3 %4")
        .arg(QString::fromUtf8(rule.SendPathID), QString::fromLatin1(rule.ToUser))
        .arg(rule.RecviverLevel.load())
        .arg(base.relativeFilePath(rule.SendPath));
}

QString describeRecv(const _RECVPATH_LISTDATA &rule, const QDir &base)
{
    return QStringLiteral("%1 %2 %3")
        .arg(QString::fromUtf8(rule.RecvPathID), QString::fromUtf8(rule.FromUser),
            base.relativeFilePath(rule.RecvPath));
}

} // namespace

class TestGapsimClientSetup : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void writesWhatTheClientReads_data();
    void writesWhatTheClientReads();
    void refusesWhatCannotWork_data();
    void refusesWhatCannotWork();

private:
    int runSetup(const QStringList &arguments);

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_configPath;
    QByteArray m_output;
    QByteArray m_errors;
};

void TestGapsimClientSetup::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(TestSupport::enterDir(*m_dir));
    m_configPath = m_dir->filePath(QStringLiteral("gap.ini"));
    QFile config(m_configPath);
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write(kConfig);
}

void TestGapsimClientSetup::cleanup()
{
    clearRegistry(g_SendPathList);
    clearRegistry(g_RecvPathList);
    clearRegistry(g_GapInfoList);
}

int TestGapsimClientSetup::runSetup(const QStringList &arguments)
{
    QProcess process;
    process.start(GapsimProcess::binary(QStringLiteral("gapsim")),
        QStringList { "client-setup", "--config", m_configPath } + arguments);
    if (!process.waitForFinished(30000))
        return -1;
    m_output = process.readAllStandardOutput();
    m_errors = process.readAllStandardError();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

void TestGapsimClientSetup::writesWhatTheClientReads_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("sendRules");
    QTest::addColumn<QStringList>("recvRules");

    // Several paths: a sub-directory per key. INI syntax in the password survives.
    QTest::newRow("sender of two paths")
        << "alice"
        << "p;w=d\"x#[" << QStringList { "--send-dir", "out", "--recv-dir", "in" }
        << QStringList { "报表-A2B bob 2 out/报表-A2B", "A2C carol 7 out/A2C" }
        << QStringList { "C2A carol in" };
    // One path: the directory itself; no --send-dir, no send rule.
    QTest::newRow("receiver of one path") << "bob"
                                          << "bob-pass" << QStringList { "--recv-dir", "in" }
                                          << QStringList {} << QStringList { "报表-A2B alice in" };
}

void TestGapsimClientSetup::writesWhatTheClientReads()
{
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, sendRules);
    QFETCH(QStringList, recvRules);

    const QDir base(m_dir->path());
    const QString clientDir = base.filePath(QStringLiteral("client"));
    QCOMPARE(runSetup(QStringList { "--user", user, "--dir", "client" } + arguments), 0);
    QVERIFY2(m_errors.isEmpty(), m_errors.constData());
    QCOMPARE(m_output.count("\n"), 1 + sendRules.size() + recvRules.size());
    QVERIFY(m_output.startsWith("client-setup user=" + user.toLatin1() + " gap=127.0.0.1 "));

    // The login window, started in that directory, finds the auto-login.
    QVERIFY(QDir::setCurrent(clientDir));
    QCOMPARE(fileMode(QStringLiteral("config/login.conf")), 0600);
    {
        LoginView view;
        QCOMPARE(view.findChild<QLineEdit *>(QStringLiteral("ipEdit"))->text(), "127.0.0.1");
        QCOMPARE(view.findChild<QLineEdit *>(QStringLiteral("userEdit"))->text(), user);
        QCOMPARE(view.findChild<QLineEdit *>(QStringLiteral("pswdEdit"))->text(), password);
        QVERIFY(view.findChild<QCheckBox *>(QStringLiteral("keeppaswd"))->isChecked());
        QVERIFY(view.findChild<QCheckBox *>(QStringLiteral("autologin"))->isChecked());
    }

    // After that login, the import adds every rule, refusing none.
    auto *gap = new _VKGAPIP_CONF;
    GapInput::fillGapRecord(gap, QStringLiteral("127.0.0.1"), user, password);
    g_GapInfoList.append(gap);
    TestSupport::PromptRecorder prompts;
    QVERIFY(ConfigurationFile::reStoreConf(
        QStringLiteral("import.vkg"), ConfigurationFile::Unattended));
    QVERIFY2(prompts.texts().isEmpty(), qPrintable(prompts.texts().join(QLatin1Char('|'))));
    QCOMPARE(g_GapInfoList.size(), 1);
    QCOMPARE(fileMode(QStringLiteral("import.vkg")), 0600);
    QStringList sends;
    for (const _SENDPATH_LISTDATA *rule : g_SendPathList.snapshot()) {
        sends << describeSend(*rule, base);
        QCOMPARE(QByteArray(rule->FromUser), user.toLatin1());
        QCOMPARE(rule->gapConf, gap);
    }
    // In the configuration's order, which is not the test's concern.
    sends.sort();
    sendRules.sort();
    QCOMPARE(sends, sendRules);
    QStringList recvs;
    for (const _RECVPATH_LISTDATA *rule : g_RecvPathList.snapshot())
        recvs << describeRecv(*rule, base);
    QCOMPARE(recvs, recvRules);
}

void TestGapsimClientSetup::refusesWhatCannotWork_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");

    QTest::newRow("unknown user") << QStringList { "--user", "dave", "--dir", "client" }
                                  << "no user dave";
    QTest::newRow("no directory") << QStringList { "--user", "bob" } << "--dir is required";
    QTest::newRow("send directory of a user who sends nothing") << QStringList { "--user", "bob",
        "--dir", "client", "--send-dir", "out" } << "user bob sends on no path";
    QTest::newRow("receive directory of a user who receives nothing") << QStringList { "--user",
        "erin", "--dir", "client", "--recv-dir", "in" } << "user erin receives on no path";
    QTest::newRow("password the login window cuts")
        << QStringList { "--user", "longpassword", "--dir", "client" } << "at most 16 characters";
    QTest::newRow("gap address that is a host name") << QStringList { "--user", "bob", "--dir",
        "client", "--gap-address", "localhost" } << "--gap-address localhost";
}

void TestGapsimClientSetup::refusesWhatCannotWork()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);

    QCOMPARE(runSetup(arguments), 2);
    QVERIFY2(QString::fromUtf8(m_errors).contains(message), m_errors.constData());
    QVERIFY(m_output.isEmpty());
    QVERIFY(!QFileInfo::exists(m_dir->filePath(QStringLiteral("client"))));
}

QTEST_MAIN(TestGapsimClientSetup)
#include "tst_gapsim_clientsetup.moc"
