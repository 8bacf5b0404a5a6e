#include "ClientSetupCommand.h"
#include "PushCommand.h"
#include "ServeCommand.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("gapsim"));
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() > 1 && arguments.at(1) == QLatin1String("push"))
        return PushCommand::run(arguments);
    if (arguments.size() > 1 && arguments.at(1) == QLatin1String("client-setup"))
        return ClientSetupCommand::run(arguments);
    return ServeCommand::run(arguments);
}
