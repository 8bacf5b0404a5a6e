#include "PushCommand.h"

#include "EventLog.h"
#include "GapConfig.h"
#include "protocol/ControlPackets.h"

#include <QCommandLineParser>
#include <QTcpSocket>
#include <cstdio>

namespace {

constexpr quint16 kDefaultConfPort = 5189;
constexpr int kDefaultTimeoutMs = 5000;

bool parseSend(const QString &text, ConfSendEntry *entry)
{
    const QStringList parts = text.split(QLatin1Char(','));
    bool ok = false;
    if (parts.size() != 3)
        return false;
    *entry = ConfSendEntry { parts.at(0).toLatin1(), parts.at(1).toUtf8(), parts.at(2).toInt(&ok) };
    return ok;
}

bool parseRecv(const QString &text, ConfRecvEntry *entry)
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 2)
        return false;
    *entry = ConfRecvEntry { parts.at(0).toLatin1(), parts.at(1).toUtf8() };
    return true;
}

struct PushTarget {
    QHostAddress host;
    quint16 port = kDefaultConfPort;
    QHostAddress bind;
    int timeoutMs = kDefaultTimeoutMs;
};

// The entries and the target named by --config and --user: the user's own send and receive paths,
// to the address and configuration port the configuration gives that user.
bool addConfiguredUser(const QString &fileName, const QByteArray &userName, PushTarget *target,
    QVector<ConfSendEntry> *sends, QVector<ConfRecvEntry> *recvs, QString *error)
{
    GapConfig config;
    if (!GapConfig::load(fileName, &config, error))
        return false;
    const GapUser *user = config.findUser(userName);
    if (!user) {
        *error = QStringLiteral("no user %1 in %2").arg(QString::fromLatin1(userName), fileName);
        return false;
    }
    target->host = user->address;
    target->port = user->confPort;
    for (const GapPath &path : config.paths) {
        if (path.fromUser == userName)
            *sends << ConfSendEntry { path.toUser, path.key, path.toLevel };
        if (path.toUser == userName)
            *recvs << ConfRecvEntry { path.fromUser, path.key };
    }
    return true;
}

QString deliver(const PushTarget &target, const QByteArray &packet)
{
    QTcpSocket socket;
    if (!target.bind.isNull() && !socket.bind(target.bind, 0))
        return socket.errorString();
    socket.connectToHost(target.host, target.port);
    if (!socket.waitForConnected(target.timeoutMs))
        return socket.errorString();
    socket.write(packet);
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(target.timeoutMs))
            return socket.errorString();
    }
    socket.disconnectFromHost();
    if (socket.state() != QAbstractSocket::UnconnectedState)
        socket.waitForDisconnected(target.timeoutMs);
    return QString();
}

} // namespace

void PushCommand::describe(QString *usage)
{
    *usage += QStringLiteral(
        "\n  gapsim push [--config FILE --user NAME] [--host ADDR] [--port N] [--bind ADDR]\n"
        "              [--send USER,PATH,LEVEL]... [--recv USER,PATH]... [--timeout-ms N]\n"
        "    Sends one configuration-data packet to a client's configuration port (default\n"
        "    5189). --send adds a send entry (receiving user, path key, that user's level),\n"
        "    --recv a receive entry (sending user, path key); --config with --user adds that\n"
        "    user's paths and takes the user's address and configuration port. --bind sets the\n"
        "    local address to push from: the client accepts pushes only from its gap's address.\n");
}

int PushCommand::run(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption config("config", "Configuration file.", "FILE");
    const QCommandLineOption user("user", "User whose paths to push.", "NAME");
    const QCommandLineOption host("host", "Client address.", "ADDR");
    const QCommandLineOption port("port", "Client configuration port.", "N");
    const QCommandLineOption bind("bind", "Local address to push from.", "ADDR");
    const QCommandLineOption send("send", "Send entry.", "USER,PATH,LEVEL");
    const QCommandLineOption recv("recv", "Receive entry.", "USER,PATH");
    const QCommandLineOption timeout("timeout-ms", "Connect and write time-out.", "N");
    parser.addOptions({ config, user, host, port, bind, send, recv, timeout });
    QStringList args = arguments;
    args.removeAt(1); // "push"
    if (!parser.parse(args)) {
        std::fprintf(stderr, "gapsim push: %s\n", qPrintable(parser.errorText()));
        return 2;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        QString usage;
        describe(&usage);
        std::fprintf(stdout, "Usage:%s", qPrintable(usage));
        return 0;
    }
    PushTarget target;
    QVector<ConfSendEntry> sends;
    QVector<ConfRecvEntry> recvs;
    QString error;
    if (parser.isSet(config) != parser.isSet(user))
        error = QStringLiteral("--config and --user go together");
    else if (parser.isSet(config))
        addConfiguredUser(
            parser.value(config), parser.value(user).toLatin1(), &target, &sends, &recvs, &error);
    for (const QString &text : parser.values(send)) {
        ConfSendEntry entry;
        if (!parseSend(text, &entry))
            error = QStringLiteral("--send %1 is not USER,PATH,LEVEL").arg(text);
        sends << entry;
    }
    for (const QString &text : parser.values(recv)) {
        ConfRecvEntry entry;
        if (!parseRecv(text, &entry))
            error = QStringLiteral("--recv %1 is not USER,PATH").arg(text);
        recvs << entry;
    }
    if (parser.isSet(host) && !target.host.setAddress(parser.value(host)))
        error = QStringLiteral("--host %1 is not an address").arg(parser.value(host));
    if (parser.isSet(bind) && !target.bind.setAddress(parser.value(bind)))
        error = QStringLiteral("--bind %1 is not an address").arg(parser.value(bind));
    bool ok = true;
    if (parser.isSet(port))
        target.port = quint16(parser.value(port).toUInt(&ok));
    if (!ok || target.port == 0)
        error = QStringLiteral("--port %1 is not a port").arg(parser.value(port));
    if (parser.isSet(timeout))
        target.timeoutMs = parser.value(timeout).toInt(&ok);
    if (!ok || target.timeoutMs <= 0)
        error = QStringLiteral("--timeout-ms %1 is not a time-out").arg(parser.value(timeout));
    if (error.isEmpty() && target.host.isNull())
        error = QStringLiteral("no client address: give --host");
    if (!error.isEmpty()) {
        std::fprintf(stderr, "gapsim push: %s\n", qPrintable(error));
        return 2;
    }
    const _PACKET_CONF_DATA packet = buildConfData(sends, recvs);
    const QString failure = deliver(target, packetBytes(packet));
    EventLog log;
    log.open(QString(), &error);
    EventFields fields { { "host", target.host.toString() },
        { "port", QString::number(target.port) },
        { "send", QString::number(quint64(packet.scount)) },
        { "recv", QString::number(quint64(packet.dcount)) },
        { "result", failure.isEmpty() ? QStringLiteral("sent") : QStringLiteral("failed") } };
    if (!failure.isEmpty())
        fields.append({ "error", failure });
    log.write("push", fields);
    return failure.isEmpty() ? 0 : 1;
}
