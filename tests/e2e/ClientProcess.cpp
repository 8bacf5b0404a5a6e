#include "ClientProcess.h"

#include "tools/gapsim/GapsimProcess.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <csignal>
#include <sys/types.h>

namespace {

constexpr int kEndWaitMs = 30000;
const char *const kRulesFile = "import.vkg";
const char *const kLogFile = "gapclient.log";

} // namespace

ClientProcess::ClientProcess(const QString &name, const QString &directory)
    : m_name(name)
    , m_directory(directory)
    , m_environment(QProcessEnvironment::systemEnvironment())
{
    for (const char *variable : { "VARKO_GAP_PORT", "VARKO_FILE_PORT", "VARKO_CONF_PORT" })
        m_environment.remove(QLatin1String(variable));
    m_environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
}

ClientProcess::~ClientProcess()
{
    if (m_process.state() != QProcess::NotRunning) {
        thaw();
        m_process.kill();
        m_process.waitForFinished(kEndWaitMs);
    }
}

QString ClientProcess::filePath(const QString &relative) const
{
    return QDir(m_directory).filePath(relative);
}

void ClientProcess::usePorts(quint16 gapPort, quint16 filePort, quint16 confPort)
{
    m_environment.insert(QStringLiteral("VARKO_GAP_PORT"), QString::number(gapPort));
    m_environment.insert(QStringLiteral("VARKO_FILE_PORT"), QString::number(filePort));
    m_environment.insert(QStringLiteral("VARKO_CONF_PORT"), QString::number(confPort));
}

bool ClientProcess::start(bool send)
{
    QStringList arguments { QStringLiteral("--import"), filePath(QLatin1String(kRulesFile)) };
    if (send)
        arguments << QStringLiteral("--send");
    QStringList command = m_launcher;
    command << GapsimProcess::binary(QStringLiteral("gapclient")) << arguments;
    ++m_starts;
    m_process.setProcessEnvironment(m_environment);
    m_process.setWorkingDirectory(m_directory);
    m_process.setStandardOutputFile(QProcess::nullDevice());
    m_process.setStandardErrorFile(filePath(QStringLiteral("stderr-%1.txt").arg(m_starts)));
    m_process.start(command.takeFirst(), command);
    return m_process.waitForStarted(kEndWaitMs);
}

void ClientProcess::signal(int signalNumber)
{
    if (m_process.state() == QProcess::Running)
        ::kill(pid_t(m_process.processId()), signalNumber);
}

void ClientProcess::kill()
{
    signal(SIGKILL);
    m_process.waitForFinished(kEndWaitMs);
}

void ClientProcess::freeze() { signal(SIGSTOP); }

void ClientProcess::thaw() { signal(SIGCONT); }

void ClientProcess::stop()
{
    thaw();
    signal(SIGTERM);
    m_process.waitForFinished(kEndWaitMs);
}

QString ClientProcess::sanitizerReports() const
{
    static const QRegularExpression report(QStringLiteral(
        "WARNING: ThreadSanitizer|ERROR: AddressSanitizer|ERROR: LeakSanitizer|runtime error:"));
    QString reports;
    for (int start = 1; start <= m_starts; ++start) {
        QFile file(filePath(QStringLiteral("stderr-%1.txt").arg(start)));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QString text = QString::fromUtf8(file.readAll());
        if (report.match(text).hasMatch())
            reports += text;
    }
    return reports;
}

QStringList ClientProcess::logLines() const
{
    QFile file(filePath(QLatin1String(kLogFile)));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}
