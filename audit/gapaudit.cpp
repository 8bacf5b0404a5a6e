// gapaudit: lists and exports the events of the client's audit database.

#include "audit/AuditQuery.h"
#include "audit/EventWriter.h"
#include "model/ProjectVersion.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <cstdio>

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

struct Options {
    QString database;
    QString format;
    AuditFilter filter;
    bool answered = false; // --help or --version: printed, nothing to read
};

// The manual around the parser's own list of options, laid out as a manual page.
const char *const kManualHead = R"(NAME
    gapaudit - list and export the gap client's audit events

SYNOPSIS
    gapaudit [--db FILE] [--format table|csv|json] [--since TIME]
             [--until TIME] [--category CATEGORY] [--user USER]
             [--outcome OUTCOME] [--gap ADDRESS] [--kind KIND]
             [--search TEXT]
    gapaudit --help | --version

DESCRIPTION
    Reads the audit database the client writes (audit.db in its working directory) and prints
    the events that pass every filter given, oldest first; the client's history page filters
    the same way. It only reads: the client may run meanwhile. Times without an offset are
    local; a date alone covers the whole day.

)";
const char *const kManualTail = R"(
CATEGORIES
    CLIENT_LOGIN (logins and logouts), CLIENT_SEND, CLIENT_RECV.

OUTCOMES
    Every event is a success or a failure. A failed send or receive is one of: refused (已拒绝:
    the gap or the far side refused the file: its type, a keyword, a virus, its size, its path),
    failed (失败: the link, the disk or the digest, after the last attempt) or waiting (等待重发:
    an attempt failed and the file is sent again). The table and the CSV show these words.

CSV
    Made for spreadsheets: UTF-8 with a byte-order mark, Chinese column headers, times in this
    machine's zone, the outcome in words and the detail split into its fields (local address,
    file, peer, message). A cell that a spreadsheet would take for a formula (one beginning with
    =, +, - or @) starts with an apostrophe. --format json keeps every stored field as it is.

ENVIRONMENT
    DLOG_DB
        The database read when --db is not given (default audit.db).

EXIT STATUS
    0 the events were printed; 1 the database could not be read; 2 a usage error.

EXAMPLES
    gapaudit --db audit.db --since 2026-12-01 --category CLIENT_SEND --outcome failure
    gapaudit --format json --user alice > alice.json

SEE ALSO
    gapclient(1), gapsim(1)
)";

void fail(const QString &message) { std::fprintf(stderr, "gapaudit: %s\n", qPrintable(message)); }

bool parseOutcome(const QString &text, AuditFilter::Outcome *outcome)
{
    TransferOutcome::Kind kind = TransferOutcome::Running;
    if (text == QLatin1String("failure") || text == QLatin1String("0"))
        *outcome = AuditFilter::Failure;
    else if (text == QLatin1String("1"))
        *outcome = AuditFilter::Success;
    else if (TransferOutcome::parse(text, &kind) && kind != TransferOutcome::Running)
        *outcome = AuditFilter::forKind(kind);
    else
        return false;
    return true;
}

// Fills options from the command line; false after reporting a usage error.
bool readOptions(const QCoreApplication &app, Options *options)
{
    QCommandLineParser parser;
    const QCommandLineOption help({ "h", "help" }, "Prints this manual.");
    const QCommandLineOption version("version", "Prints the program's name and version.");
    const QCommandLineOption db("db", "Audit database (default: $DLOG_DB or audit.db).", "file",
        AuditQuery::defaultDatabase());
    const QCommandLineOption format("format", "Output: table, csv or json.", "format", "table");
    const QCommandLineOption since("since", "Events at or after this date or time.", "time");
    const QCommandLineOption until(
        "until", "Events up to and including this date or time.", "time");
    const QCommandLineOption category("category", "Only this category.", "category");
    const QCommandLineOption user("user", "Only this user.", "user");
    const QCommandLineOption outcome("outcome",
        "Only success (or 1); failure (or 0: any outcome but success); or one kind of failure: "
        "refused (by the gap or the far side), failed (for good), waiting (to be sent again). "
        "The words of the client (成功, 已拒绝, 失败, 等待重发) do as well.",
        "outcome");
    const QCommandLineOption gap("gap", "Only events of this gap address.", "address");
    const QCommandLineOption kind("kind",
        "Only logins, logouts, sends or receives: " + auditKindNames().join(", ") + '.', "kind");
    const QCommandLineOption search("search",
        "Only events whose detail (file name, reason) contains this text; ASCII letters in "
        "either case.",
        "text");
    parser.addOptions(
        { help, version, db, format, since, until, category, user, outcome, gap, kind, search });
    if (!parser.parse(app.arguments())) {
        fail(parser.errorText());
        return false;
    }
    if (parser.isSet(help)) {
        const QString generated = parser.helpText();
        std::fprintf(stdout, "%s%s%s", kManualHead,
            qPrintable(generated.mid(generated.indexOf(QLatin1String("Options:")))
                           .replace(QLatin1String("Options:"), QLatin1String("OPTIONS"))),
            kManualTail);
        options->answered = true;
        return true;
    }
    if (parser.isSet(version)) {
        std::fprintf(stdout, "gapaudit %s\n", GAP_PROJECT_VERSION);
        options->answered = true;
        return true;
    }
    if (!parser.positionalArguments().isEmpty()) {
        fail(QStringLiteral("unexpected argument %1").arg(parser.positionalArguments().first()));
        return false;
    }
    options->database = parser.value(db);
    options->format = parser.value(format);
    AuditFilter &filter = options->filter;
    filter.category = parser.value(category).toUtf8();
    filter.user = parser.value(user).toUtf8();
    filter.gap = parser.value(gap).toUtf8();
    filter.search = parser.value(search);
    if (!EventWriter::formats().contains(options->format)) {
        fail(QStringLiteral("unknown format %1 (table, csv or json)").arg(options->format));
        return false;
    }
    if (parser.isSet(outcome) && !parseOutcome(parser.value(outcome), &filter.outcome)) {
        fail(QStringLiteral("--outcome takes success, failure, refused, failed, waiting, 1 or 0"));
        return false;
    }
    if (parser.isSet(kind) && !parseAuditKind(parser.value(kind), &filter.kind)) {
        fail(QStringLiteral("--kind takes %1").arg(auditKindNames().join(", ")));
        return false;
    }
    if ((parser.isSet(since) && !filter.setBound(parser.value(since), TimeBound::Since))
        || (parser.isSet(until) && !filter.setBound(parser.value(until), TimeBound::Until))) {
        fail(QStringLiteral("--since and --until take an ISO date or date-time, such as "
                            "2026-05-01 or 2026-05-01T08:30:00"));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("gapaudit"));
    Options options;
    if (!readOptions(app, &options))
        return kExitUsage;
    if (options.answered)
        return 0;
    AuditQuery query;
    if (!query.open(options.database)) {
        fail(query.errorString());
        return kExitFailure;
    }
    QFile out;
    out.open(stdout, QIODevice::WriteOnly);
    const std::unique_ptr<EventWriter> writer = EventWriter::create(options.format, &out);
    writer->begin();
    const bool read = query.forEach(
        options.filter, [&writer](const AuditEvent &event) { writer->write(event); });
    writer->end();
    if (!read) {
        fail(query.errorString());
        return kExitFailure;
    }
    return 0;
}
