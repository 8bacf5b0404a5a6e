#pragma once

#include "ClientProcess.h"
#include "tools/gapsim/GapsimProcess.h"

#include <QByteArray>
#include <QMap>
#include <QStringList>
#include <memory>

// A whole site for an end-to-end test: gapsim and two real clients, alice sending to bob on a set
// of path keys, each client in a working directory of its own prepared by gapsim client-setup
// (remembered auto-login, rules for --import). Each key has a send directory of its own at alice
// and a receive directory of its own at bob.
class GapSite
{
public:
    // Where each party runs and how they reach each other.
    struct Layout {
        QString aliceGapAddress = QStringLiteral("127.0.0.1"); // the gap as alice logs in to it
        QString bobGapAddress = QStringLiteral("127.0.0.1");
        QString bobAddress = QStringLiteral("127.0.0.1"); // empty: where bob logged in from
        bool freePorts = true; // loopback: every party on ports of its own; else the defaults
        QStringList gapLauncher, aliceLauncher, bobLauncher;
    };

    GapSite(const QString &root, const QStringList &pathKeys);

    // Writes the gap's configuration and both clients' directories, starts gapsim with the extra
    // arguments, then bob and alice, each once logged in. False with error() set otherwise.
    bool start(const Layout &layout, const QString &policy, const QStringList &gapArguments);
    QString error() const { return m_error; }

    GapsimProcess &gap() { return *m_gapsim; }
    // The port bob takes files on, for a test that plays the gap itself.
    quint16 bobFilePort() const { return m_ports[2]; }
    ClientProcess &alice() { return *m_alice; }
    ClientProcess &bob() { return *m_bob; }
    // Starts a client again after a kill, and waits for its login.
    bool restart(ClientProcess &client);

    QString sendDir(const QString &key) const;
    QString recvDir(const QString &key) const;

    // Writes the file into alice's send directory whole, under its final name at once, so that the
    // scanner never sees it half written.
    bool drop(const QString &key, const QString &relativePath, const QByteArray &content) const;

    // How often the gap delivered a file of that name to bob.
    int deliveries(const QString &fileName);
    // The outcome ("1" or "0") and detail of each audit event of a client, oldest first.
    static QStringList auditEvents(const ClientProcess &client, const QByteArray &category);

private:
    QString configText(const Layout &layout, const QString &policy) const;
    bool setUpClient(const QString &user, const QString &gapAddress, bool sends);
    bool startClient(ClientProcess &client, bool sends);

    QString m_root;
    QStringList m_keys;
    Layout m_layout;
    std::unique_ptr<GapsimProcess> m_gapsim;
    std::unique_ptr<ClientProcess> m_alice;
    std::unique_ptr<ClientProcess> m_bob;
    quint16 m_ports[4] = {}; // alice file, alice conf, bob file, bob conf
    QString m_error;
};
