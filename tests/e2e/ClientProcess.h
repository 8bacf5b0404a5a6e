#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

// One real gapclient for an end-to-end test, in a working directory of its own that gapsim
// client-setup prepared (remembered auto-login, rules file). Its standard error goes to a file per
// start, so that what a sanitizer reported survives a kill and a restart.
class ClientProcess
{
public:
    ClientProcess(const QString &name, const QString &directory);
    ~ClientProcess();
    ClientProcess(const ClientProcess &) = delete;
    ClientProcess &operator=(const ClientProcess &) = delete;

    QString name() const { return m_name; }
    QString directory() const { return m_directory; }
    QString filePath(const QString &relative) const;

    // The client's own ports (VARKO_FILE_PORT, VARKO_CONF_PORT) and the gap's (VARKO_GAP_PORT);
    // without a call the client takes the default ports.
    void usePorts(quint16 gapPort, quint16 filePort, quint16 confPort);
    // A command that runs the client, such as "ip netns exec NAME".
    void setLauncher(const QStringList &launcher) { m_launcher = launcher; }

    // Starts the client with --import of its rules file, and --send when it sends.
    bool start(bool send);
    bool isRunning() const { return m_process.state() == QProcess::Running; }
    qint64 processId() const { return m_process.processId(); }
    // The environment of the starts to come.
    QProcessEnvironment &environment() { return m_environment; }
    // SIGKILL, as a crash or a power cut would end it; waits for the end.
    void kill();
    // SIGSTOP and SIGCONT: freezes the client where it is, and lets it go on.
    void freeze();
    void thaw();
    // SIGTERM and a wait; the client does not ask the user when the system stops it.
    void stop();

    // What a sanitizer wrote on standard error over every start, empty when nothing.
    QString sanitizerReports() const;
    // The warning lines of the client's log file.
    QStringList logLines() const;

private:
    void signal(int signalNumber);

    QString m_name;
    QString m_directory;
    QStringList m_launcher;
    QProcessEnvironment m_environment;
    QProcess m_process;
    int m_starts = 0;
};
