#include "RuleFixture.h"
#include "support/TestSupport.h"
#include "views/rules/RecvPathView.h"
#include "views/rules/SendPathView.h"

#include <QDesktopServices>
#include <QDir>
#include <QMenu>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

using namespace RuleFixture;

namespace {

const QString kSend = QStringLiteral("send");

QString cell(const RuleListView &view, int row, int column)
{
    const QTableWidgetItem *item = view.table()->item(row, column);
    return item ? item->text() : QString();
}

QStringList rowTexts(const RuleListView &view, int row)
{
    QStringList texts;
    for (int column = 0; column < view.table()->columnCount(); ++column)
        texts << cell(view, row, column);
    return texts;
}

RuleListView *newView(const QString &kind)
{
    if (kind == kSend)
        return new SendPathView;
    return new RecvPathView;
}

void addRule(const QString &kind, const QString &dir)
{
    if (kind == kSend)
        addSendRule("10.0.0.1", "K1", dir);
    else
        addRecvRule("10.0.0.1", "R1", dir);
}

int ruleCount(const QString &kind)
{
    return kind == kSend ? g_SendPathList.size() : g_RecvPathList.size();
}

void setBusy(const QString &kind, int row)
{
    if (kind == kSend)
        g_SendPathList.value(row)->scanStarted = true;
    else
        g_RecvPathList.value(row)->useCount = 1;
}

// Opens a file URL by recording it instead of starting the desktop's file manager.
class UrlRecorder : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> urls;

public slots:
    void open(const QUrl &url) { urls << url; }
};

} // namespace

class TestRuleListViews : public QObject
{
    Q_OBJECT

private:
    Records m_records;
    QTemporaryDir m_root;

    void addKindColumn()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("send") << kSend;
        QTest::newRow("recv") << QStringLiteral("recv");
    }

private slots:
    void init()
    {
        _VKGAPIP_CONF *gap = addGap("10.0.0.1", 1);
        offerSend(gap, QStringLiteral("K1"), QStringLiteral("bob"), 0);
        offerRecv(gap, QStringLiteral("R1"), QStringLiteral("dave"));
    }

    void cleanup() { m_records.freeAll(); }

    // Past the usual sixteen rows, every rule gets a row of its own.
    void listShowsEveryRule()
    {
        constexpr int kRules = 20;
        for (int i = 0; i < kRules; ++i) {
            const QByteArray key = QByteArray("K") + QByteArray::number(i);
            addSendRule("10.0.0.1", key, QStringLiteral("/发送/%1").arg(i));
            addRecvRule("10.0.0.1", key, QStringLiteral("/接收/%1").arg(i));
        }
        SendPathView send;
        RecvPathView recv;
        for (RuleListView *view :
            { static_cast<RuleListView *>(&send), static_cast<RuleListView *>(&recv) }) {
            QCOMPARE(view->table()->rowCount(), kRules);
            for (int row = 0; row < kRules; ++row)
                QCOMPARE(cell(*view, row, 0), QString::number(row + 1));
            QCOMPARE(cell(*view, kRules - 1, 3), QStringLiteral("K19"));
        }
        QCOMPARE(rowTexts(send, 0),
            QStringList({ "1", "/发送/0", "10.0.0.1", "K0", "发送未启动", "bob" }));
        QCOMPARE(send.table()->item(0, 1)->textAlignment(), int(Qt::AlignCenter));

        // Deleting a rule shrinks the list back, never below the usual sixteen rows.
        m_records.keep();
        g_SendPathList.removeAt(0);
        send.onDisPlayList();
        QCOMPARE(send.table()->rowCount(), kRules - 1);
        QCOMPARE(cell(send, kRules - 2, 3), QStringLiteral("K19"));
    }

    void receiveListShowsItsRules()
    {
        _RECVPATH_LISTDATA *rule = addRecvRule("10.0.0.1", "R1", QStringLiteral("/接收"));
        rule->statusText = QStringLiteral("空闲中");
        RecvPathView view;
        QCOMPARE(
            rowTexts(view, 0), QStringList({ "1", "/接收", "10.0.0.1", "R1", "空闲中", "dave" }));
        QCOMPARE(rowTexts(view, 1), QStringList({ "", "", "", "", "", "" }));
    }

    // Each column says what it holds: the local directory and the gap's path are told apart.
    void headersTellTheColumnsApart()
    {
        SendPathView send;
        RecvPathView recv;
        for (RuleListView *view :
            { static_cast<RuleListView *>(&send), static_cast<RuleListView *>(&recv) }) {
            QStringList headers;
            for (int column = 0; column < view->table()->columnCount(); ++column)
                headers << view->table()->horizontalHeaderItem(column)->text();
            QCOMPARE(headers.removeDuplicates(), 0);
            QCOMPARE(headers.at(1), QStringLiteral("文件路径"));
        }
    }

    // A report about a row without rule (one deleted meanwhile) must not leave a stray text.
    void statusSlotsWriteOnlyRowsWithRules()
    {
        addSendRule("10.0.0.1", "K1", "/s");
        addRecvRule("10.0.0.1", "R1", "/r");
        SendPathView send;
        RecvPathView recv;
        send.setSendPathTableItem(0, QStringLiteral("正在发送文件"));
        send.setSendPathTableItem(1, QStringLiteral("发送未启动"));
        recv.setRecvPathTableItem(0, QStringLiteral("正在接收文件"));
        recv.setRecvPathTableItem(1, QStringLiteral("空闲"));
        QCOMPARE(cell(send, 0, 4), QStringLiteral("正在发送文件"));
        QCOMPARE(cell(recv, 0, 4), QStringLiteral("正在接收文件"));
        QVERIFY(!send.table()->item(1, 4));
        QVERIFY(!recv.table()->item(1, 4));
    }

    void addOpensTheDialogAndShowsTheStoredRule_data() { addKindColumn(); }
    void addOpensTheDialogAndShowsTheStoredRule()
    {
        QFETCH(QString, kind);
        QScopedPointer<RuleListView> view(newView(kind));
        view->addButton()->click();
        QPointer<RuleDialog> dialog = view->dialog();
        QVERIFY(dialog && dialog->isModal() && !dialog->isModify() && dialog->index() == -1);
        QCOMPARE(dialog->windowTitle(),
            kind == kSend ? QStringLiteral("发送目录--添加") : QStringLiteral("接收目录-添加"));
        const bool send = kind == kSend;
        const QString dir = madeDir(m_root.path(), QStringLiteral("新目录"));
        fillAndConfirm(dialog, "10.0.0.1", send ? "K1" : "R1", send ? "bob" : "dave", dir);
        QTRY_VERIFY(dialog.isNull());
        QCOMPARE(cell(*view, 0, 1), dir);
        QCOMPARE(cell(*view, 0, 4), send ? QStringLiteral("发送未启动") : QStringLiteral("空闲中"));
    }

    void doubleClickInTheSendListOpensTheAddDialog()
    {
        SendPathView view;
        const QModelIndex index = view.table()->model()->index(3, 2);
        emit view.table()->doubleClicked(index);
        QVERIFY(view.dialog());
        QCOMPARE(view.dialog()->windowTitle(), QStringLiteral("发送目录--添加"));
        delete view.dialog();
    }

    void refusals_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("rules"); // rules in the list
        QTest::addColumn<int>("selected"); // selected row, -1 for none
        QTest::addColumn<bool>("busy"); // the selected rule is in use
        QTest::addColumn<int>("icon");
        QTest::addColumn<bool>("onView");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("text");

        const int critical = PromptRequest::Critical;
        const int warning = PromptRequest::Warning;
        const int question = PromptRequest::Question;
        const QString h = QStringLiteral("提示");
        const QString busy = QStringLiteral("该规则路径正在使用");
        const QString selectRow = QStringLiteral("请先选择一行再进行操作");
        QTest::newRow("send modify empty")
            << "send"
            << "modify" << 0 << -1 << false << critical << false << h << "当前没有发送目录";
        QTest::newRow("send modify unselected")
            << "send"
            << "modify" << 2 << -1 << false << warning << true << h << "请先选中目录再进行操作";
        QTest::newRow("send modify busy")
            << "send"
            << "modify" << 2 << 1 << true << question << true << h << busy;
        QTest::newRow("send delete empty")
            << "send"
            << "delete" << 0 << -1 << false << critical << false << h << "当前没有发送目录";
        QTest::newRow("send delete unselected")
            << "send"
            << "delete" << 2 << -1 << false << warning << true << h << selectRow;
        QTest::newRow("send delete busy")
            << "send"
            << "delete" << 2 << 1 << true << question << true << h << busy;
        QTest::newRow("recv modify empty")
            << "recv"
            << "modify" << 0 << -1 << false << critical << false << h << "当前没有接收目录";
        QTest::newRow("recv modify unselected")
            << "recv"
            << "modify" << 2 << -1 << false << warning << true << h << selectRow;
        QTest::newRow("recv delete empty")
            << "recv"
            << "delete" << 0 << -1 << false << critical << false << h << "当前没有接收目录";
        QTest::newRow("recv delete unselected")
            << "recv"
            << "delete" << 2 << -1 << false << warning << true << h << selectRow;
        QTest::newRow("recv delete busy")
            << "recv"
            << "delete" << 2 << 1 << true << question << true << h << busy;
    }

    // Each refusal shows its box and changes neither the list nor the table, nor opens a dialog.
    void refusals()
    {
        QFETCH(QString, kind);
        QFETCH(QString, action);
        QFETCH(int, rules);
        QFETCH(int, selected);
        QFETCH(bool, busy);
        QFETCH(int, icon);
        QFETCH(bool, onView);
        QFETCH(QString, title);
        QFETCH(QString, text);

        for (int i = 0; i < rules; ++i)
            addRule(kind, QStringLiteral("/d%1").arg(i));
        if (busy)
            setBusy(kind, selected);
        QScopedPointer<RuleListView> view(newView(kind));
        if (selected >= 0)
            view->table()->selectRow(selected);
        TestSupport::PromptRecorder prompts;
        (action == QLatin1String("modify") ? view->modifyButton() : view->deleteButton())->click();

        QCOMPARE(prompts.boxes().size(), 1);
        const PromptRequest box = prompts.boxes().first();
        QCOMPARE(int(box.icon), icon);
        QCOMPARE(box.parent, onView ? view.data() : nullptr);
        QCOMPARE(box.title, title);
        QCOMPARE(box.text, text);
        QCOMPARE(box.buttons,
            int(icon == PromptRequest::Warning ? PromptRequest::Ok : PromptRequest::Yes));
        QVERIFY(!view->dialog());
        QCOMPARE(ruleCount(kind), rules);
        for (int i = 0; i < rules; ++i)
            QCOMPARE(cell(*view, i, 1), QStringLiteral("/d%1").arg(i));
    }

    // A receive rule with a transfer running may still be changed; the dialog starts empty.
    void modifyOpensTheDialogForTheSelectedRule_data() { addKindColumn(); }
    void modifyOpensTheDialogForTheSelectedRule()
    {
        QFETCH(QString, kind);
        const bool send = kind == kSend;
        addRule(kind, "/d0");
        addRule(kind, "/d1");
        if (!send)
            setBusy(kind, 1);
        m_records.keep();
        QScopedPointer<RuleListView> view(newView(kind));
        view->table()->selectRow(1);
        view->modifyButton()->click();
        QPointer<RuleDialog> dialog = view->dialog();
        QVERIFY(dialog && dialog->isModify());
        QCOMPARE(dialog->index(), 1);
        QCOMPARE(dialog->windowTitle(),
            send ? QStringLiteral("发送目录--修改") : QStringLiteral("接收目录--修改"));
        QCOMPARE(dialog->gapCombo()->currentIndex(), -1);
        QCOMPARE(dialog->dirEdit()->text(), QString());

        const QString dir = madeDir(m_root.path(), QStringLiteral("改"));
        fillAndConfirm(dialog, "10.0.0.1", send ? "K1" : "R1", send ? "bob" : "dave", dir);
        QTRY_VERIFY(dialog.isNull());
        QCOMPARE(ruleCount(kind), 2);
        QCOMPARE(cell(*view, 0, 1), QStringLiteral("/d0"));
        QCOMPARE(cell(*view, 1, 1), dir);
    }

    void deleteAsksAndRemovesOnlyOnYes_data() { addKindColumn(); }
    void deleteAsksAndRemovesOnlyOnYes()
    {
        QFETCH(QString, kind);
        addRule(kind, "/d0");
        addRule(kind, "/d1");
        addRule(kind, "/d2");
        m_records.keep();
        QScopedPointer<RuleListView> view(newView(kind));
        view->table()->selectRow(1);
        TestSupport::PromptRecorder prompts(PromptRequest::No);
        view->deleteButton()->click();
        QCOMPARE(prompts.texts(), QStringList({ "确定删除？" }));
        const PromptRequest box = prompts.boxes().first();
        QCOMPARE(box.title, QStringLiteral("删除"));
        QCOMPARE(box.icon, PromptRequest::Question);
        QCOMPARE(box.parent, view.data());
        QCOMPARE(box.buttons, int(PromptRequest::Yes | PromptRequest::No));
        QCOMPARE(ruleCount(kind), 3);
        QCOMPARE(cell(*view, 1, 1), QStringLiteral("/d1"));

        // A transfer may still hold the rule it found: the record must outlive its listing.
        const _SENDPATH_LISTDATA *heldSend = g_SendPathList.value(1);
        const _RECVPATH_LISTDATA *heldRecv = g_RecvPathList.value(1);
        prompts.setAnswer(PromptRequest::Yes);
        view->deleteButton()->click();
        QCOMPARE(ruleCount(kind), 2);
        QCOMPARE(heldSend ? heldSend->SendPath : heldRecv->RecvPath, QStringLiteral("/d1"));
        QCOMPARE(rowTexts(*view, 1).mid(0, 2), QStringList({ "2", "/d2" }));
        QCOMPARE(rowTexts(*view, 2), QStringList({ "", "", "", "", "", "" }));
    }

    // Once the transfer has ended, the same rule can be deleted.
    void aRuleNoLongerBusyCanBeDeleted()
    {
        _RECVPATH_LISTDATA *rule = addRecvRule("10.0.0.1", "R1", "/r");
        rule->useCount = 1;
        m_records.keep();
        RecvPathView view;
        view.table()->selectRow(0);
        TestSupport::PromptRecorder prompts;
        view.deleteButton()->click();
        rule->useCount = 0;
        view.deleteButton()->click();
        QCOMPARE(prompts.texts(), QStringList({ "该规则路径正在使用", "确定删除？" }));
        QCOMPARE(g_RecvPathList.size(), 0);
    }

    void contextMenuOffersActionsOnlyOverACell()
    {
        addSendRule("10.0.0.1", "K1", "/s");
        SendPathView view;
        view.resize(1200, 600);
        const QRect firstRow = view.table()->visualRect(view.table()->model()->index(0, 1));
        view.onMenuRequest(firstRow.center());
        QStringList texts;
        for (const QAction *action : view.contextMenu()->actions())
            texts << action->text();
        QCOMPARE(texts, QStringList({ "打开文件夹", "修改", "删除" }));
        view.contextMenu()->hide();

        const QRect emptyRow = view.table()->visualRect(view.table()->model()->index(1, 1));
        view.onMenuRequest(emptyRow.center());
        QVERIFY(view.contextMenu()->actions().isEmpty());
    }

    // Names with '#', '%' or Chinese characters must reach the file manager unchanged; a folder
    // that is not there is said so, naming it.
    void openDirHandsTheDirectoryToTheDesktop_data()
    {
        QTest::addColumn<bool>("exists");
        QTest::newRow("there") << true;
        QTest::newRow("not there") << false;
    }

    void openDirHandsTheDirectoryToTheDesktop()
    {
        QFETCH(bool, exists);
        QTemporaryDir root;
        const QString dir = root.filePath(QStringLiteral("用户/报告 #1 100%"));
        if (exists)
            QVERIFY(QDir().mkpath(dir));
        addRecvRule("10.0.0.1", "R1", dir);
        RecvPathView view;
        UrlRecorder recorder;
        TestSupport::PromptRecorder prompts;
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &recorder, "open");
        view.table()->selectRow(0);
        view.table()->setCurrentCell(0, 1);
        view.onActionOpenDirClicked();
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        if (!exists) {
            QVERIFY(recorder.urls.isEmpty());
            QCOMPARE(prompts.texts(), QStringList { QStringLiteral("文件夹不存在：") + dir });
            return;
        }
        QVERIFY(prompts.boxes().isEmpty());
        QCOMPARE(recorder.urls.size(), 1);
        QCOMPARE(recorder.urls.first().toLocalFile(), dir);
    }
};

QTEST_MAIN(TestRuleListViews)
#include "tst_rulelistviews.moc"
