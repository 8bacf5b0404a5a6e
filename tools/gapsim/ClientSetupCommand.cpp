#include "ClientSetupCommand.h"

#include "EventLog.h"
#include "GapConfig.h"
#include "gap/GapInput.h"
#include "gap/LoginFile.h"
#include "model/GlobalData.h"
#include "views/rules/ConfigurationFile.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

const char *const kDefaultRulesFile = "import.vkg";
const char *const kLoopback = "127.0.0.1";

struct SetupRequest {
    GapConfig config;
    const GapUser *user = nullptr;
    QString gapAddress;
    QString directory;
    QString rulesFile;
    QString sendDir; // empty: no send rules
    QString recvDir; // empty: no receive rules
};

// The records of the rules file. The file is written from a list of pointers, as the client
// writes its registries.
struct RuleRecords {
    std::vector<std::unique_ptr<_VKGAPIP_CONF>> gaps;
    std::vector<std::unique_ptr<_SENDPATH_LISTDATA>> sendRules;
    std::vector<std::unique_ptr<_RECVPATH_LISTDATA>> recvRules;
};

template <typename T> QList<T *> pointers(const std::vector<std::unique_ptr<T>> &records)
{
    QList<T *> list;
    for (const auto &record : records)
        list << record.get();
    return list;
}

int fail(const QString &message, int code)
{
    std::fprintf(stderr, "gapsim client-setup: %s\n", qPrintable(message));
    return code;
}

QString absolute(const QString &path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

// A client on this machine reaches the simulator at its listen address, or at loopback when it
// listens on every address.
QString defaultGapAddress(const QHostAddress &listen)
{
    if (listen == QHostAddress::Any || listen == QHostAddress::AnyIPv4
        || listen == QHostAddress::AnyIPv6)
        return QLatin1String(kLoopback);
    return listen.toString();
}

QVector<const GapPath *> sendPaths(const SetupRequest &request)
{
    QVector<const GapPath *> paths;
    for (const GapPath &path : request.config.paths) {
        if (path.fromUser == request.user->name)
            paths << &path;
    }
    return paths;
}

QVector<const GapPath *> recvPaths(const SetupRequest &request)
{
    QVector<const GapPath *> paths;
    for (const GapPath &path : request.config.paths) {
        if (path.toUser == request.user->name)
            paths << &path;
    }
    return paths;
}

// One directory per rule: the directory given for a single path, a sub-directory named after
// each path key for several.
QString ruleDirectory(const QString &base, const GapPath &path, int pathCount)
{
    return pathCount == 1 ? base : base + QLatin1Char('/') + QString::fromUtf8(path.key);
}

// What the login window cannot carry, or an option that would write nothing; empty when fine.
QString check(const SetupRequest &request)
{
    const QByteArray &name = request.user->name;
    if (name.size() > LoginFile::kFieldLength
        || request.user->password.size() > LoginFile::kFieldLength)
        return QStringLiteral("the login window takes at most %1 characters of a user name or "
                              "password; user %2 has more")
            .arg(LoginFile::kFieldLength)
            .arg(QString::fromLatin1(name));
    if (!GapInput::isGapAddress(request.gapAddress)
        || request.gapAddress.size() > LoginFile::kAddressLength)
        return QStringLiteral("--gap-address %1 is not an address the login window takes")
            .arg(request.gapAddress);
    if (!request.sendDir.isEmpty() && sendPaths(request).isEmpty())
        return QStringLiteral("user %1 sends on no path").arg(QString::fromLatin1(name));
    if (!request.recvDir.isEmpty() && recvPaths(request).isEmpty())
        return QStringLiteral("user %1 receives on no path").arg(QString::fromLatin1(name));
    return QString();
}

// Reads the options and the configuration; an error message, or empty.
QString parseRequest(const QCommandLineParser &parser, SetupRequest *request)
{
    for (const char *required : { "config", "user", "dir" }) {
        if (!parser.isSet(QLatin1String(required)))
            return QStringLiteral("--%1 is required (see --help)").arg(QLatin1String(required));
    }
    QString error;
    if (!GapConfig::load(parser.value(QStringLiteral("config")), &request->config, &error))
        return error;
    request->user = request->config.findUser(parser.value(QStringLiteral("user")).toLatin1());
    if (!request->user)
        return QStringLiteral("no user %1 in %2")
            .arg(parser.value(QStringLiteral("user")), parser.value(QStringLiteral("config")));
    request->gapAddress = parser.isSet(QStringLiteral("gap-address"))
        ? parser.value(QStringLiteral("gap-address"))
        : defaultGapAddress(request->config.listenAddress);
    request->directory = absolute(parser.value(QStringLiteral("dir")));
    request->rulesFile = parser.isSet(QStringLiteral("rules"))
        ? absolute(parser.value(QStringLiteral("rules")))
        : request->directory + QLatin1Char('/') + QLatin1String(kDefaultRulesFile);
    if (parser.isSet(QStringLiteral("send-dir")))
        request->sendDir = absolute(parser.value(QStringLiteral("send-dir")));
    if (parser.isSet(QStringLiteral("recv-dir")))
        request->recvDir = absolute(parser.value(QStringLiteral("recv-dir")));
    return check(*request);
}

void fillGap(const SetupRequest &request, RuleRecords *records)
{
    auto gap = std::make_unique<_VKGAPIP_CONF>();
    GapInput::fillGapRecord(gap.get(), request.gapAddress, QString::fromLatin1(request.user->name),
        QString::fromLatin1(request.user->password));
    records->gaps.push_back(std::move(gap));
}

void fillSendRules(const SetupRequest &request, RuleRecords *records)
{
    if (request.sendDir.isEmpty())
        return;
    const QVector<const GapPath *> paths = sendPaths(request);
    for (const GapPath *path : paths) {
        auto rule = std::make_unique<_SENDPATH_LISTDATA>();
        copyToField(rule->SendPathID, kPathIDSize, path->key);
        copyToField(rule->GapIP, kHostIPSize, request.gapAddress.toLatin1());
        copyToField(rule->ToUser, kUserNameSize, path->toUser);
        copyToField(rule->FromUser, kUserNameSize, request.user->name);
        rule->RecviverLevel = path->toLevel;
        rule->SendPath = ruleDirectory(request.sendDir, *path, paths.size());
        records->sendRules.push_back(std::move(rule));
    }
}

void fillRecvRules(const SetupRequest &request, RuleRecords *records)
{
    if (request.recvDir.isEmpty())
        return;
    const QVector<const GapPath *> paths = recvPaths(request);
    for (const GapPath *path : paths) {
        auto rule = std::make_unique<_RECVPATH_LISTDATA>();
        copyToField(rule->RecvPathID, kPathIDSize, path->key);
        copyToField(rule->GapIP, kHostIPSize, request.gapAddress.toLatin1());
        copyToField(rule->FromUser, kUserNameSize, path->fromUser);
        rule->RecvPath = ruleDirectory(request.recvDir, *path, paths.size());
        records->recvRules.push_back(std::move(rule));
    }
}

// The rule directories, the remembered login and the rules file; an error message, or empty.
QString writeFiles(const SetupRequest &request, const RuleRecords &records)
{
    QStringList directories { request.directory };
    for (const auto &rule : records.sendRules)
        directories << rule->SendPath;
    for (const auto &rule : records.recvRules)
        directories << rule->RecvPath;
    for (const QString &directory : directories) {
        if (!QDir().mkpath(directory))
            return QStringLiteral("cannot create %1").arg(directory);
    }
    LoginFile login(LoginFile::pathIn(request.directory));
    if (!login.remember(request.gapAddress, QString::fromLatin1(request.user->name),
            QString::fromLatin1(request.user->password), true))
        return QStringLiteral("cannot write %1").arg(login.path());
    if (!ConfigurationFile::saveConf(request.rulesFile, pointers(records.gaps),
            pointers(records.sendRules), pointers(records.recvRules)))
        return QStringLiteral("cannot write %1").arg(request.rulesFile);
    return QString();
}

// One line for the working directory, then one per rule, for the scripts that start the client.
void report(const SetupRequest &request, const RuleRecords &records)
{
    EventLog log;
    QString unused;
    log.open(QString(), &unused);
    log.write("client-setup",
        { { "user", QString::fromLatin1(request.user->name) }, { "gap", request.gapAddress },
            { "dir", request.directory }, { "login", LoginFile::pathIn(request.directory) },
            { "rules", request.rulesFile },
            { "file_port", QString::number(request.user->filePort) },
            { "conf_port", QString::number(request.user->confPort) } });
    for (const auto &rule : records.sendRules)
        log.write("send-rule",
            { { "path", QString::fromUtf8(rule->SendPathID) },
                { "to", QString::fromLatin1(rule->ToUser) },
                { "level", QString::number(rule->RecviverLevel) }, { "dir", rule->SendPath } });
    for (const auto &rule : records.recvRules)
        log.write("recv-rule",
            { { "path", QString::fromUtf8(rule->RecvPathID) },
                { "from", QString::fromLatin1(rule->FromUser) }, { "dir", rule->RecvPath } });
}

} // namespace

void ClientSetupCommand::describe(QString *usage)
{
    *usage += QStringLiteral(
        "\n  gapsim client-setup --config FILE --user NAME --dir DIR [--gap-address ADDR]\n"
        "              [--send-dir DIR] [--recv-dir DIR] [--rules FILE]\n"
        "    Prepares DIR as the working directory of a client of user NAME: a remembered\n"
        "    auto-login (DIR/config/login.conf) for the gap at ADDR (default: the listen address,\n"
        "    or 127.0.0.1 when it is 'any'), and a rules file for 'gapclient --import' (default\n"
        "    DIR/import.vkg) binding the user's send paths to --send-dir and receive paths to\n"
        "    --recv-dir (one path: that directory; several: a sub-directory per path key).\n");
}

int ClientSetupCommand::run(const QStringList &arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption help({ "h", "help" }, "Shows this help.");
    parser.addOptions({ help, { "config", "Configuration file.", "FILE" },
        { "user", "User of the client.", "NAME" },
        { "dir", "The client's working directory.", "DIR" },
        { "gap-address", "Address the client logs in to.", "ADDR" },
        { "send-dir", "Directory of the send rules.", "DIR" },
        { "recv-dir", "Directory of the receive rules.", "DIR" },
        { "rules", "Rules file to write.", "FILE" } });
    QStringList args = arguments;
    args.removeAt(1); // "client-setup"
    if (!parser.parse(args))
        return fail(parser.errorText(), 2);
    if (parser.isSet(help)) {
        QString usage = QStringLiteral("Usage:");
        describe(&usage);
        std::fprintf(stdout, "%s", qPrintable(usage));
        return 0;
    }
    if (!parser.positionalArguments().isEmpty())
        return fail(
            QStringLiteral("unexpected argument %1").arg(parser.positionalArguments().first()), 2);
    SetupRequest request;
    const QString error = parseRequest(parser, &request);
    if (!error.isEmpty())
        return fail(error, 2);

    RuleRecords records;
    fillGap(request, &records);
    fillSendRules(request, &records);
    fillRecvRules(request, &records);
    const QString failure = writeFiles(request, records);
    if (!failure.isEmpty())
        return fail(failure, 1);
    report(request, records);
    return 0;
}
