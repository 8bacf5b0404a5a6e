#pragma once

#include "tools/gapsim/GapsimProcess.h"

#include <QProcess>
#include <QString>
#include <functional>
#include <memory>

// gapsim and the real clients on loopback, as a site runs them: bob receives on ALICE-TO-BOB,
// alice sends on it. Each client has a working directory of its own, prepared by "gapsim
// client-setup" (remembered automatic login, rules file) and is started with --import, alice also
// with --send; both run offscreen. The benchmarks that measure the whole product drive it.
class ClientSite
{
public:
    explicit ClientSite(const QString &directory);
    ~ClientSite();
    ClientSite(const ClientSite &) = delete;
    ClientSite &operator=(const ClientSite &) = delete;

    // Starts gapsim and bob's client, and alice's when asked, and waits until bob accepts files.
    // The programs are taken from GAP_BIN_DIR, by default the benchmark's own folder. False with
    // error() set when a step failed.
    bool start(bool withSender);
    QString error() const { return m_error; }

    quint16 gapPort() const { return m_gapsim.port(); }
    QString sendDir() const;
    QString recvDir() const;
    GapsimProcess &gapsim() { return m_gapsim; }
    qint64 gapsimPid() const;
    qint64 senderPid() const { return m_alice ? m_alice->processId() : 0; }
    qint64 receiverPid() const { return m_bob ? m_bob->processId() : 0; }

    // Waits until done() holds (true) or the time is up (false; a negative time never is),
    // reading gapsim's events meanwhile: gapsim writes them into a pipe, and a full pipe would
    // stop it. Every wait of a benchmark goes through here.
    bool waitUntil(const std::function<bool()> &done, qint64 timeoutMs);
    // Runs the work in a thread of its own and waits for it as waitUntil does.
    void runAside(const std::function<void()> &work);

    // Files under a directory (hidden part files included), by path relative to it.
    static QStringList filesUnder(const QString &directory);

private:
    struct Ports {
        quint16 file = 0;
        quint16 conf = 0;
    };

    bool startClient(
        const QString &user, const QStringList &arguments, std::unique_ptr<QProcess> &process);
    bool prepareClient(const QString &user, const QString &dirOption, const QString &dir);
    bool bobAcceptsFiles();
    QString clientDir(const QString &user) const;

    QString m_directory;
    GapsimProcess m_gapsim;
    Ports m_alicePorts;
    Ports m_bobPorts;
    std::unique_ptr<QProcess> m_alice;
    std::unique_ptr<QProcess> m_bob;
    QString m_error;
};
