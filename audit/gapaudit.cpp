// gapaudit: lists and exports the events of the client's audit database.

#include "audit/AuditQuery.h"
#include "audit/EventWriter.h"

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
};

void fail(const QString &message) { std::fprintf(stderr, "gapaudit: %s\n", qPrintable(message)); }

bool parseOutcome(const QString &text, AuditFilter::Outcome *outcome)
{
    if (text == QLatin1String("success") || text == QLatin1String("1"))
        *outcome = AuditFilter::Success;
    else if (text == QLatin1String("failure") || text == QLatin1String("0"))
        *outcome = AuditFilter::Failure;
    else
        return false;
    return true;
}

// Fills options from the command line; false after reporting a usage error.
bool readOptions(const QCoreApplication &app, Options *options)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Lists and exports the gap client's audit events, oldest first.\n"
                       "Times without an offset are local; a date alone covers the whole day."));
    parser.addHelpOption();
    const QCommandLineOption db("db", "Audit database (default: $DLOG_DB or audit.db).", "file",
        AuditQuery::defaultDatabase());
    const QCommandLineOption format("format", "Output: table, csv or json.", "format", "table");
    const QCommandLineOption since("since", "Events at or after this date or time.", "time");
    const QCommandLineOption until(
        "until", "Events up to and including this date or time.", "time");
    const QCommandLineOption category("category", "Only this category.", "category");
    const QCommandLineOption user("user", "Only this user.", "user");
    const QCommandLineOption outcome(
        "outcome", "Only success (or 1), or failure (or 0: any outcome but success).", "outcome");
    const QCommandLineOption gap("gap", "Only events of this gap address.", "address");
    const QCommandLineOption kind("kind",
        "Only logins, logouts, sends or receives: " + auditKindNames().join(", ") + '.', "kind");
    const QCommandLineOption search("search",
        "Only events whose detail (file name, reason) contains this text; ASCII letters in "
        "either case.",
        "text");
    parser.addOptions({ db, format, since, until, category, user, outcome, gap, kind, search });
    parser.process(app);
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
        fail(QStringLiteral("--outcome takes success, failure, 1 or 0"));
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
