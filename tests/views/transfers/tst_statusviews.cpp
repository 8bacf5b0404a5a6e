#include "model/GlobalData.h"
#include "model/TransferStateInfo.h"
#include "support/TestSupport.h"
#include "views/table/ColumnFitter.h"
#include "views/table/SeparatedHeader.h"
#include "views/transfers/RecvStatusView.h"
#include "views/transfers/SendStatusView.h"
#include "views/transfers/TransferDelegate.h"
#include "views/transfers/TransferItem.h"

#include <QAbstractButton>
#include <QApplication>
#include <QHeaderView>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QThreadPool>
#include <QTimer>
#include <QTreeWidget>
#include <QWindow>
#include <QtTest>
#include <memory>
#include <numeric>

namespace {

// The chunk colours of a running and of a done row's bar.
const QRgb kChunkColour = qRgb(0x77, 0xAA, 0xEE);
const QRgb kDoneChunkColour = qRgb(0x8B, 0xCB, 0x8E);

// A send or a receive status view, by name.
std::unique_ptr<TransferStatusView> makeView(const QString &kind)
{
    if (kind == QLatin1String("send"))
        return std::make_unique<SendStatusView>();
    return std::make_unique<RecvStatusView>();
}

// Rows named "row 0" (top) to "row N-1", without workers.
void fillRows(QTreeWidget *tree, int count)
{
    QList<QTreeWidgetItem *> rows;
    rows.reserve(count);
    for (int row = 0; row < count; ++row)
        rows << new QTreeWidgetItem(QStringList { QStringLiteral("row %1").arg(row) });
    tree->addTopLevelItems(rows);
}

// A row that says when it is deleted.
class WatchedItem : public QTreeWidgetItem
{
public:
    WatchedItem(const QString &name, bool *deleted)
        : QTreeWidgetItem(QStringList { name })
        , m_deleted(deleted)
    {
    }
    ~WatchedItem() override { *m_deleted = true; }

private:
    bool *m_deleted;
};

QStringList rowNames(const QTreeWidget *tree)
{
    QStringList names;
    for (int row = 0; row < tree->topLevelItemCount(); ++row)
        names << tree->topLevelItem(row)->text(0);
    return names;
}

QPushButton *clearButton(const QWidget &view)
{
    const QList<QPushButton *> buttons = view.findChildren<QPushButton *>();
    for (QPushButton *button : buttons) {
        if (button->text() == QStringLiteral("清除数据"))
            return button;
    }
    return nullptr;
}

// The share of a cell's pixels painted in the bar's chunk colour.
double chunkShare(const QImage &image, const QRect &cell, QRgb colour = kChunkColour)
{
    int chunk = 0;
    for (int y = cell.top(); y <= cell.bottom(); ++y) {
        for (int x = cell.left(); x <= cell.right(); ++x)
            chunk += image.pixel(x, y) == colour;
    }
    return double(chunk) / (cell.width() * cell.height());
}

TransferStateInfo sampleRow(const QString &name, const QString &progress, const QString &status)
{
    const QStringList texts { name, QStringLiteral("12.5 Mbps"), progress, QStringLiteral("1.2 GB"),
        QStringLiteral("path-key-01"), QStringLiteral("2026-12-10 04:50:01"),
        QStringLiteral("2026-12-10 04:52:37"), status };
    TransferStateInfo info;
    for (int column = 0; column < texts.size(); ++column)
        info.setText(column, texts.at(column));
    return info;
}

// A row as a worker reports it: end time and status decide its outcome.
TransferStateInfo rowOf(const QString &name, const QString &status, const QString &endTime,
    const QString &progress = QStringLiteral("0"), const QString &rate = QStringLiteral("0 Mbps"))
{
    TransferStateInfo info = sampleRow(name, progress, status);
    info.setText(TransferStateInfo::EndTime, endTime);
    info.setText(TransferStateInfo::Rate, rate);
    return info;
}

const QString kEnd = QStringLiteral("2026-12-10 13:21:21");

// One row of each outcome, top to bottom: running, done, refused, failed, and a row that
// retries (running although it has an end time).
void addRowOfEachOutcome(TransferStatusView &view)
{
    const QList<TransferStateInfo> rows {
        rowOf(QStringLiteral("retry.bin"),
            QStringLiteral("接收端文件校验失败/稍后重发(错误代码:15)"), kEnd),
        rowOf(QStringLiteral("failed.bin"), QStringLiteral("文件多次发送失败/暂停发送"), kEnd),
        rowOf(QStringLiteral("refused.txt"), QStringLiteral("文件存在过滤关键字"), kEnd, "1"),
        rowOf(QStringLiteral("done.pdf"), QStringLiteral("文件发送成功 "), kEnd, "1"),
        rowOf(QStringLiteral("running.iso"), QStringLiteral("正在发送中"), QString(), "0.25",
            QStringLiteral("108.516 MB/s")),
    };
    for (const TransferStateInfo &info : rows) {
        auto *item = new TransferItem(qintptr(-1));
        view.addRow(item);
        item->onUpdateRequest(info);
    }
}

QStringList shownRowNames(const QTreeWidget *tree)
{
    QStringList names;
    for (int row = 0; row < tree->topLevelItemCount(); ++row) {
        if (!tree->topLevelItem(row)->isHidden())
            names << tree->topLevelItem(row)->text(0);
    }
    return names;
}

} // namespace

class TestStatusViews : public QObject
{
    Q_OBJECT

private slots:
    void formHasItsTexts_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("send") << QStringLiteral("send");
        QTest::newRow("recv") << QStringLiteral("recv");
    }

    void formHasItsTexts()
    {
        QFETCH(QString, kind);
        const auto view = makeView(kind);
        QTreeWidget *tree = view->tree();
        QStringList headers;
        for (int column = 0; column < tree->columnCount(); ++column)
            headers << tree->headerItem()->text(column);
        QCOMPARE(headers,
            QStringList(
                { "文件名", "速率", "进度", "大小", "传输路径", "开始时间", "结束时间", "状态" }));
        QCOMPARE(tree->header()->styleSheet(),
            QStringLiteral("QHeaderView::section{background:#E4EBFE;color:#41444b;border:0px solid "
                           "black;height:30px;font-size:15px;}"));
        QCOMPARE(tree->contextMenuPolicy(), Qt::CustomContextMenu);
        QVERIFY(qobject_cast<TransferDelegate *>(tree->itemDelegate()));
        QPushButton *button = clearButton(*view);
        QVERIFY(button);
        QCOMPARE(button->text(), QStringLiteral("清除数据"));
        QVERIFY(button->isCheckable());
        QVERIFY(!button->isDefault());
        QVERIFY(!button->autoDefault());
    }

    void newRowGoesOnTopAndOldestDrops_data()
    {
        QTest::addColumn<int>("before");
        QTest::newRow("empty") << 0;
        QTest::newRow("4096 rows keep all") << 4096;
        QTest::newRow("4097 rows drop the oldest") << 4097;
    }

    void newRowGoesOnTopAndOldestDrops()
    {
        QFETCH(int, before);
        RecvStatusView view;
        QTreeWidget *tree = view.tree();
        fillRows(tree, before);
        const QStringList old = rowNames(tree);
        bool oldestDeleted = false;
        if (before > TransferStatusView::kOldestRowKept) {
            // The dropped row must really be deleted, not only unlisted.
            delete tree->takeTopLevelItem(TransferStatusView::kOldestRowKept);
            tree->addTopLevelItem(new WatchedItem(old.last(), &oldestDeleted));
        }

        auto *item = new TransferItem(qintptr(-1));
        item->setText(0, QStringLiteral("new"));
        view.addRow(item);

        QCOMPARE(oldestDeleted, before > TransferStatusView::kOldestRowKept);
        const QStringList expected = QStringList { QStringLiteral("new") }
            + old.mid(0, TransferStatusView::kOldestRowKept);
        QCOMPARE(tree->topLevelItemCount(), expected.size());
        QCOMPARE(rowNames(tree), expected);
        QCOMPARE(tree->topLevelItem(0), item);
    }

    void clearButtonChecksThenAsks_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("busy");
        QTest::addColumn<int>("answer");
        QTest::addColumn<int>("icon");
        QTest::addColumn<bool>("parented");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("buttons");
        QTest::addColumn<int>("rowsAfter");

        const int critical = PromptRequest::Critical;
        const int question = PromptRequest::Question;
        const int yesNo = PromptRequest::Yes | PromptRequest::No;
        const int yes = PromptRequest::Yes;
        const int no = PromptRequest::No;
        const QString ask = QStringLiteral("确认清除？");
        QTest::newRow("send while sending")
            << "send" << true << yes << critical << false << QStringLiteral("请先停止发送")
            << int(PromptRequest::Ok) << 3;
        QTest::newRow("recv while receiving")
            << "recv" << true << yes << critical << false << QStringLiteral("正在接收文件中")
            << int(PromptRequest::Ok) << 3;
        QTest::newRow("send, answered No")
            << "send" << false << no << question << true << ask << yesNo << 3;
        QTest::newRow("send, answered Yes")
            << "send" << false << yes << question << true << ask << yesNo << 0;
        QTest::newRow("recv, answered Yes")
            << "recv" << false << yes << question << true << ask << yesNo << 0;
    }

    void clearButtonChecksThenAsks()
    {
        QFETCH(QString, kind);
        QFETCH(bool, busy);
        QFETCH(int, answer);
        QFETCH(int, icon);
        QFETCH(bool, parented);
        QFETCH(QString, text);
        QFETCH(int, buttons);
        QFETCH(int, rowsAfter);

        const auto view = makeView(kind);
        fillRows(view->tree(), 3);
        // An idle receive rule beside a busy one: one busy rule is enough to refuse.
        _RECVPATH_LISTDATA idleRule;
        _RECVPATH_LISTDATA busyRule;
        busyRule.useCount = 1;
        g_RecvPathList.append(&idleRule);
        if (busy && kind == QLatin1String("recv"))
            g_RecvPathList.append(&busyRule);
        if (auto *send = qobject_cast<SendStatusView *>(view.get()))
            send->isSending = busy;

        TestSupport::PromptRecorder prompts(answer);
        QTest::mouseClick(clearButton(*view), Qt::LeftButton);
        g_RecvPathList.clear();

        QCOMPARE(prompts.boxes().size(), 1);
        const PromptRequest box = prompts.boxes().first();
        QCOMPARE(int(box.icon), icon);
        QCOMPARE(box.parent, parented ? view.get() : nullptr);
        QCOMPARE(box.title, QStringLiteral("提示"));
        QCOMPARE(box.text, text);
        QCOMPARE(box.buttons, buttons);
        QCOMPARE(view->tree()->topLevelItemCount(), rowsAfter);
    }

    void contextMenuDeletesCurrentRow_data()
    {
        QTest::addColumn<int>("current");
        QTest::addColumn<QStringList>("rowsAfter");
        QTest::newRow("middle row") << 1 << QStringList { "row 0", "row 2" };
        QTest::newRow("no current row") << -1 << QStringList { "row 0", "row 1", "row 2" };
    }

    void contextMenuDeletesCurrentRow()
    {
        QFETCH(int, current);
        QFETCH(QStringList, rowsAfter);
        SendStatusView view;
        QTreeWidget *tree = view.tree();
        fillRows(tree, 3);
        tree->setCurrentIndex(tree->model()->index(current, 0));

        QStringList offered;
        QTimer::singleShot(0, this, [&offered] {
            auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
            if (!menu)
                return;
            for (const QAction *action : menu->actions())
                offered << action->text();
            menu->actions().first()->trigger();
            menu->close();
        });
        emit tree->customContextMenuRequested(QPoint(5, 5));

        QCOMPARE(offered, QStringList { "删除" });
        QCOMPARE(rowNames(tree), rowsAfter);
    }

    void progressTextBecomesBar_data()
    {
        QTest::addColumn<QString>("progress");
        QTest::addColumn<int>("value");
        QTest::addColumn<QString>("label");
        QTest::newRow("nothing yet") << "0" << 0 << "0%";
        QTest::newRow("one third") << QString::number(1.0 / 3) << 33 << "33%";
        QTest::newRow("done") << "1" << 100 << "100%";
        QTest::newRow("empty") << "" << 0 << "0%";
        QTest::newRow("not a number") << "abc" << 0 << "0%";
        QTest::newRow("nan") << "nan" << 0 << "0%";
        QTest::newRow("infinite") << "inf" << 0 << "0%";
        QTest::newRow("past the end") << "1.5" << 100 << "100%";
        QTest::newRow("negative") << "-0.25" << 0 << "0%";
    }

    void progressTextBecomesBar()
    {
        QFETCH(QString, progress);
        QFETCH(int, value);
        QFETCH(QString, label);
        const QRect cell(10, 20, 150, 24);
        const QStyleOptionProgressBar bar = TransferDelegate::progressBarOption(cell, progress);
        QCOMPARE(bar.progress, value);
        QCOMPARE(bar.text, label);
        QCOMPARE(bar.minimum, 0);
        QCOMPARE(bar.maximum, 100);
        QCOMPARE(bar.rect, cell);
        QVERIFY(bar.textVisible);
        QCOMPARE(bar.textAlignment, Qt::Alignment(Qt::AlignCenter));
        QVERIFY(bar.state & QStyle::State_Enabled);
    }

    // A report with progress "1" puts "1" in the cell, and the view draws it as a full bar in
    // the colours of a success, while a row at "0" has no chunk at all.
    void progressColumnIsDrawnAsBar()
    {
        SendStatusView send;
        RecvStatusView recv;
        const QList<TransferStatusView *> views { &send, &recv };
        QList<TransferItem *> done;
        QList<TransferItem *> fresh;
        for (TransferStatusView *view : views) {
            view->resize(1300, 260);
            auto *waiting = new TransferItem(qintptr(-1));
            auto *zero = new TransferItem(qintptr(-1));
            auto *third = new TransferItem(qintptr(-1));
            auto *full = new TransferItem(qintptr(-1));
            for (TransferItem *item : { waiting, zero, third, full })
                view->addRow(item);
            waiting->onUpdateRequest(sampleRow(
                QStringLiteral("周报.docx"), "0", QStringLiteral("文件正在校验中,请稍候 ")));
            zero->onUpdateRequest(sampleRow(QStringLiteral("设计图纸-第二版.dwg"), "0",
                QStringLiteral("文件多次发送失败/暂停发送")));
            third->onUpdateRequest(sampleRow(QStringLiteral("数据.tar.gz"),
                QString::number(1.0 / 3), QStringLiteral("正在发送中")));
            full->onUpdateRequest(sampleRow(
                QStringLiteral("会议纪要 2026.pdf"), "1", QStringLiteral("文件发送成功 ")));
            done << full;
            fresh << zero;
            view->show();
        }
        QVERIFY(QTest::qWaitForWindowExposed(&send));
        QVERIFY(QTest::qWaitForWindowExposed(&recv));

        for (int index = 0; index < views.size(); ++index) {
            QTreeWidget *tree = views.at(index)->tree();
            QCOMPARE(done.at(index)->data(TransferStateInfo::Progress, Qt::DisplayRole).toString(),
                QStringLiteral("1"));
            const QImage image = tree->viewport()->grab().toImage();
            const int x = tree->header()->sectionViewportPosition(TransferStateInfo::Progress);
            const int width = tree->header()->sectionSize(TransferStateInfo::Progress);
            auto cellOf = [&](QTreeWidgetItem *item) {
                const QRect row = tree->visualItemRect(item);
                return QRect(x, row.top(), width, row.height()) & image.rect();
            };
            QVERIFY(chunkShare(image, cellOf(done.at(index)), kDoneChunkColour) > 0.3);
            QCOMPARE(chunkShare(image, cellOf(fresh.at(index)), kChunkColour), 0.0);
        }
        saveShots({ { &send, "send" }, { &recv, "recv" } });
    }

    // The bar tells a row's outcome: a refused or failed row is never drawn as a success, even
    // with all its bytes moved.
    void barTellsTheOutcome_data()
    {
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("endTime");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QColor>("chunk");

        const QColor blue(0x77, 0xAA, 0xEE);
        const QColor green(kDoneChunkColour);
        const QColor amber(0xE6, 0xA2, 0x3C);
        const QColor red(0xE5, 0x48, 0x4D);
        const QColor violet(0xB7, 0xAE, 0xEA);
        QTest::newRow("sent") << "文件发送成功 " << kEnd << "100%" << green;
        QTest::newRow("received") << "接收完毕" << kEnd << "100%" << green;
        QTest::newRow("awaiting confirmation") << "文件已发送/等待确认"
                                               << ""
                                               << "100%" << blue;
        QTest::newRow("keyword") << "文件存在过滤关键字" << kEnd << "已拒绝" << amber;
        QTest::newRow("virus") << "文件存在病毒" << kEnd << "已拒绝" << amber;
        QTest::newRow("digest wrong") << "文件校验错误|稍后重传" << kEnd << "失败" << red;
        QTest::newRow("gave up") << "文件多次发送失败/暂停发送" << kEnd << "失败" << red;
        QTest::newRow("unknown text, ended") << "新的状态" << kEnd << "失败" << red;
        QTest::newRow("waits to be sent again")
            << "等待重发 14:36（接收方不在线）" << kEnd << "等待重发" << violet;
    }

    void barTellsTheOutcome()
    {
        QFETCH(QString, status);
        QFETCH(QString, endTime);
        QFETCH(QString, label);
        QFETCH(QColor, chunk);

        SendStatusView view;
        view.resize(1300, 200);
        auto *item = new TransferItem(qintptr(-1));
        view.addRow(item);
        item->onUpdateRequest(rowOf(QStringLiteral("a.bin"), status, endTime, "1"));
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));

        QTreeWidget *tree = view.tree();
        const QModelIndex progress = tree->model()->index(0, TransferStateInfo::Progress);
        const QRect cell = tree->visualRect(progress);
        QCOMPARE(
            TransferDelegate::progressBarOption(cell, "1", TransferOutcome::ofRow(progress)).text,
            label);
        QCOMPARE(TransferDelegate::chunkColour(TransferOutcome::ofRow(progress)), chunk);
        const QImage image = tree->viewport()->grab().toImage();
        auto share = [&](const QColor &colour) {
            int count = 0;
            for (int y = cell.top(); y <= cell.bottom(); ++y) {
                for (int x = cell.left(); x <= cell.right(); ++x)
                    count += image.pixel(x, y) == colour.rgb();
            }
            return double(count) / (cell.width() * cell.height());
        };
        QVERIFY(share(chunk) > 0.3);
        if (chunk != QColor(kChunkColour))
            QCOMPARE(share(QColor(kChunkColour)), 0.0);
    }

    // A worker's last report changes a row's status and end time but not its progress: the bar,
    // drawn from all three, shows the end on the screen all the same, without a click.
    void endedRowPaintsItsEndWithoutAClick()
    {
        SendStatusView view;
        view.resize(1300, 200);
        auto *item = new TransferItem(qintptr(-1));
        view.addRow(item);
        item->onUpdateRequest(
            rowOf(QStringLiteral("a.bin"), QStringLiteral("文件已发送/等待确认"), QString(), "1"));
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QTreeWidget *tree = view.tree();
        const QModelIndex progress = tree->model()->index(0, TransferStateInfo::Progress);
        const QRect cell(tree->viewport()->mapTo(&view, tree->visualRect(progress).topLeft()),
            tree->visualRect(progress).size());
        // What the screen shows, not a fresh rendering of the widget.
        auto onScreen
            = [&view] { return view.windowHandle()->screen()->grabWindow(view.winId()).toImage(); };
        QTRY_VERIFY(chunkShare(onScreen(), cell) > 0.3);

        item->onUpdateRequest(
            rowOf(QStringLiteral("a.bin"), QStringLiteral("文件存在过滤关键字"), kEnd, "1"));
        const QRgb amber = TransferDelegate::chunkColour(TransferOutcome::Refused).rgb();
        QTRY_VERIFY(chunkShare(onScreen(), cell, amber) > 0.3);
        QCOMPARE(chunkShare(onScreen(), cell), 0.0);
    }

    // Every row's rate reads in one family of units: a running row's rate in fixed precision, a
    // done row's average (as its tooltip names it), no movement for a row that ended otherwise.
    void rateCellReadsInOneFamily_data()
    {
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("endTime");
        QTest::addColumn<QString>("rate");
        QTest::addColumn<QString>("shown"); // empty: the average the tooltip names
        const QString sending = QStringLiteral("正在发送中");
        QTest::newRow("running") << sending << ""
                                 << "108.516 MB/s"
                                 << "108.52 MB/s";
        QTest::newRow("running, idle") << sending << ""
                                       << "0/Kbps"
                                       << "0 byte/s";
        QTest::newRow("done") << "文件发送成功 " << kEnd << "0 Mbps"
                              << "";
        QTest::newRow("failed") << "文件多次发送失败/暂停发送" << kEnd << "0 Mbps"
                                << "0 byte/s";
        QTest::newRow("refused") << "文件存在过滤关键字" << kEnd << "0 Mbps"
                                 << "0 byte/s";
    }

    void rateCellReadsInOneFamily()
    {
        QFETCH(QString, status);
        QFETCH(QString, endTime);
        QFETCH(QString, rate);
        QFETCH(QString, shown);
        TransferItem item(qintptr(-1));
        item.onUpdateRequest(rowOf(QStringLiteral("a.bin"), status, endTime, "0.5", rate));
        const QString cell
            = item.data(TransferStateInfo::Rate, TransferDelegate::kShownRateRole).toString();
        if (shown.isEmpty()) {
            QVERIFY(QRegularExpression(QStringLiteral("^\\d+\\.\\d\\d [GMK]B/s$"))
                        .match(cell)
                        .hasMatch());
            QVERIFY(item.toolTip(TransferStateInfo::Rate)
                        .startsWith(QStringLiteral("平均速率 %1，").arg(cell)));
        } else {
            QCOMPARE(cell, shown);
        }
        QCOMPARE(item.text(TransferStateInfo::Rate), rate); // the worker's own text stays
    }

    // A file offered again after its row's round failed (or after the user stopped it) goes on
    // in that row; a row whose worker runs, and a file seen for the first time, get rows of their
    // own.
    void fileOfferedAgainGoesOnInItsRow()
    {
        SendStatusView view;
        _SENDPATH_LISTDATA rule;
        rule.stopFlag = true; // every worker ends at once
        const auto offer = [&view, &rule](quint64 inode, bool again) {
            auto *file = new _FINDFILEINFO;
            file->filePath = QStringLiteral("/srv/send/a.bin");
            file->identity.inode = inode;
            file->offeredAgain = again;
            view.onInsertItem(file, &rule);
            QThreadPool::globalInstance()->waitForDone();
            QCoreApplication::processEvents();
            return file;
        };
        std::unique_ptr<_FINDFILEINFO> first(offer(7, false));
        auto *row = static_cast<TransferItem *>(view.tree()->topLevelItem(0));
        QCOMPARE(row->fileKey(), first->fileKey());
        QCOMPARE(row->sendRule(), &rule);
        row->onUpdateRequest(
            rowOf(QStringLiteral("a.bin"), QStringLiteral("等待重发 14:36（接收方不在线）"), kEnd));
        std::unique_ptr<_FINDFILEINFO> again(offer(7, true));
        QCOMPARE(view.tree()->topLevelItemCount(), 1);
        row->onUpdateRequest(
            rowOf(QStringLiteral("a.bin"), QStringLiteral("正在发送中"), QString()));
        std::unique_ptr<_FINDFILEINFO> whileRunning(offer(7, true));
        std::unique_ptr<_FINDFILEINFO> anotherFile(offer(8, true));
        QCOMPARE(view.tree()->topLevelItemCount(), 3);
    }

    // A file the scanner cannot send gets a row that says why, and nothing runs for it.
    void unsendableFileHasARowThatSaysWhy()
    {
        SendStatusView view;
        _SENDPATH_LISTDATA rule;
        copyToField(rule.SendPathID, kPathIDSize, "docs");
        view.onUnsendable(&rule, QStringLiteral("/srv/send/pipe"), 0,
            QStringLiteral("不是普通文件（管道或设备），不能发送"));
        QCOMPARE(view.tree()->topLevelItemCount(), 1);
        auto *row = static_cast<TransferItem *>(view.tree()->topLevelItem(0));
        QCOMPARE(row->text(TransferStateInfo::FileName), QStringLiteral("pipe"));
        QCOMPARE(row->text(TransferStateInfo::TransferPath), QStringLiteral("docs"));
        QCOMPARE(row->text(TransferStateInfo::Status),
            QStringLiteral("不是普通文件（管道或设备），不能发送"));
        QCOMPARE(row->toolTip(TransferStateInfo::FileName), QStringLiteral("/srv/send/pipe"));
        QCOMPARE(row->outcome(), TransferOutcome::Failed);
        QCOMPARE(row->sendRule(), &rule);
    }

    // Hovering shows what a narrow column may cut, and what the cells do not say: where a sent
    // file lies, the time left, the average rate once done.
    void tooltipsTellTheWholeStory()
    {
        _FINDFILEINFO file;
        file.filePath = QStringLiteral("/srv/发送/月报/设备巡检记录.pdf");
        TransferItem sending(&file, nullptr);
        sending.onUpdateRequest(rowOf(QStringLiteral("设备巡检记录.pdf"),
            QStringLiteral("正在发送中"), QString(), "0.5", QStringLiteral("1 MB/s")));
        QCOMPARE(sending.toolTip(TransferStateInfo::FileName), file.filePath);
        QCOMPARE(sending.toolTip(TransferStateInfo::TransferPath), QStringLiteral("path-key-01"));
        QCOMPARE(
            sending.toolTip(TransferStateInfo::Status), QStringLiteral("正在发送中（进行中）"));
        QVERIFY(sending.toolTip(TransferStateInfo::Rate).startsWith(QStringLiteral("预计剩余")));

        sending.onUpdateRequest(
            rowOf(QStringLiteral("设备巡检记录.pdf"), QStringLiteral("文件发送成功 "), kEnd, "1"));
        QVERIFY(sending.toolTip(TransferStateInfo::Rate).startsWith(QStringLiteral("平均速率")));
        QCOMPARE(
            sending.toolTip(TransferStateInfo::Status), QStringLiteral("文件发送成功 （成功）"));
        QCOMPARE(sending.outcome(), TransferOutcome::Done);

        TransferItem receiving(qintptr(-1));
        receiving.onUpdateRequest(rowOf(
            QStringLiteral("子目录/报告.doc"), QStringLiteral("未知接收路径|关闭连接"), kEnd));
        QCOMPARE(receiving.toolTip(TransferStateInfo::FileName), QStringLiteral("子目录/报告.doc"));
        QCOMPARE(receiving.outcome(), TransferOutcome::Refused);
        QVERIFY(receiving.toolTip(TransferStateInfo::Rate).isEmpty());
    }

    void filterShowsRowsByOutcome_data()
    {
        QTest::addColumn<int>("filter");
        QTest::addColumn<QStringList>("shown");
        QTest::newRow("all") << int(TransferStatusView::ShowAll)
                             << QStringList { "running.iso", "done.pdf", "refused.txt",
                                    "failed.bin", "retry.bin" };
        QTest::newRow("running") << int(TransferStatusView::ShowRunning)
                                 << QStringList { "running.iso", "retry.bin" };
        QTest::newRow("done") << int(TransferStatusView::ShowDone) << QStringList { "done.pdf" };
        QTest::newRow("refused")
            << int(TransferStatusView::ShowRefused) << QStringList { "refused.txt" };
        QTest::newRow("failed") << int(TransferStatusView::ShowFailed) << QStringList { "failed.bin" };
    }

    void filterShowsRowsByOutcome()
    {
        QFETCH(int, filter);
        QFETCH(QStringList, shown);
        RecvStatusView view;
        addRowOfEachOutcome(view);
        QTest::mouseClick(view.filterButton(TransferStatusView::Filter(filter)), Qt::LeftButton);
        QCOMPARE(int(view.filter()), filter);
        QCOMPARE(shownRowNames(view.tree()), shown);

        view.updateCounts();
        QCOMPARE(view.filterButton(TransferStatusView::ShowAll)->text(), QStringLiteral("全部 5"));
        QCOMPARE(
            view.filterButton(TransferStatusView::ShowRunning)->text(), QStringLiteral("进行中 2"));
        QCOMPARE(view.filterButton(TransferStatusView::ShowDone)->text(), QStringLiteral("成功 1"));
        QCOMPARE(
            view.filterButton(TransferStatusView::ShowRefused)->text(), QStringLiteral("已拒绝 1"));
        QCOMPARE(view.filterButton(TransferStatusView::ShowFailed)->text(), QStringLiteral("失败 1"));
    }

    // A row leaves "进行中" the moment its worker reports its end, and a new row joins it.
    void filterFollowsReports()
    {
        SendStatusView view;
        view.setFilter(TransferStatusView::ShowRunning);
        auto *item = new TransferItem(qintptr(-1));
        view.addRow(item);
        QCOMPARE(shownRowNames(view.tree()).size(), 1);
        item->onUpdateRequest(
            rowOf(QStringLiteral("a.bin"), QStringLiteral("正在发送中"), QString()));
        QCOMPARE(shownRowNames(view.tree()), QStringList { "a.bin" });
        item->onUpdateRequest(
            rowOf(QStringLiteral("a.bin"), QStringLiteral("文件发送成功 "), kEnd, "1"));
        QVERIFY(shownRowNames(view.tree()).isEmpty());
        view.setFilter(TransferStatusView::ShowDone);
        QCOMPARE(shownRowNames(view.tree()), QStringList { "a.bin" });
    }

    void clearFinishedKeepsRunningRows_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<QStringList>("left");
        QTest::newRow("yes") << int(PromptRequest::Yes)
                             << QStringList { "running.iso", "retry.bin" };
        QTest::newRow("no") << int(PromptRequest::No)
                            << QStringList { "running.iso", "done.pdf", "refused.txt", "failed.bin",
                                   "retry.bin" };
    }

    void clearFinishedKeepsRunningRows()
    {
        QFETCH(int, answer);
        QFETCH(QStringList, left);
        SendStatusView view;
        // Sending on does not stop clearing what has finished.
        view.isSending = true;
        addRowOfEachOutcome(view);
        TestSupport::PromptRecorder prompts(answer);
        QTest::mouseClick(view.clearFinishedButton(), Qt::LeftButton);
        QCOMPARE(prompts.boxes().size(), 1);
        QCOMPARE(prompts.boxes().first().text, QStringLiteral("确认清除所有已结束的记录？"));
        QCOMPARE(prompts.boxes().first().parent, &view);
        QCOMPARE(rowNames(view.tree()), left);
        QCOMPARE(view.clearFinishedButton()->text(), QStringLiteral("清除已结束"));
    }

    // In a view wide enough for every column's texts nothing is cut and nothing scrolls.
    void columnsFitWithoutCutting()
    {
        RecvStatusView view;
        addRowOfEachOutcome(view);
        QTreeWidget *tree = view.tree();
        auto *fitter = tree->findChild<ColumnFitter *>();
        QVERIFY(fitter);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        const QVector<int> minima = fitter->minima();
        const int needed = std::accumulate(minima.cbegin(), minima.cend(), 0);
        const int frame = view.width() - tree->viewport()->width();

        view.resize(needed + frame + 100, 400);
        QTRY_COMPARE(tree->viewport()->width(), needed + 100);
        QCOMPARE(tree->header()->length(), tree->viewport()->width());
        QCOMPARE(tree->horizontalScrollBar()->maximum(), 0);
        const QFontMetrics metrics = tree->fontMetrics();
        for (int row = 0; row < tree->topLevelItemCount(); ++row) {
            for (int column = 0; column < TransferStateInfo::kColumns; ++column) {
                if (column == TransferStateInfo::Progress)
                    continue;
                const QString text = tree->topLevelItem(row)->text(column);
                QVERIFY2(metrics.horizontalAdvance(text) < tree->header()->sectionSize(column),
                    qPrintable(text));
            }
        }
        // The texts a status column may hold are all known, the longest included.
        QVERIFY(
            metrics.horizontalAdvance(QStringLiteral("接收端文件校验失败/稍后重发(错误代码:15)"))
            < tree->header()->sectionSize(TransferStateInfo::Status));

        // In the page of an 800 px window the columns that say least give way: the name, the
        // progress and the status stay in view, whole, without scrolling.
        constexpr int kPageOf800 = 638;
        view.resize(kPageOf800, 400);
        QTRY_COMPARE(view.width(), kPageOf800);
        QTRY_COMPARE(tree->horizontalScrollBar()->maximum(), 0);
        QHeaderView *header = tree->header();
        for (const int column : { TransferStateInfo::FileName, TransferStateInfo::Progress,
                 TransferStateInfo::Status }) {
            QVERIFY(!header->isSectionHidden(column));
            QVERIFY(header->sectionSize(column) >= fitter->minima().at(column));
            QVERIFY(header->sectionViewportPosition(column) + header->sectionSize(column)
                <= tree->viewport()->width());
        }
        QVERIFY(header->isSectionHidden(TransferStateInfo::TransferPath));

        // Too narrow even for those, the view scrolls sideways and the file name keeps its share.
        view.resize(420, 400);
        QTRY_VERIFY(tree->horizontalScrollBar()->maximum() > 0);
        QVERIFY(header->sectionSize(TransferStateInfo::FileName) >= 160);

        // Wide again, every column is back.
        view.resize(needed + frame + 100, 400);
        QTRY_COMPARE(header->length(), needed + 100);
        for (int column = 0; column < TransferStateInfo::kColumns; ++column)
            QVERIFY(!header->isSectionHidden(column));
    }

    // An empty list still shows where one column ends and the next begins.
    void headerShowsSeparatorsOnEmptyList()
    {
        SendStatusView view;
        view.resize(1300, 200);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QHeaderView *header = view.tree()->header();
        const QImage image = header->grab().toImage();
        for (int column = 0; column + 1 < TransferStateInfo::kColumns; ++column) {
            const int x = header->sectionViewportPosition(column) + header->sectionSize(column) - 1;
            QCOMPARE(
                QColor(image.pixel(x, header->height() / 2)), SeparatedHeader::separatorColour());
            // Each header text is shown whole.
            QVERIFY(header->sectionSize(column) >= header->sectionSizeHint(column));
        }
        saveShots({ { &view, "empty" } });
    }

private:
    // With GAP_VIEW_SHOTS set to a directory, keeps a picture of each view for a human to check.
    static void saveShots(const QList<QPair<QWidget *, QString>> &views)
    {
        const QString dir = qEnvironmentVariable("GAP_VIEW_SHOTS");
        if (dir.isEmpty())
            return;
        for (const auto &view : views)
            view.first->grab().save(QStringLiteral("%1/%2-status.png").arg(dir, view.second));
    }
};

QTEST_MAIN(TestStatusViews)
#include "tst_statusviews.moc"
