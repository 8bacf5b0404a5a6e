// What a status row offers to do with its file, through the file manager's seam and the sending
// engine's requests.

#include "chrome/FileManager.h"
#include "model/GlobalData.h"
#include "send/SendLedger.h"
#include "support/TestSupport.h"
#include "views/transfers/RecvStatusView.h"
#include "views/transfers/SendStatusView.h"
#include "views/transfers/TransferItem.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QMenu>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>
#include <memory>

namespace {

const QString kEnd = QStringLiteral("2026-12-10 13:21:21");

TransferStateInfo report(const QString &name, const QString &status, const QString &endTime,
    const QString &storedPath = QString())
{
    TransferStateInfo info;
    info.setText(TransferStateInfo::FileName, name);
    info.setText(TransferStateInfo::Progress, QStringLiteral("0.5"));
    info.setText(TransferStateInfo::EndTime, endTime);
    info.setText(TransferStateInfo::Status, status);
    info.setText(TransferStateInfo::StoredPath, storedPath);
    return info;
}

QStringList texts(const QMenu &menu, bool enabledOnly = false)
{
    QStringList names;
    for (const QAction *action : menu.actions()) {
        if (!action->isSeparator() && (!enabledOnly || action->isEnabled()))
            names << action->text();
    }
    return names;
}

QAction *action(const QMenu &menu, const QString &text)
{
    for (QAction *candidate : menu.actions()) {
        if (candidate->text() == text)
            return candidate;
    }
    return nullptr;
}

// Records what the client asks the desktop to open.
class FileManagerRecorder
{
public:
    FileManagerRecorder()
    {
        FileManager::setHandler([this](const FileManagerRequest &request) {
            requests.append(qMakePair(int(request.action), request.path));
            return true;
        });
    }
    ~FileManagerRecorder() { FileManager::setHandler(nullptr); }

    QList<QPair<int, QString>> requests;
};

} // namespace

class TestRowActions : public QObject
{
    Q_OBJECT

private slots:
    void init() { QGuiApplication::clipboard()->clear(); }

    // A received file is opened, shown in its folder (selected), or its path copied; the row
    // tells where it was stored, and a double-click opens it.
    void receivedRowOpensItsFile()
    {
        QTemporaryDir dir;
        const QString stored = dir.filePath(QStringLiteral("20261210_1321_报告.doc"));
        QFile file(stored);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        RecvStatusView view;
        auto *row = new TransferItem(qintptr(-1));
        view.addRow(row);
        row->onUpdateRequest(report(
            QStringLiteral("20261210_1321_报告.doc"), QStringLiteral("接收完毕"), kEnd, stored));
        QCOMPARE(row->toolTip(TransferStateInfo::FileName), QStringLiteral("保存为 ") + stored);

        const std::unique_ptr<QMenu> menu = view.createContextMenu(row);
        QCOMPARE(texts(*menu, true),
            QStringList({ "打开文件", "打开所在目录", "复制路径", "删除" }));
        FileManagerRecorder desktop;
        action(*menu, QStringLiteral("打开文件"))->trigger();
        action(*menu, QStringLiteral("打开所在目录"))->trigger();
        action(*menu, QStringLiteral("复制路径"))->trigger();
        view.runFirstAction(row);
        const QList<QPair<int, QString>> expected { { FileManagerRequest::OpenFile, stored },
            { FileManagerRequest::ShowFile, stored }, { FileManagerRequest::OpenFile, stored } };
        QCOMPARE(desktop.requests, expected);
        QCOMPARE(QGuiApplication::clipboard()->text(), stored);
    }

    // While a file is received there is nothing to open yet, and its row cannot be deleted: the
    // transfer would go on unseen.
    void receivingRowOffersNothingYet()
    {
        RecvStatusView view;
        auto *row = new TransferItem(qintptr(-1));
        view.addRow(row);
        row->onUpdateRequest(report(QStringLiteral("a.bin"), QStringLiteral("正在接收中"), {}));
        const std::unique_ptr<QMenu> menu = view.createContextMenu(row);
        QCOMPARE(texts(*menu), QStringList({ "打开文件", "打开所在目录", "复制路径", "删除" }));
        QVERIFY(texts(*menu, true).isEmpty());
        FileManagerRecorder desktop;
        view.runFirstAction(row);
        view.tree()->setCurrentItem(row);
        view.onMenuDelete();
        QVERIFY(desktop.requests.isEmpty());
        QCOMPARE(view.tree()->topLevelItemCount(), 1);
    }

    // "立即重试" reaches the engine: the waiting file is offered at the next pass, not after its
    // back-off. "取消发送" drops it: the row ends and the file is held until it changes.
    void waitingRowIsRetriedOrCancelled()
    {
        _SENDPATH_LISTDATA rule;
        SendLedger::setRetryMinute(60 * 60 * 1000);
        SendStatusView view;
        const auto waitingRow = [&](quint64 inode) {
            auto *file = new _FINDFILEINFO;
            file->filePath = QStringLiteral("/srv/send/%1.bin").arg(inode);
            file->identity.inode = inode;
            const std::atomic<bool> notCancelled { false };
            [&] { QCOMPARE(SendLedger::admit(&rule, file, notCancelled), SendLedger::Admitted); }();
            SendLedger::awaitRetry(&rule, *file, false);
            auto *row = new TransferItem(file, &rule);
            view.addRow(row);
            row->onUpdateRequest(report(QFileInfo(file->filePath).fileName(),
                QStringLiteral("等待重发 14:36（接收方不在线）"), kEnd));
            return row;
        };
        TransferItem *retried = waitingRow(1);
        TransferItem *cancelled = waitingRow(2);
        QVERIFY(SendLedger::takeReoffered(&rule).isEmpty());

        std::unique_ptr<QMenu> menu = view.createContextMenu(retried);
        QCOMPARE(texts(*menu, true),
            QStringList({ "立即重试", "取消发送", "复制路径", "删除" }));
        view.runFirstAction(retried);
        const QList<QPair<FileKey, int>> offered = SendLedger::takeReoffered(&rule);
        QCOMPARE(offered.size(), 1);
        QCOMPARE(offered.first().first, retried->fileKey());

        menu = view.createContextMenu(cancelled);
        action(*menu, QStringLiteral("取消发送"))->trigger();
        QCOMPARE(cancelled->text(TransferStateInfo::Status), QStringLiteral("用户停止发送"));
        QCOMPARE(cancelled->outcome(), TransferOutcome::Failed);
        QCOMPARE(SendLedger::findKnown(&rule, { cancelled->fileKey() }), QVector<bool> { true });
        QVERIFY(SendLedger::takeReoffered(&rule).isEmpty());
        // Asked for again, it is offered again.
        QCOMPARE(SendLedger::retryNow(&rule, cancelled->fileKey()), SendLedger::Request::Offered);
        QCOMPARE(SendLedger::takeReoffered(&rule).size(), 1);
    }

    // "删除" on a row whose file is being sent asks first, then stops the transfer through the
    // engine and removes the row; answered No, nothing changes. An ended row goes at once.
    void deletingRunningRowStopsItsTransfer()
    {
        _SENDPATH_LISTDATA rule;
        SendStatusView view;
        auto *file = new _FINDFILEINFO;
        file->filePath = QStringLiteral("/srv/send/big.iso");
        file->identity.inode = 9;
        const std::atomic<bool> notCancelled { false };
        QCOMPARE(SendLedger::admit(&rule, file, notCancelled), SendLedger::Admitted);
        const std::shared_ptr<std::atomic<bool>> stop = file->cancelled;
        auto *running = new TransferItem(file, &rule);
        view.addRow(running);
        running->onUpdateRequest(report(QStringLiteral("big.iso"), QStringLiteral("正在发送中"), {}));
        auto *ended = new TransferItem(qintptr(-1));
        view.addRow(ended);
        ended->onUpdateRequest(report(QStringLiteral("done.txt"), QStringLiteral("文件发送成功 "), kEnd));

        TestSupport::PromptRecorder prompts(PromptRequest::No);
        view.tree()->setCurrentItem(running);
        view.onMenuDelete();
        QCOMPARE(prompts.boxes().size(), 1);
        QCOMPARE(prompts.boxes().first().text,
            QStringLiteral("删除将停止发送该文件，文件仍留在发送目录中。确认删除？"));
        QVERIFY(!*stop);
        QCOMPARE(view.tree()->topLevelItemCount(), 2);

        prompts.setAnswer(PromptRequest::Yes);
        view.onMenuDelete();
        QVERIFY(*stop);
        QCOMPARE(view.tree()->topLevelItemCount(), 1);
        // The file stays held by the engine: a scan does not offer it again.
        QCOMPARE(SendLedger::findKnown(&rule, { FileKey { file->filePath, 0, 9 } }),
            QVector<bool> { true });

        prompts.clear();
        view.tree()->setCurrentItem(ended);
        view.onMenuDelete();
        QVERIFY(prompts.boxes().isEmpty());
        QCOMPARE(view.tree()->topLevelItemCount(), 0);
        // The worker that would have ended the record is not running here.
        delete rule.pendingFiles.take(FileKey { QStringLiteral("/srv/send/big.iso"), 0, 9 });
    }

    // A row deleted while its menu was open is not acted on.
    void actionOfAGoneRowDoesNothing()
    {
        RecvStatusView view;
        auto *row = new TransferItem(qintptr(-1));
        view.addRow(row);
        row->onUpdateRequest(
            report(QStringLiteral("a.txt"), QStringLiteral("接收完毕"), kEnd, "/srv/in/a.txt"));
        const std::unique_ptr<QMenu> menu = view.createContextMenu(row);
        delete view.tree()->takeTopLevelItem(0);
        FileManagerRecorder desktop;
        action(*menu, QStringLiteral("打开所在目录"))->trigger();
        QVERIFY(desktop.requests.isEmpty());
    }
};

QTEST_MAIN(TestRowActions)
#include "tst_rowactions.moc"
