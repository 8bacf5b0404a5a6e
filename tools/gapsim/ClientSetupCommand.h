#pragma once

#include <QStringList>

// gapsim client-setup: prepares a real client's working directory for one user of a gapsim
// configuration, so that the client starts without a click: the remembered auto-login
// (config/login.conf) and a rules file for --import with the user's send and receive rules. Both
// are written by the client's own code, exactly as its login window and its export write them.
class ClientSetupCommand
{
public:
    static void describe(QString *usage);
    // Returns the process exit code: 0 written, 1 a file or directory could not be written,
    // 2 bad arguments or configuration.
    static int run(const QStringList &arguments);
};
