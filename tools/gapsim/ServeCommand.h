#pragma once

#include <QStringList>

// gapsim --config FILE: runs the simulated gap until SIGINT or SIGTERM.
class ServeCommand
{
public:
    static void describe(QString *usage);
    // Returns the process exit code: 0 stopped by a signal, 1 cannot listen, 2 bad arguments or
    // configuration.
    static int run(const QStringList &arguments);
};
