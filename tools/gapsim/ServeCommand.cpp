#include "ServeCommand.h"

#include "ClientSetupCommand.h"
#include "EventLog.h"
#include "FaultPlan.h"
#include "GapConfig.h"
#include "GapContext.h"
#include "GapServer.h"
#include "PushCommand.h"
#include "SignalWatcher.h"
#include "model/ProjectVersion.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>

namespace {

// The manual, laid out as a manual page around each command's own description.
const char *const kManualHead = R"(NAME
    gapsim - a simulated one-way gap for the gap client's tests, benchmarks and demo

DESCRIPTION
    Speaks the gap's side of every exchange with the client: login, rules, keys, logout, the
    file relay with its type check and content scan, and the configuration push. One event line
    per event (see EVENTS in the README). Faults can be injected per run or per file.

COMMANDS)";
const char *const kManualTail = R"(
EXIT STATUS
    gapsim: 0 stopped by SIGINT or SIGTERM, 1 the port cannot be bound, 2 bad arguments or
    configuration. push: 0 delivered, 1 not delivered, 2 bad arguments. client-setup: 0 written,
    1 a file could not be written, 2 bad arguments or configuration.

FILES
    The configuration file is one INI file; every key, fault and event is described in the
    simulator's README (installed as /usr/share/doc/gapclient/gapsim.md, with an example
    configuration in /usr/share/doc/gapclient/examples/gapsim.ini).

SEE ALSO
    gapclient(1), gapaudit(1)
)";

int fail(const QString &message, int code)
{
    std::fprintf(stderr, "gapsim: %s\n", qPrintable(message));
    return code;
}

// Command-line options override the file.
bool applyOverrides(const QCommandLineParser &parser, GapConfig *config, QString *error)
{
    if (parser.isSet(QStringLiteral("listen"))) {
        const QString listen = parser.value(QStringLiteral("listen"));
        if (listen == QLatin1String("any"))
            config->listenAddress = QHostAddress::Any;
        else if (!config->listenAddress.setAddress(listen))
            *error = QStringLiteral("--listen %1 is not an address").arg(listen);
    }
    if (parser.isSet(QStringLiteral("port"))) {
        bool ok = false;
        const uint port = parser.value(QStringLiteral("port")).toUInt(&ok);
        if (!ok || port > 65535)
            *error = QStringLiteral("--port %1 is not a port")
                         .arg(parser.value(QStringLiteral("port")));
        config->port = quint16(port);
    }
    if (parser.isSet(QStringLiteral("log")))
        config->logFile = parser.value(QStringLiteral("log"));
    const QStringList faults = parser.values(QStringLiteral("fault"));
    for (int i = 0; i < faults.size() && error->isEmpty(); ++i) {
        FaultRule rule;
        if (FaultRule::parseOption(
                QStringLiteral("option-%1").arg(i + 1), faults.at(i), &rule, error))
            config->faults << rule;
    }
    return error->isEmpty();
}

} // namespace

void ServeCommand::describe(QString *usage)
{
    *usage += QStringLiteral(
        "\n  gapsim --config FILE [--listen ADDR] [--port N] [--log FILE] [--fault FAULT]...\n"
        "    Runs the simulated gap. --listen and --port override the file (port 0 picks a free\n"
        "    port; the first event line names it). --log writes the events to FILE instead of\n"
        "    standard output. --fault adds a fault, e.g. cut,bytes=20000,file=*.bin or\n"
        "    delay,answer=confirmation,ms=3000 (see README.md). SIGINT or SIGTERM stop it.\n"
        "\n  gapsim --help | --version\n"
        "    Prints this manual, or the program's name and version.\n");
}

int ServeCommand::run(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Simulated one-way gap for tests and demos."));
    const QCommandLineOption help({ "h", "help" }, "Shows this help.");
    const QCommandLineOption version("version", "Shows the program's name and version.");
    parser.addOptions({ help, version, { "config", "Configuration file.", "FILE" },
        { "listen", "Listen address (overrides the file).", "ADDR" },
        { "port", "Listen port (overrides the file).", "N" },
        { "log", "Event log file (default: standard output).", "FILE" },
        { "fault", "Fault to inject.", "FAULT" } });
    if (!parser.parse(arguments))
        return fail(parser.errorText(), 2);
    if (parser.isSet(help)) {
        QString usage = QLatin1String(kManualHead);
        describe(&usage);
        PushCommand::describe(&usage);
        ClientSetupCommand::describe(&usage);
        std::fprintf(stdout, "%s%s", qPrintable(usage), kManualTail);
        return 0;
    }
    if (parser.isSet(version)) {
        std::fprintf(stdout, "gapsim %s\n", GAP_PROJECT_VERSION);
        return 0;
    }
    if (!parser.isSet(QStringLiteral("config")))
        return fail(QStringLiteral("--config FILE is required (see --help)"), 2);
    if (!parser.positionalArguments().isEmpty())
        return fail(
            QStringLiteral("unexpected argument %1").arg(parser.positionalArguments().first()), 2);

    GapConfig config;
    QString error;
    if (!GapConfig::load(parser.value(QStringLiteral("config")), &config, &error)
        || !applyOverrides(parser, &config, &error))
        return fail(error, 2);
    EventLog log;
    if (!log.open(config.logFile, &error))
        return fail(error, 2);
    FaultPlan faults(config.faults);
    GapContext context { config, log, faults, {}, 1 };

    SignalWatcher watcher;
    if (!watcher.install())
        return fail(QStringLiteral("cannot install the signal handlers"), 1);
    QObject::connect(&watcher, &SignalWatcher::stopRequested, [&log](const QString &name) {
        log.write("stopping", { { "signal", name } });
        QCoreApplication::quit();
    });
    int code = 0;
    {
        GapServer server(context);
        if (!server.start(&error))
            return fail(error, 1);
        code = QCoreApplication::exec();
    }
    // Sessions are gone with the server; lingering connections go with the application object.
    log.write("stopped");
    return code;
}
