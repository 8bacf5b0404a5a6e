#include "AuditTestSupport.h"
#include "audit/AuditDetail.h"
#include "audit/AuditQuery.h"

#include <QTemporaryDir>
#include <QtTest>
#include <ctime>
#include <functional>

namespace {

using AuditTestSupport::StoredEvent;
using Ids = QList<qint64>;
using FilterSetter = std::function<void(AuditFilter *)>;

const QByteArray kLogin = "'10.0.0.5','登录成功'";

// Event n has id n + 1. Three share a time, and the last but one was stored after the clock
// stepped back.
const QVector<StoredEvent> kEvents = {
    { "2026-03-01T08:00:00.000Z", "CLIENT_LOGIN", "登录", 1, kLogin },
    { "2026-03-01T09:00:00.000Z", "CLIENT_SEND", "发送", 1,
        "'10.0.0.5', 'Report.PDF', '李四', '传输完毕'" },
    { "2026-03-01T09:00:00.000Z", "CLIENT_RECV", "接收文件", 0,
        "'10.0.0.5', '100%_done.txt', '李四', '文件存在病毒'" },
    { "2026-03-01T09:00:00.000Z", "CLIENT_SEND", "发送", 0,
        "'10.0.0.5', '月报', 'x.txt', '李四', '不允许发送的文件类型'" },
    { "2026-03-02T10:00:00.000Z", "CLIENT_RECV", "接收文件", 1,
        "'10.0.0.5', '设备巡检记录.pdf', '王五', '接收完毕'" },
    { "2026-03-03T23:59:59.999Z", "CLIENT_LOGIN", "登出", 1, "'10.0.0.5','客户端退出'" },
    { "2026-03-04T00:00:00.000Z", "OTHER", "x", 2, "free text" },
    { "2026-03-01T08:30:00.000Z", "CLIENT_SEND", "发送", 1,
        "'10.0.0.5', 'late.txt', '李四', '传输完毕'" },
};

// Newest first: by time, then by id.
const Ids kAll = { 7, 6, 5, 4, 3, 2, 8, 1 };

Ids idsOf(const QVector<AuditEvent> &events)
{
    Ids ids;
    for (const AuditEvent &event : events)
        ids.append(event.id);
    return ids;
}

} // namespace

Q_DECLARE_METATYPE(FilterSetter)

// The query layer that gapaudit and the history page share, over a store of known events.
class TestAuditQuery : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // Dates are local days; the fixture's times are UTC.
        qputenv("TZ", "UTC");
        tzset();
        QVERIFY(m_dir.isValid());
        m_db = m_dir.filePath("audit.db");
        QString error;
        QVERIFY2(AuditTestSupport::createStore(m_db, kEvents, &error), qPrintable(error));
        QVERIFY(m_query.open(m_db));
    }

    void filters_data()
    {
        QTest::addColumn<FilterSetter>("set");
        QTest::addColumn<Ids>("ids");

        const auto kind = [](AuditKind k) { return [k](AuditFilter *f) { f->kind = k; }; };
        const auto search = [](const char *text) {
            return [text](AuditFilter *f) { f->search = QString::fromUtf8(text); };
        };
        const auto days = [](const char *first, const char *last) {
            return [first, last](AuditFilter *f) {
                f->setDays(
                    QDate::fromString(first, Qt::ISODate), QDate::fromString(last, Qt::ISODate));
            };
        };
        QTest::newRow("everything") << FilterSetter([](AuditFilter *) {}) << kAll;
        QTest::newRow("logins") << FilterSetter(kind(AuditKind::Login)) << Ids { 1 };
        QTest::newRow("logouts") << FilterSetter(kind(AuditKind::Logout)) << Ids { 6 };
        QTest::newRow("sends") << FilterSetter(kind(AuditKind::Send)) << Ids { 4, 2, 8 };
        QTest::newRow("receives") << FilterSetter(kind(AuditKind::Receive)) << Ids { 5, 3 };
        QTest::newRow("successes")
            << FilterSetter([](AuditFilter *f) { f->outcome = AuditFilter::Success; })
            << Ids { 6, 5, 2, 8, 1 };
        QTest::newRow("failures are anything but success")
            << FilterSetter([](AuditFilter *f) { f->outcome = AuditFilter::Failure; })
            << Ids { 7, 4, 3 };
        QTest::newRow("search in either case") << FilterSetter(search("report.pdf")) << Ids { 2 };
        QTest::newRow("search in Chinese") << FilterSetter(search("巡检")) << Ids { 5 };
        QTest::newRow("search: % is a character") << FilterSetter(search("%")) << Ids { 3 };
        QTest::newRow("search: _ is a character") << FilterSetter(search("0%_d")) << Ids { 3 };
        QTest::newRow("search: the separator in a file name")
            << FilterSetter(search("', 'x.txt")) << Ids { 4 };
        QTest::newRow("days, both ends whole")
            << FilterSetter(days("2026-03-02", "2026-03-03")) << Ids { 6, 5 };
        QTest::newRow("days from") << FilterSetter(days("2026-03-04", "")) << Ids { 7 };
        QTest::newRow("days to") << FilterSetter(days("", "2026-03-01")) << Ids { 4, 3, 2, 8, 1 };
        QTest::newRow("sends that failed") << FilterSetter([](AuditFilter *f) {
            f->kind = AuditKind::Send;
            f->outcome = AuditFilter::Failure;
        }) << Ids { 4 };
        QTest::newRow("stored after an id")
            << FilterSetter([](AuditFilter *f) { f->afterId = 5; }) << Ids { 7, 6, 8 };
        QTest::newRow("failures stored after an id") << FilterSetter([](AuditFilter *f) {
            f->afterId = 5;
            f->outcome = AuditFilter::Failure;
        }) << Ids { 7 };
    }

    // Newest first and oldest first list the same events.
    void filters()
    {
        QFETCH(FilterSetter, set);
        QFETCH(Ids, ids);

        AuditFilter filter;
        set(&filter);
        AuditPage page;
        QVERIFY2(m_query.newestFirst(filter, AuditEvent(), kEvents.size(), &page),
            qPrintable(m_query.errorString()));
        QCOMPARE(idsOf(page.events), ids);
        QCOMPARE(page.lastId, qint64(kEvents.size()));
        Ids oldestFirst;
        QVERIFY(m_query.forEach(
            filter, [&oldestFirst](const AuditEvent &e) { oldestFirst.prepend(e.id); }));
        QCOMPARE(oldestFirst, ids);
    }

    // Every page size walks the whole list once, also where a page ends between events of the
    // same time.
    void pagesFollowOneAnother()
    {
        for (int limit = 1; limit <= kEvents.size() + 1; ++limit) {
            Ids walked;
            AuditEvent after;
            AuditPage page;
            do {
                QVERIFY(m_query.newestFirst(AuditFilter(), after, limit, &page));
                walked += idsOf(page.events);
                if (!page.events.isEmpty())
                    after = page.events.last();
            } while (page.events.size() == limit);
            QCOMPARE(walked, kAll);
        }
    }

    void nothingStoredSinceGivesAnEmptyPage()
    {
        AuditFilter filter;
        filter.afterId = kEvents.size();
        AuditPage page;
        QVERIFY(m_query.newestFirst(filter, AuditEvent(), 10, &page));
        QVERIFY(page.events.isEmpty());
        QCOMPARE(page.lastId, qint64(kEvents.size()));
    }

    void cancelledReadGivesUp()
    {
        m_query.setCancelCheck([] { return true; });
        AuditPage page;
        AuditFilter filter;
        filter.search = QStringLiteral("nowhere");
        QVERIFY(!m_query.newestFirst(filter, AuditEvent(), 10, &page));
        QVERIFY(m_query.cancelled());
        m_query.setCancelCheck({});
        QVERIFY(m_query.newestFirst(filter, AuditEvent(), 10, &page));
        QVERIFY(!m_query.cancelled());
    }

    // Reading neither creates a store nor changes one.
    void readsOnly()
    {
        AuditQuery missing;
        const QString none = m_dir.filePath("none.db");
        QVERIFY(!missing.open(none));
        QVERIFY(missing.missing());
        QVERIFY(!QFile::exists(none));
        QCOMPARE(AuditTestSupport::fileMode(m_db), mode_t(0600));
        AUDIT_QUERY(rows, m_db, "SELECT count(*) FROM events");
        QCOMPARE(rows.first().first().toInt(), kEvents.size());
    }

    void detailParts_data()
    {
        QTest::addColumn<QByteArray>("detail");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QByteArrayList>("parts"); // address, file, user, message

        const int login = int(AuditKind::Login);
        const int send = int(AuditKind::Send);
        QTest::newRow("login") << kLogin << login
                               << QByteArrayList { "10.0.0.5", "", "", "登录成功" };
        QTest::newRow("login without an address") << QByteArray("'','连接网闸失败'") << login
                                                  << QByteArrayList { "", "", "", "连接网闸失败" };
        QTest::newRow("transfer") << kEvents[1].detail << send
                                  << QByteArrayList { "10.0.0.5", "Report.PDF", "李四",
                                         "传输完毕" };
        QTest::newRow("file name holding the separator")
            << kEvents[3].detail << send
            << QByteArrayList { "10.0.0.5", "月报', 'x.txt", "李四", "不允许发送的文件类型" };
        QTest::newRow("another shape is all message")
            << QByteArray("'a', 'b'") << send << QByteArrayList { "", "", "", "'a', 'b'" };
        QTest::newRow("another kind is all message")
            << kLogin << int(AuditKind::Other) << QByteArrayList { "", "", "", kLogin };
    }

    void detailParts()
    {
        QFETCH(QByteArray, detail);
        QFETCH(int, kind);
        QFETCH(QByteArrayList, parts);

        const AuditDetail d = AuditDetail::parse(detail, AuditKind(kind));
        QCOMPARE(QByteArrayList({ d.localAddress, d.fileName, d.peerUser, d.message }), parts);
    }

private:
    QTemporaryDir m_dir;
    QString m_db;
    AuditQuery m_query;
};

QTEST_GUILESS_MAIN(TestAuditQuery)
#include "tst_auditquery.moc"
