#include "GapsimProcess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>

GapsimProcess::GapsimProcess(const QString &directory)
    : m_directory(directory)
{
}

GapsimProcess::~GapsimProcess()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(10000);
    }
}

QString GapsimProcess::binary(const QString &name)
{
    return QDir(qEnvironmentVariable("GAP_BIN_DIR")).filePath(name);
}

bool GapsimProcess::start(const QString &configText, const QStringList &extraArguments)
{
    const QString configPath = QDir(m_directory).filePath(QStringLiteral("gapsim.ini"));
    QFile config(configPath);
    if (!config.open(QIODevice::WriteOnly) || config.write(configText.toUtf8()) < 0)
        return false;
    config.close();
    m_events.clear();
    m_partial.clear();
    m_process.setWorkingDirectory(m_directory);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QStringList command = m_launcher;
    command << binary(QStringLiteral("gapsim"))
            << QStringList { "--config", configPath, "--listen", "127.0.0.1", "--port", "0" }
            << extraArguments;
    m_process.start(command.takeFirst(), command);
    const QString listening = waitForEvent(QStringLiteral("^listening "));
    m_port = quint16(field(listening, QStringLiteral("port")).toUInt());
    return m_port != 0;
}

void GapsimProcess::collect()
{
    // Without an event loop nothing else reads the pipe: take what has arrived in it.
    while (m_process.waitForReadyRead(0)) { }
    m_partial += m_process.readAllStandardOutput();
    int newline;
    while ((newline = m_partial.indexOf('\n')) >= 0) {
        m_events << QString::fromUtf8(m_partial.left(newline));
        m_partial.remove(0, newline + 1);
    }
}

QStringList GapsimProcess::events()
{
    collect();
    return m_events;
}

QString GapsimProcess::waitForEvent(const QString &pattern, int timeoutMs)
{
    const QRegularExpression re(pattern);
    QElapsedTimer clock;
    clock.start();
    int checked = 0;
    for (;;) {
        collect();
        for (; checked < m_events.size(); ++checked) {
            if (re.match(m_events.at(checked)).hasMatch())
                return m_events.at(checked);
        }
        if (clock.elapsed() > timeoutMs || m_process.state() == QProcess::NotRunning)
            return QString();
        m_process.waitForReadyRead(50);
    }
}

int GapsimProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return -1;
    m_process.terminate();
    if (!m_process.waitForFinished(20000))
        return -1;
    collect();
    return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
}

QString GapsimProcess::field(const QString &line, const QString &key)
{
    const QRegularExpression re(QStringLiteral("(?:^| )%1=(\"(?:[^\"\\\\]|\\\\.)*\"|\\S*)")
                                    .arg(QRegularExpression::escape(key)));
    const QString value = re.match(line).captured(1);
    return value.startsWith(QLatin1Char('"')) ? value.mid(1, value.size() - 2) : value;
}
