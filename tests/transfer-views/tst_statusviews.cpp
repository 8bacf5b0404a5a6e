#include "model/GlobalData.h"
#include "model/TransferStateInfo.h"
#include "support/TestSupport.h"
#include "views/RecvStatusView.h"
#include "views/SendStatusView.h"
#include "views/TransferDelegate.h"
#include "views/TransferItem.h"

#include <QApplication>
#include <QHeaderView>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>
#include <memory>

namespace {

const QRgb kChunkColour = qRgb(0x77, 0xAA, 0xEE);

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
double chunkShare(const QImage &image, const QRect &cell)
{
    int chunk = 0;
    for (int y = cell.top(); y <= cell.bottom(); ++y) {
        for (int x = cell.left(); x <= cell.right(); ++x)
            chunk += image.pixel(x, y) == kChunkColour;
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
    // the bar's colours, while a row at "0" has no chunk at all.
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
            third->onUpdateRequest(sampleRow(
                QStringLiteral("数据.tar.gz"), QString::number(1.0 / 3), QStringLiteral("正在发送中")));
            full->onUpdateRequest(
                sampleRow(QStringLiteral("会议纪要 2026.pdf"), "1", QStringLiteral("文件发送成功 ")));
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
            QVERIFY(chunkShare(image, cellOf(done.at(index))) > 0.3);
            QCOMPARE(chunkShare(image, cellOf(fresh.at(index))), 0.0);
        }
        saveShots({ { &send, "send" }, { &recv, "recv" } });
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
