#include "model/Ports.h"

#include <QByteArray>
#include <QtDebug>

namespace {

constexpr uint kHighestPort = 65535;

// The port named by an environment variable, or the default when it is unset or not a port.
quint16 portFromEnvironment(const char *variable, quint16 defaultPort)
{
    const QByteArray text = qgetenv(variable);
    if (text.isEmpty())
        return defaultPort;
    bool ok = false;
    const uint port = text.toUInt(&ok);
    if (!ok || port == 0 || port > kHighestPort) {
        qWarning().noquote() << QStringLiteral("%1=%2 is not a port 1-65535; using %3")
                                    .arg(QLatin1String(variable), QString::fromLocal8Bit(text))
                                    .arg(defaultPort);
        return defaultPort;
    }
    return quint16(port);
}

} // namespace

namespace Ports {

quint16 gapPort()
{
    static const quint16 port = portFromEnvironment("VARKO_GAP_PORT", kDefaultGapPort);
    return port;
}

quint16 filePort()
{
    static const quint16 port = portFromEnvironment("VARKO_FILE_PORT", kDefaultFilePort);
    return port;
}

quint16 confPort()
{
    static const quint16 port = portFromEnvironment("VARKO_CONF_PORT", kDefaultConfPort);
    return port;
}

} // namespace Ports
