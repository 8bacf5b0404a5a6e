// Fills an audit database with many events (1 000 000 by default) spread over the past year, as
// the library would have written them, and prints how long the history page's first page (200
// events, newest first) takes for each of its filters, read through the same query layer the
// page uses. Also the next page, and the once-a-second look for new events. It reports; it never
// fails on a figure.
//
//     history_bench [--events 1000000] [--db NEW-FILE]
//
// bench/history_bench.sh builds and runs it.

#include "audit/AuditQuery.h"
#include "audit/AuditSchema.h"
#include "bench/BenchSupport.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <ctime>
#include <functional>
#include <sqlite3.h>

namespace {

using BenchSupport::secondsOf;

constexpr int kPageSize = 200;
constexpr int kSecondsPerYear = 365 * 24 * 3600;
constexpr int kPercent = 100;
constexpr int kFailurePercent = 3;
constexpr int kMilliseconds = 1000;

struct Kind {
    const char *category;
    const char *operation;
    int percent; // of all events
};

// Mostly transfers; a login and a logout now and then.
const Kind kKinds[] = {
    { "CLIENT_SEND", "发送", 47 },
    { "CLIENT_RECV", "接收文件", 47 },
    { "CLIENT_LOGIN", "登录", 3 },
    { "CLIENT_LOGIN", "登出", 3 },
};

const Kind &kindOf(int n)
{
    int slot = n % kPercent;
    for (const Kind &kind : kKinds) {
        if (slot < kind.percent)
            return kind;
        slot -= kind.percent;
    }
    return kKinds[0];
}

QByteArray detailOf(const Kind &kind, int n, bool success)
{
    if (QByteArray(kind.category) == "CLIENT_LOGIN")
        return success ? "'10.0.0.5','登录成功'" : "'10.0.0.5','密码错误'";
    const QByteArray message = success ? "传输完毕" : "文件存在过滤关键字";
    return "'10.0.0.5', '季度报告-" + QByteArray::number(n) + ".pdf', '李四', '" + message + "'";
}

bool exec(sqlite3 *db, const char *sql)
{
    char *error = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &error) == SQLITE_OK)
        return true;
    std::fprintf(stderr, "history_bench: %s\n", error);
    sqlite3_free(error);
    return false;
}

// Event n of count happened (count - n) steps before now, so that the last one is the newest.
bool fill(const QString &path, int count)
{
    sqlite3 *db = nullptr;
    sqlite3_stmt *insert = nullptr;
    const QByteArray name = path.toLocal8Bit();
    bool ok = sqlite3_open(name.constData(), &db) == SQLITE_OK
        && exec(db, "PRAGMA journal_mode=WAL") && exec(db, AuditSchema::kCreate)
        && exec(db, "BEGIN")
        && sqlite3_prepare_v2(db, AuditSchema::kInsert, -1, &insert, nullptr) == SQLITE_OK;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const double step = double(kSecondsPerYear) / count;
    for (int n = 0; ok && n < count; ++n) {
        const Kind &kind = kindOf(n);
        const bool success = n % (kPercent / kFailurePercent) != 0;
        const QDateTime at = now.addMSecs(-qint64((count - n) * step * kMilliseconds));
        const QByteArray utc = at.toString(Qt::ISODateWithMs).toLatin1();
        const QByteArray local = at.toLocalTime()
                                     .toOffsetFromUtc(at.toLocalTime().offsetFromUtc())
                                     .toString(Qt::ISODateWithMs)
                                     .toLatin1();
        const QByteArray detail = detailOf(kind, n, success);
        sqlite3_bind_text(insert, 1, utc.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 2, local.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 3, "10.0.0.1", -1, SQLITE_STATIC);
        sqlite3_bind_text(insert, 4, kind.category, -1, SQLITE_STATIC);
        sqlite3_bind_text(insert, 5, "张三", -1, SQLITE_STATIC);
        sqlite3_bind_text(insert, 6, kind.operation, -1, SQLITE_STATIC);
        sqlite3_bind_int(insert, 7, success ? 1 : 0);
        sqlite3_bind_text(insert, 8, detail.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int(insert, 9, 1);
        sqlite3_bind_int(insert, 10, 1);
        ok = sqlite3_step(insert) == SQLITE_DONE && sqlite3_reset(insert) == SQLITE_OK;
    }
    ok = ok && exec(db, "COMMIT");
    sqlite3_finalize(insert);
    sqlite3_close(db);
    return ok;
}

struct Case {
    const char *name;
    std::function<void(AuditFilter *)> set;
};

QList<Case> cases(int count)
{
    const QDate today = QDate::currentDate();
    const QString old = QStringLiteral("季度报告-%1.pdf").arg(count / 10);
    return {
        { "all events", [](AuditFilter *) {} },
        { "today", [today](AuditFilter *f) { f->setDays(today, {}); } },
        { "7 days", [today](AuditFilter *f) { f->setDays(today.addDays(-6), {}); } },
        { "30 days", [today](AuditFilter *f) { f->setDays(today.addDays(-29), {}); } },
        { "chosen range, 3 days half a year ago",
            [today](AuditFilter *f) { f->setDays(today.addDays(-182), today.addDays(-180)); } },
        { "logins", [](AuditFilter *f) { f->kind = AuditKind::Login; } },
        { "sends", [](AuditFilter *f) { f->kind = AuditKind::Send; } },
        { "receives", [](AuditFilter *f) { f->kind = AuditKind::Receive; } },
        { "logouts", [](AuditFilter *f) { f->kind = AuditKind::Logout; } },
        { "successes", [](AuditFilter *f) { f->outcome = AuditFilter::Success; } },
        { "failures", [](AuditFilter *f) { f->outcome = AuditFilter::Failure; } },
        { "logouts that failed",
            [](AuditFilter *f) {
                f->kind = AuditKind::Logout;
                f->outcome = AuditFilter::Failure;
            } },
        { "search: common text", [](AuditFilter *f) { f->search = QStringLiteral("PDF"); } },
        { "search: one file from 10 months ago", [old](AuditFilter *f) { f->search = old; } },
        { "search: no match", [](AuditFilter *f) { f->search = QStringLiteral("nowhere.doc"); } },
        { "search: no match, 7 days",
            [today](AuditFilter *f) {
                f->setDays(today.addDays(-6), {});
                f->search = QStringLiteral("nowhere.doc");
            } },
        { "sends, failed, 30 days, search",
            [today](AuditFilter *f) {
                f->setDays(today.addDays(-29), {});
                f->kind = AuditKind::Send;
                f->outcome = AuditFilter::Failure;
                f->search = QStringLiteral("季度报告");
            } },
    };
}

double threadCpuSeconds()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// Wall-clock and CPU time of one read (the CPU time tells what a loaded machine hides), and the
// events it returned.
void measure(const char *what, const std::function<int()> &read)
{
    int events = 0;
    const double cpuBefore = threadCpuSeconds();
    const double wall = secondsOf([&] { events = read(); });
    const double cpu = threadCpuSeconds() - cpuBefore;
    std::printf("  %-42s %8.1f ms wall %8.1f ms CPU %4d events\n", what, wall * kMilliseconds,
        cpu * kMilliseconds, events);
}

int run(const QString &path, int count)
{
    AuditQuery query;
    if (!query.open(path)) {
        std::fprintf(stderr, "history_bench: %s\n", qPrintable(query.errorString()));
        return 1;
    }
    const auto pageOf = [&query](const AuditFilter &filter, const AuditEvent &after) {
        AuditPage page;
        query.newestFirst(filter, after, kPageSize, &page);
        return page;
    };
    std::printf("first page of %d, newest first, per filter:\n", kPageSize);
    for (const Case &c : cases(count)) {
        AuditFilter filter;
        c.set(&filter);
        measure(c.name, [&] { return pageOf(filter, AuditEvent()).events.size(); });
    }
    const AuditPage first = pageOf(AuditFilter(), AuditEvent());
    std::printf("then:\n");
    measure("next page, all events",
        [&] { return pageOf(AuditFilter(), first.events.last()).events.size(); });
    AuditFilter news;
    news.afterId = first.lastId;
    measure("look for new events (none)", [&] { return pageOf(news, AuditEvent()).events.size(); });
    news.afterId = first.lastId - 10;
    news.outcome = AuditFilter::Failure;
    measure("look for new failures among 10 new events",
        [&] { return pageOf(news, AuditEvent()).events.size(); });
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption events("events", "Events to store.", "count", "1000000");
    const QCommandLineOption db("db", "Database to fill (default: a temporary one).", "file");
    parser.addOptions({ events, db });
    parser.process(app);
    const int count = parser.value(events).toInt();
    QTemporaryDir dir;
    const QString path = parser.isSet(db) ? parser.value(db) : dir.filePath("audit.db");
    if (QFile::exists(path)) {
        std::fprintf(
            stderr, "history_bench: %s exists; it fills a new database\n", qPrintable(path));
        return 1;
    }
    std::printf("filling %s with %d events...\n", qPrintable(path), count);
    double seconds = 0;
    bool filled = false;
    seconds = secondsOf([&] { filled = fill(path, count); });
    if (!filled)
        return 1;
    std::printf("filled in %.1f s\n", seconds);
    return run(path, count);
}
