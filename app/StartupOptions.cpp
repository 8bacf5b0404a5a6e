#include "app/StartupOptions.h"

#include "model/AuditLog.h"
#include "model/Ports.h"
#include "model/ProjectVersion.h"

#include <QtDebug>

namespace {

const QString kImportOption = QStringLiteral("--import");
const QString kImportPrefix = QStringLiteral("--import=");
const QString kSendOption = QStringLiteral("--send");
const QStringList kHelpOptions { QStringLiteral("--help"), QStringLiteral("-h") };
const QString kVersionOption = QStringLiteral("--version");

// Laid out as a manual page, so that the package's users find what a man page would tell them.
const char *const kHelpText = R"(NAME
    gapclient - desktop client of a one-way network isolation gateway (a "gap")

SYNOPSIS
    gapclient [LEVEL] [--import FILE] [--send]
    gapclient --help | --version

DESCRIPTION
    Logs in to one or more gaps, binds local directories to the transfer rules a gap grants,
    sends every new file of a send directory through the gap, and writes the files the gap
    delivers into the receive directories, verifying each file's MD5 digest.

    The client keeps all its files in the current working directory (see FILES): start it in a
    directory of its own.

OPTIONS
    LEVEL
        A number as the first argument: 0 or 1 (the default is 0) write warnings to the log
        file, 2 or 3 write nothing.

    --import FILE
        After a successful login, imports the gaps and rules of FILE, a configuration saved by
        "保存配置", as the "恢复配置" button does. Entries already listed are skipped.

    --send
        After the login (and the rules), switches sending on, as "启动发送" does.

    -h, --help
        Prints this text and exits.

    --version
        Prints the program's name and version and exits.

    Unknown options are named in the log file and ignored. With a remembered automatic login and
    remembered rules, "gapclient --send" logs in, brings its rules back and sends without a click.

ENVIRONMENT
    VARKO_FILE_PORT
        Port the client receives files on (default %1).
    VARKO_CONF_PORT
        Port the client receives configuration pushes on (default %2).
    VARKO_GAP_PORT
        Port of the gap (default %3).
    VARKO_DLOG_LIBRARY
        The audit library to load. By default: libdlog.so next to the program, else the one
        installed with it (%4, from the program's folder), else the system's.
    DLOG_DB
        The audit database (default audit.db in the working directory).

    A port value that is not a port (1-65535) is ignored with a line in the log file.

FILES
    config/login.conf
        The remembered login ("记住密码", "自动登录"), readable by its owner only. With
        automatic login on, the client logs in by itself 3 seconds after it starts.
    config/setting.conf
        The settings.
    config/rules.vkg
        The gaps and rules, written at every change and brought back after the login.
    gapclient.log
        Warnings (the log file is named after the program).
    audit.db
        Audit events: logins, sends, receives. Read them with gapaudit.

EXIT STATUS
    0 when the user quits or closes the login window, and after --help or --version.

SEE ALSO
    gapaudit(1), gapsim(1)
)";

bool isOption(const QString &argument) { return argument.startsWith(QLatin1Char('-')); }

StartupOptions &currentOptions()
{
    static StartupOptions options;
    return options;
}

} // namespace

StartupOptions StartupOptions::parse(const QStringList &arguments)
{
    StartupOptions options;
    // The first argument is the log level unless it is an option; text that is not a number
    // counts as 0, and a level the logger does not know is its business.
    int next = 1;
    if (arguments.size() > 1 && !isOption(arguments.at(1))) {
        options.m_logLevel = int(arguments.at(1).toUInt());
        next = 2;
    }
    for (int i = next; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (argument == kSendOption) {
            options.m_send = true;
        } else if (kHelpOptions.contains(argument)) {
            options.m_help = true;
        } else if (argument == kVersionOption) {
            options.m_version = true;
        } else if (argument == kImportOption || argument.startsWith(kImportPrefix)) {
            QString file = argument.mid(kImportPrefix.size());
            if (argument == kImportOption && i + 1 < arguments.size()
                && !isOption(arguments.at(i + 1)))
                file = arguments.at(++i);
            if (file.isEmpty())
                options.m_problems << QStringLiteral("%1 needs a file name; ignored").arg(argument);
            else
                options.m_importFile = file;
        } else {
            options.m_problems << QStringLiteral("unknown argument %1 ignored").arg(argument);
        }
    }
    return options;
}

const StartupOptions &StartupOptions::current() { return currentOptions(); }

void StartupOptions::setCurrent(const StartupOptions &options) { currentOptions() = options; }

QString StartupOptions::helpText()
{
    return QString::fromUtf8(kHelpText)
        .arg(Ports::kDefaultFilePort)
        .arg(Ports::kDefaultConfPort)
        .arg(Ports::kDefaultGapPort)
        .arg(AuditLog::installedLibraryPath());
}

QString StartupOptions::versionText()
{
    return QStringLiteral("gapclient %1\n").arg(QLatin1String(GAP_PROJECT_VERSION));
}

void StartupOptions::logProblems() const
{
    for (const QString &problem : m_problems)
        qWarning().noquote() << "command line:" << problem;
}
