#include "bench/ClientSite.h"

#include "bench/ScriptedSender.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

namespace {

constexpr int kLoginWaitMs = 60000;
constexpr int kStopWaitMs = 10000;
constexpr int kProbeRetryMs = 200;
constexpr int kPollMs = 20;
const char *const kRulesFile = "import.vkg";

// The example's policy, so that the gap scans every byte as a real one does.
const char *const kConfig = "[user.alice]\npassword = alice-pass\nlevel = 1\n"
                            "address = 127.0.0.1\nfile_port = %1\nconf_port = %2\n"
                            "[user.bob]\npassword = bob-pass\nlevel = 2\n"
                            "address = 127.0.0.1\nfile_port = %3\nconf_port = %4\n"
                            "[path.ALICE-TO-BOB]\nfrom = alice\nto = bob\n"
                            "[policy]\nrefused_suffixes = exe\nkeywords = TOPSECRET\n"
                            "virus_signature = X5O-GAPSIM-TEST-VIRUS-SIGNATURE\n";

quint16 freePortBut(const QList<quint16> &taken)
{
    quint16 port = TestSupport::pickFreePort();
    while (taken.contains(port))
        port = TestSupport::pickFreePort();
    return port;
}

void stopProcess(QProcess *process)
{
    if (!process || process->state() == QProcess::NotRunning)
        return;
    process->terminate();
    if (!process->waitForFinished(kStopWaitMs)) {
        process->kill();
        process->waitForFinished(kStopWaitMs);
    }
}

} // namespace

ClientSite::ClientSite(const QString &directory)
    : m_directory(directory)
    , m_gapsim(directory)
{
}

ClientSite::~ClientSite()
{
    stopProcess(m_alice.get());
    stopProcess(m_bob.get());
    m_gapsim.stop();
}

QString ClientSite::clientDir(const QString &user) const { return m_directory + '/' + user; }

QString ClientSite::sendDir() const { return clientDir(QStringLiteral("alice")) + "/send"; }

QString ClientSite::recvDir() const { return clientDir(QStringLiteral("bob")) + "/recv"; }

qint64 ClientSite::gapsimPid() const { return m_gapsim.processId(); }

bool ClientSite::start(bool withSender)
{
    // The programs it drives are those built beside the benchmark unless GAP_BIN_DIR names others.
    if (qEnvironmentVariableIsEmpty("GAP_BIN_DIR"))
        qputenv("GAP_BIN_DIR", QCoreApplication::applicationDirPath().toLocal8Bit());
    QList<quint16> taken;
    for (quint16 *port :
        { &m_alicePorts.file, &m_alicePorts.conf, &m_bobPorts.file, &m_bobPorts.conf }) {
        *port = freePortBut(taken);
        taken << *port;
    }
    const QString config = QString::fromLatin1(kConfig)
                               .arg(m_alicePorts.file)
                               .arg(m_alicePorts.conf)
                               .arg(m_bobPorts.file)
                               .arg(m_bobPorts.conf);
    if (!m_gapsim.start(config)) {
        m_error = QStringLiteral("gapsim did not start");
        return false;
    }
    if (!prepareClient(QStringLiteral("bob"), QStringLiteral("--recv-dir"), recvDir())
        || !startClient(QStringLiteral("bob"), {}, m_bob) || !bobAcceptsFiles())
        return false;
    return !withSender
        || (prepareClient(QStringLiteral("alice"), QStringLiteral("--send-dir"), sendDir())
            && startClient(QStringLiteral("alice"), { QStringLiteral("--send") }, m_alice));
}

bool ClientSite::prepareClient(const QString &user, const QString &dirOption, const QString &dir)
{
    QProcess setup;
    setup.start(GapsimProcess::binary(QStringLiteral("gapsim")),
        { "client-setup", "--config", m_directory + "/gapsim.ini", "--user", user, "--dir",
            clientDir(user), dirOption, dir });
    if (setup.waitForFinished(kLoginWaitMs) && setup.exitStatus() == QProcess::NormalExit
        && setup.exitCode() == 0)
        return true;
    m_error = QStringLiteral("client-setup for %1 failed: %2")
                  .arg(user, QString::fromUtf8(setup.readAllStandardError()));
    return false;
}

bool ClientSite::startClient(
    const QString &user, const QStringList &arguments, std::unique_ptr<QProcess> &process)
{
    const Ports &ports = user == QLatin1String("alice") ? m_alicePorts : m_bobPorts;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("VARKO_GAP_PORT"), QString::number(gapPort()));
    environment.insert(QStringLiteral("VARKO_FILE_PORT"), QString::number(ports.file));
    environment.insert(QStringLiteral("VARKO_CONF_PORT"), QString::number(ports.conf));
    environment.remove(QStringLiteral("DLOG_DB"));
    process = std::make_unique<QProcess>();
    process->setProcessEnvironment(environment);
    process->setWorkingDirectory(clientDir(user));
    process->setStandardOutputFile(clientDir(user) + "/client.out");
    process->setStandardErrorFile(clientDir(user) + "/client.out", QIODevice::Append);
    process->start(GapsimProcess::binary(QStringLiteral("gapclient")),
        QStringList { "--import", kRulesFile } + arguments);
    // The keys exchange ends the login; the main window and the import follow at once.
    if (!m_gapsim.waitForEvent(QStringLiteral("^keys user=%1 ").arg(user), kLoginWaitMs).isEmpty())
        return true;
    m_error = QStringLiteral("%1's client did not log in; see %2").arg(user, clientDir(user));
    return false;
}

bool ClientSite::bobAcceptsFiles()
{
    // A file is refused until bob's rules are imported; a probe tells when they are.
    const PatternFile probe = PatternFile::make("probe.bin", 1000, 0);
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < kLoginWaitMs) {
        QString error;
        if (ScriptedSender::send(gapPort(), probe, &error) == ScriptedSender::kConfirmed)
            return QFile::remove(recvDir() + "/probe.bin");
        waitUntil([] { return false; }, kProbeRetryMs);
    }
    m_error = QStringLiteral("bob's client accepts no file; see %1").arg(clientDir("bob"));
    return false;
}

bool ClientSite::waitUntil(const std::function<bool()> &done, qint64 timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (timeoutMs >= 0 && clock.elapsed() > timeoutMs)
            return false;
        m_gapsim.events();
        QThread::msleep(kPollMs);
    }
    return true;
}

void ClientSite::runAside(const std::function<void()> &work)
{
    const std::unique_ptr<QThread> thread(QThread::create(work));
    thread->start();
    waitUntil([&thread] { return thread->isFinished(); }, -1);
    thread->wait();
}

QStringList ClientSite::filesUnder(const QString &directory)
{
    QStringList files;
    QDirIterator it(
        directory, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(directory).relativeFilePath(it.next());
    return files;
}
