#include "audit/AuditTestSupport.h"
#include "chrome/FileManager.h"
#include "model/AuditLog.h"
#include "model/GlobalData.h"
#include "views/history/HistoryModel.h"
#include "views/history/HistoryView.h"

#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QHeaderView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>
#include <QtTest>

namespace {

using AuditTestSupport::StoredEvent;
using Ids = QList<qint64>;

constexpr int kWaitMs = 60000;

// Stored times in UTC of a local day and time, counted back from today.
QByteArray daysAgo(int days, const QTime &time = QTime(12, 0))
{
    const QDateTime local(QDate::currentDate().addDays(-days), time, Qt::LocalTime);
    return local.toUTC().toString(Qt::ISODateWithMs).toLatin1();
}

QByteArray transfer(const char *file, const char *peer, const char *message)
{
    return QByteArray("'10.0.0.5', '") + file + "', '" + peer + "', '" + message + "'";
}

// Event n has id n + 1; the times are chosen so that every range choice of the page cuts between
// them at any time of day.
QVector<StoredEvent> fixtureEvents()
{
    return {
        { daysAgo(0, QTime(0, 0, 0, 500)), "CLIENT_LOGIN", "登录", 1, "'10.0.0.5','登录成功'" },
        { daysAgo(3), "CLIENT_SEND", "发送", 1, transfer("report.pdf", "bob", "传输完毕") },
        { daysAgo(3), "CLIENT_SEND", "发送", 0,
            transfer("setup.exe", "bob", "不允许发送的文件类型") },
        { daysAgo(10), "CLIENT_RECV", "接收文件", 1,
            transfer("设备巡检记录.pdf", "dave", "接收完毕") },
        { daysAgo(40), "CLIENT_RECV", "接收文件", 0,
            transfer("Report-old.PDF", "dave", "文件存在病毒") },
        { daysAgo(400), "CLIENT_LOGIN", "登出", 1, "'10.0.0.5','客户端退出'" },
        { daysAgo(0, QTime(0, 0, 0, 600)), "CLIENT_SEND", "发送", 0,
            transfer("REPORT-final.docx", "bob", "链路故障稍后重发") },
        { daysAgo(5), "CLIENT_SEND", "发送", 1, transfer("shared.txt", "carol", "传输完毕") },
        { daysAgo(6), "CLIENT_RECV", "接收文件", 1, transfer("in.txt", "dave", "接收完毕"),
            "::ffff:10.0.0.1" },
        { daysAgo(7), "CLIENT_RECV", "接收文件", 1,
            transfer("月报/20261210_1321_周报.doc", "dave", "接收完毕") },
        { daysAgo(8), "CLIENT_RECV", "接收文件", 1, transfer("../carol-2/shared.txt", "dave", "接收完毕") },
    };
}

// The page's choices: the range and, for chosen days, how many days back they start and end.
struct Choice {
    int range = HistoryView::AllTime;
    int fromDaysAgo = 0;
    int toDaysAgo = 0;
    int kind = HistoryView::AnyKind;
    int outcome = HistoryView::AnyOutcome;
    QString search;
};

QString dateDaysAgo(int days) { return QDate::currentDate().addDays(-days).toString(Qt::ISODate); }

template <typename T> void clearRegistry(Registry<T> &registry)
{
    const QList<T *> records = registry.snapshot();
    registry.clear();
    qDeleteAll(records);
}

void addSendRule(const QByteArray &toUser, const QString &dir)
{
    auto *rule = new _SENDPATH_LISTDATA;
    copyToField(rule->GapIP, kHostIPSize, "10.0.0.1");
    copyToField(rule->FromUser, kUserNameSize, "张三");
    copyToField(rule->ToUser, kUserNameSize, toUser);
    rule->SendPath = dir;
    g_SendPathList.append(rule);
}

void addRecvRule(const QByteArray &fromUser, const QString &dir)
{
    auto *rule = new _RECVPATH_LISTDATA;
    copyToField(rule->GapIP, kHostIPSize, "10.0.0.1");
    copyToField(rule->FromUser, kUserNameSize, fromUser);
    rule->RecvPath = dir;
    g_RecvPathList.append(rule);
}

} // namespace

Q_DECLARE_METATYPE(Choice)

// The history page over a store of known events, and over one the library keeps writing.
class TestHistoryView : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_db = m_dir.filePath("audit.db");
        QString error;
        QVERIFY2(AuditTestSupport::createStore(m_db, fixtureEvents(), &error), qPrintable(error));
    }

    void cleanup()
    {
        clearRegistry(g_SendPathList);
        clearRegistry(g_RecvPathList);
    }

    void sameMeaningAsGapaudit_data()
    {
        QTest::addColumn<Choice>("choice");
        QTest::addColumn<QStringList>("arguments");

        const auto choice = [](int range, int kind, int outcome, const QString &search) {
            Choice c;
            c.range = range;
            c.kind = kind;
            c.outcome = outcome;
            c.search = search;
            return c;
        };
        const QString none;
        QTest::newRow("everything") << choice(HistoryView::AllTime, 0, 0, none) << QStringList();
        QTest::newRow("today") << choice(HistoryView::Today, 0, 0, none)
                               << QStringList { "--since", dateDaysAgo(0) };
        QTest::newRow("7 days") << choice(HistoryView::LastSevenDays, 0, 0, none)
                                << QStringList { "--since", dateDaysAgo(6) };
        QTest::newRow("30 days") << choice(HistoryView::LastThirtyDays, 0, 0, none)
                                 << QStringList { "--since", dateDaysAgo(29) };
        Choice chosen = choice(HistoryView::ChosenDays, 0, 0, none);
        chosen.fromDaysAgo = 10;
        chosen.toDaysAgo = 3;
        const QStringList chosenDays { "--since", dateDaysAgo(10), "--until", dateDaysAgo(3) };
        QTest::newRow("chosen days") << chosen << chosenDays;
        std::swap(chosen.fromDaysAgo, chosen.toDaysAgo);
        QTest::newRow("chosen days, ends swapped") << chosen << chosenDays;
        QTest::newRow("logins") << choice(HistoryView::AllTime, HistoryView::Logins, 0, none)
                                << QStringList { "--kind", "login" };
        QTest::newRow("logouts") << choice(HistoryView::AllTime, HistoryView::Logouts, 0, none)
                                 << QStringList { "--kind", "logout" };
        QTest::newRow("receives that failed")
            << choice(HistoryView::AllTime, HistoryView::Receives, HistoryView::Failures, none)
            << QStringList { "--kind", "receive", "--outcome", "failed" };
        QTest::newRow("refusals") << choice(HistoryView::AllTime, 0, HistoryView::Refusals, none)
                                  << QStringList { "--outcome", "refused" };
        QTest::newRow("files that wait") << choice(HistoryView::AllTime, 0, HistoryView::Waits, none)
                                         << QStringList { "--outcome", "waiting" };
        QTest::newRow("successes") << choice(HistoryView::AllTime, 0, HistoryView::Successes, none)
                                   << QStringList { "--outcome", "success" };
        QTest::newRow("search, typed with blanks around") << choice(HistoryView::AllTime, 0, 0,
            QStringLiteral(" report ")) << QStringList { "--search", "report" };
        QTest::newRow("7 days of sends that failed, searched")
            << choice(HistoryView::LastSevenDays, HistoryView::Sends, HistoryView::Failures, "REP")
            << QStringList { "--since", dateDaysAgo(6), "--kind", "send", "--outcome", "failed",
                   "--search", "rep" };
    }

    // The page lists exactly what gapaudit lists for the same choice, newest first.
    void sameMeaningAsGapaudit()
    {
        QFETCH(Choice, choice);
        QFETCH(QStringList, arguments);

        HistoryView view;
        view.setDatabase(m_db);
        choose(view, choice);
        view.applyFilter();
        QVERIFY(waitForRead(view.model()));
        Ids expected;
        const QByteArray json = gapaudit(arguments + QStringList { "--format", "json" });
        for (const QJsonValue event : QJsonDocument::fromJson(json).array())
            expected.prepend(event.toObject().value("id").toInt());
        QCOMPARE(shownIds(view.model()), expected);
        QVERIFY(!expected.isEmpty() || view.statusText() == QStringLiteral("没有符合条件的记录"));
    }

    // In the page of an 800 px window, with the chosen days shown, the filter bar wraps: every
    // control is in view, whole, and none covers another.
    void filterBarFitsANarrowWindow()
    {
        HistoryView view;
        view.setDatabase(m_db);
        view.rangeBox()->setCurrentIndex(HistoryView::ChosenDays);
        view.resize(638, 400);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QCOMPARE(view.width(), 638);
        const QList<QWidget *> controls { view.rangeBox(), view.fromDate(), view.toDate(),
            view.kindBox(), view.outcomeBox(), view.searchEdit(), view.openButton(),
            view.exportButton() };
        QList<QRect> taken;
        for (QWidget *control : controls) {
            QVERIFY(control->isVisible());
            const QRect place(control->mapTo(&view, QPoint(0, 0)), control->size());
            QVERIFY2(view.rect().contains(place), control->metaObject()->className());
            QVERIFY(control->width() >= control->minimumSizeHint().width());
            for (const QRect &other : qAsConst(taken))
                QVERIFY(!other.intersects(place));
            taken << place;
        }
        QVERIFY(view.table()->geometry().top() > view.exportButton()->geometry().bottom());

        // The table keeps what tells an event in view; the gap (and the user) give way.
        const QHeaderView *header = view.table()->horizontalHeader();
        QVERIFY(header->isSectionHidden(HistoryModel::Gap));
        for (const int column : { HistoryModel::Time, HistoryModel::Kind, HistoryModel::Outcome,
                 HistoryModel::File, HistoryModel::Message }) {
            QVERIFY(!header->isSectionHidden(column));
            QVERIFY(header->sectionViewportPosition(column) + header->sectionSize(column)
                <= view.table()->viewport()->width());
        }
    }

    void exportIsGapauditsCsv()
    {
        HistoryView view;
        view.setDatabase(m_db);
        Choice choice;
        choice.range = HistoryView::LastThirtyDays;
        choice.search = QStringLiteral("report");
        choose(view, choice);
        const QString file = m_dir.filePath("export.csv");
        QSignalSpy finished(&view, &HistoryView::exportFinished);
        view.exportCsv(file);
        QVERIFY(finished.wait(kWaitMs));
        QCOMPARE(finished.first().at(0).toBool(), true);
        QCOMPARE(finished.first().at(1).toInt(), 2);
        QFile exported(file);
        QVERIFY(exported.open(QIODevice::ReadOnly));
        QCOMPARE(exported.readAll(),
            gapaudit({ "--since", dateDaysAgo(29), "--search", "report", "--format", "csv" }));
        QCOMPARE(AuditTestSupport::fileMode(file), mode_t(0600));
        QTRY_VERIFY(view.exportButton()->isEnabled());
        QVERIFY(view.noticeText().contains(file));
    }

    void exportThatCannotBeWrittenSaysSo()
    {
        HistoryView view;
        view.setDatabase(m_db);
        QSignalSpy finished(&view, &HistoryView::exportFinished);
        view.exportCsv(m_dir.filePath("no-such-dir/export.csv"));
        QVERIFY(finished.wait(kWaitMs));
        QCOMPARE(finished.first().at(0).toBool(), false);
        QVERIFY2(view.noticeText().startsWith(QStringLiteral("导出失败：")),
            qPrintable(view.noticeText()));
    }

    // Scrolling down reads the next page after the last row, until the oldest event.
    void pagesFollowOneAnother()
    {
        HistoryModel model;
        model.setDatabase(m_db);
        model.setPageSize(2);
        model.setFilter(AuditFilter());
        QVERIFY(waitForRead(&model));
        QCOMPARE(model.rowCount(), 2);
        while (model.canFetchMore(QModelIndex())) {
            model.fetchMore(QModelIndex());
            QVERIFY(waitForRead(&model));
        }
        QVERIFY(model.atEnd());
        Ids expected;
        gapauditIds({}, &expected);
        QCOMPARE(shownIds(&model), expected);
    }

    void rowsShowTheEventsInWords()
    {
        HistoryModel model;
        model.setDatabase(m_db);
        model.setFilter(AuditFilter());
        QVERIFY(waitForRead(&model));
        const int row = rowOf(&model, 3); // the refused send
        QStringList texts;
        for (int column = 0; column < HistoryModel::ColumnCount; ++column)
            texts.append(model.index(row, column).data().toString());
        const QString time
            = QDateTime::fromString(QString::fromLatin1(daysAgo(3)), Qt::ISODateWithMs)
                  .toLocalTime()
                  .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
        QCOMPARE(texts,
            QStringList({ time, "发送", "10.0.0.1", "张三", "已拒绝", "setup.exe", "发往 bob",
                "不允许发送的文件类型" }));
        const QModelIndex outcome = model.index(row, HistoryModel::Outcome);
        QVERIFY(!outcome.data(Qt::DecorationRole).value<QIcon>().isNull());
        QCOMPARE(model.index(rowOf(&model, 6), HistoryModel::Kind).data().toString(),
            QStringLiteral("退出"));
        QCOMPARE(model.index(rowOf(&model, 4), HistoryModel::Peer).data().toString(),
            QStringLiteral("来自 dave"));
        QCOMPARE(outcome.data(Qt::ForegroundRole).value<QColor>(),
            QColor::fromRgba(TransferOutcome::colour(TransferOutcome::Refused)));
        QCOMPARE(model.index(rowOf(&model, 2), HistoryModel::Outcome)
                     .data(Qt::ForegroundRole)
                     .value<QColor>(),
            QColor::fromRgba(TransferOutcome::colour(TransferOutcome::Done)));
    }

    void openDirectory_data()
    {
        QTest::addColumn<int>("id");
        QTest::addColumn<QString>("directory"); // under the test's folder; empty: none known
        QTest::addColumn<QString>("shown"); // the file shown selected; empty: the folder opened

        QTest::newRow("send, by its users") << 2 << "bob-out"
                                            << "";
        QTest::newRow("receive, by its sender") << 4 << "dave-in"
                                                << "";
        QTest::newRow("receive from the gap written as IPv6") << 9 << "dave-in"
                                                              << "";
        QTest::newRow("two rules: the one holding the file")
            << 8 << "carol-2"
            << "carol-2/shared.txt";
        QTest::newRow("stored below the rule's directory")
            << 10 << "dave-in/月报"
            << "dave-in/月报/20261210_1321_周报.doc";
        QTest::newRow("a name that leads outside") << 11 << "dave-in"
                                                   << "";
        QTest::newRow("login") << 1 << ""
                               << "";
        QTest::newRow("rule whose directory is gone") << 5 << ""
                                                      << "";
    }

    void openDirectory()
    {
        QFETCH(int, id);
        QFETCH(QString, directory);
        QFETCH(QString, shown);

        QTemporaryDir dirs;
        for (const char *name : { "bob-out", "dave-in", "carol-1", "carol-2", "dave-in/月报" })
            QVERIFY(QDir(dirs.path()).mkpath(QString::fromUtf8(name)));
        for (const char *name : { "carol-2/shared.txt", "dave-in/月报/20261210_1321_周报.doc" }) {
            QFile held(dirs.filePath(QString::fromUtf8(name)));
            QVERIFY(held.open(QIODevice::WriteOnly));
        }
        addSendRule("bob", dirs.filePath("bob-out"));
        addSendRule("carol", dirs.filePath("carol-1"));
        addSendRule("carol", dirs.filePath("carol-2"));
        addRecvRule("dave", dirs.filePath("dave-in"));
        if (id == 5) {
            clearRegistry(g_RecvPathList);
            addRecvRule("dave", dirs.filePath("gone"));
        }
        QList<QPair<int, QString>> opened;
        FileManager::setHandler([&opened](const FileManagerRequest &request) {
            opened.append(qMakePair(int(request.action), request.path));
            return true;
        });
        HistoryView view;
        view.setDatabase(m_db);
        view.applyFilter();
        QVERIFY(waitForRead(view.model()));
        const int row = rowOf(view.model(), id);
        view.table()->setCurrentIndex(view.model()->index(row, 0));

        const QString expected = directory.isEmpty() ? QString() : dirs.filePath(directory);
        QCOMPARE(view.directoryOf(row), expected);
        QCOMPARE(view.openButton()->isEnabled(), !directory.isEmpty());
        const QRect cell = view.table()->visualRect(view.model()->index(row, 0));
        const std::unique_ptr<QMenu> menu = view.createContextMenu(cell.center());
        QVERIFY(menu);
        QCOMPARE(menu->actions().first()->text(), QStringLiteral("打开所在目录"));
        QCOMPARE(menu->actions().first()->isEnabled(), !directory.isEmpty());
        view.openButton()->click();
        FileManager::setHandler(nullptr);
        QList<QPair<int, QString>> expectedRequests;
        if (!shown.isEmpty())
            expectedRequests.append(qMakePair(int(FileManagerRequest::ShowFile), dirs.filePath(shown)));
        else if (!directory.isEmpty())
            expectedRequests.append(qMakePair(int(FileManagerRequest::OpenFolder), expected));
        QCOMPARE(opened, expectedRequests);
    }

    // Without a store the page says so, creates none, and shows the events once one appears.
    void waitsForAStore()
    {
        const QString later = m_dir.filePath("later.db");
        HistoryView view;
        view.setDatabase(later);
        view.show();
        QTRY_COMPARE_WITH_TIMEOUT(view.model()->state(), HistoryModel::NoStore, kWaitMs);
        QVERIFY2(view.statusText().contains(later), qPrintable(view.statusText()));
        QVERIFY(!QFile::exists(later));
        QString error;
        QVERIFY2(AuditTestSupport::createStore(later, fixtureEvents().mid(0, 2), &error),
            qPrintable(error));
        QTRY_COMPARE_WITH_TIMEOUT(view.model()->rowCount(), 2, kWaitMs);
        QCOMPARE(view.statusText(), QStringLiteral("共 2 条记录"));
    }

    // The library goes on writing while two pages read: every event reaches the page that shows
    // everything, only failed sends the other, the GUI thread never waits, and the store keeps
    // its owner-only mode and gains the index that the library creates.
    void followsWhatTheLibraryWrites()
    {
        const QString live = m_dir.filePath("live.db");
        // A store from before the index the page's kinds need: the library adds it when it opens.
        QString error;
        QVERIFY2(AuditTestSupport::createStore(live, {}, &error), qPrintable(error));
        AUDIT_QUERY(dropped, live, "DROP INDEX events_kind_time");
        qputenv("VARKO_DLOG_LIBRARY", AuditTestSupport::builtFile("libdlog.so").toLocal8Bit());
        qputenv("DLOG_DB", live.toLocal8Bit());
        QVERIFY(AuditLog::available());
        AuditLog::record("10.0.0.1", "CLIENT_LOGIN", "张三", "登录", 1, "'10.0.0.5','登录成功'");
        HistoryView all;
        all.setDatabase(live);
        all.show();
        HistoryView failedSends;
        failedSends.setDatabase(live);
        failedSends.kindBox()->setCurrentIndex(HistoryView::Sends);
        failedSends.outcomeBox()->setCurrentIndex(HistoryView::Failures);
        failedSends.show();
        QTRY_COMPARE_WITH_TIMEOUT(all.model()->rowCount(), 1, kWaitMs);

        constexpr int kEvents = 150;
        constexpr int kFailureEvery = 5;
        std::unique_ptr<QThread> writer(QThread::create([] {
            for (int n = 0; n < kEvents; ++n) {
                const QByteArray detail = transfer(
                    QByteArray("file-" + QByteArray::number(n)).constData(), "bob", "传输完毕");
                AuditLog::record(
                    "10.0.0.1", "CLIENT_SEND", "张三", "发送", n % kFailureEvery ? 1 : 0, detail);
            }
        }));
        writer->start();
        QTRY_COMPARE_WITH_TIMEOUT(all.model()->rowCount(), 1 + kEvents, kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(
            failedSends.model()->rowCount(), kEvents / kFailureEvery, kWaitMs);
        QVERIFY(writer->wait(kWaitMs));

        const QByteArray newest = "'10.0.0.5', 'file-" + QByteArray::number(kEvents - 1) + "'";
        QVERIFY(all.model()->historyRow(0).event.detail.startsWith(newest));
        QCOMPARE(shownIdSet(all.model()).size(), all.model()->rowCount());
        AUDIT_QUERY(rows, live, "SELECT count(*) FROM events");
        QCOMPARE(rows.first().first().toInt(), 1 + kEvents);
        QCOMPARE(AuditTestSupport::fileMode(live), mode_t(0600));
        AUDIT_QUERY(index, live, "SELECT name FROM sqlite_master WHERE name = 'events_kind_time'");
        QCOMPARE(index.size(), 1);
    }

private:
    static void choose(HistoryView &view, const Choice &choice)
    {
        view.rangeBox()->setCurrentIndex(choice.range);
        view.fromDate()->setDate(QDate::currentDate().addDays(-choice.fromDaysAgo));
        view.toDate()->setDate(QDate::currentDate().addDays(-choice.toDaysAgo));
        view.kindBox()->setCurrentIndex(choice.kind);
        view.outcomeBox()->setCurrentIndex(choice.outcome);
        view.searchEdit()->setText(choice.search);
    }

    static bool waitForRead(HistoryModel *model)
    {
        return QTest::qWaitFor(
            [model] { return model->state() == HistoryModel::Loaded && !model->reading(); },
            kWaitMs);
    }

    static Ids shownIds(const HistoryModel *model)
    {
        Ids ids;
        for (int row = 0; row < model->rowCount(); ++row)
            ids.append(model->historyRow(row).event.id);
        return ids;
    }

    static QSet<qint64> shownIdSet(const HistoryModel *model)
    {
        const Ids ids = shownIds(model);
        return QSet<qint64>(ids.begin(), ids.end());
    }

    static int rowOf(const HistoryModel *model, qint64 id) { return shownIds(model).indexOf(id); }

    QByteArray gapaudit(const QStringList &arguments)
    {
        return AuditTestSupport::gapaudit(m_db, arguments);
    }

    void gapauditIds(const QStringList &arguments, Ids *ids)
    {
        const QByteArray json = gapaudit(arguments + QStringList { "--format", "json" });
        for (const QJsonValue event : QJsonDocument::fromJson(json).array())
            ids->prepend(event.toObject().value("id").toInt());
    }

    QTemporaryDir m_dir;
    QString m_db;
};

QTEST_MAIN(TestHistoryView)
#include "tst_historyview.moc"
