#pragma once

#include <QProcess>
#include <QRegularExpression>
#include <QStringList>

// Runs gapsim for one test: writes its configuration into the test's directory, starts it on a
// free port and collects its event lines.
class GapsimProcess
{
public:
    explicit GapsimProcess(const QString &directory);
    ~GapsimProcess();

    // Starts gapsim on 127.0.0.1 and a free port; false when it did not report listening.
    // Arguments given here come last, so that a --listen or --port among them wins.
    bool start(const QString &configText, const QStringList &extraArguments = {});
    // A command that runs gapsim, such as "ip netns exec NAME"; set before start().
    void setLauncher(const QStringList &launcher) { m_launcher = launcher; }
    quint16 port() const { return m_port; }
    qint64 processId() const { return m_process.processId(); }

    // The first event line matching the pattern, arrived so far or within the wait; empty if none.
    QString waitForEvent(const QString &pattern, int timeoutMs = 20000);
    QStringList events();
    // Stops it with SIGTERM; the exit code, or -1 when it crashed or did not stop.
    int stop();

    // A field of an event line ("key=value").
    static QString field(const QString &line, const QString &key);
    static QString binary(const QString &name);

private:
    void collect();

    QString m_directory;
    QProcess m_process;
    QStringList m_launcher;
    QStringList m_events;
    QByteArray m_partial;
    quint16 m_port = 0;
};
