#pragma once

#include <QStringList>

// gapsim push: sends one configuration-data packet to a client's configuration port, as a gap
// does to announce new paths, and reports whether it was delivered.
class PushCommand
{
public:
    static void describe(QString *usage);
    // Returns the process exit code: 0 delivered, 1 not delivered, 2 bad arguments.
    static int run(const QStringList &arguments);
};
