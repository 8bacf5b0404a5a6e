// Where dropped files go: the only send rule's directory, the rule the user chooses among several,
// or the rule they were dropped on in the send-rule list.

#include "app/MainWindow.h"
#include "model/GlobalData.h"
#include "support/TestSupport.h"
#include "views/rules/SendPathView.h"
#include "views/transfers/SendDrop.h"
#include "views/transfers/SendStatusView.h"

#include <QMimeData>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

namespace {

constexpr int kWaitMs = 30000;

_SENDPATH_LISTDATA *addRule(const char *key, const QString &directory)
{
    auto *rule = new _SENDPATH_LISTDATA;
    copyToField(rule->SendPathID, kPathIDSize, key);
    copyToField(rule->ToUser, kUserNameSize, "bob");
    rule->SendPath = directory;
    g_SendPathList.append(rule);
    return rule;
}

// Drags the paths onto the widget at the point and drops them; whether the widget took them.
bool dropOn(QWidget *widget, const QPoint &at, const QList<QUrl> &urls)
{
    QMimeData data;
    data.setUrls(urls);
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &enter);
    if (!enter.isAccepted())
        return false;
    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &drop);
    return drop.isAccepted();
}

} // namespace

class TestSendDrop : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(TestSupport::enterDir(m_workDir));
        TestSupport::useFreeListenerPorts();
        QVERIFY(m_files.isValid());
        QFile file(m_files.filePath(QStringLiteral("a.txt")));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("a") == 1);
        m_file = QUrl::fromLocalFile(file.fileName());
    }

    void cleanup()
    {
        const QList<_SENDPATH_LISTDATA *> rules = g_SendPathList.snapshot();
        g_SendPathList.clear();
        qDeleteAll(rules);
    }

    // Among several rules the user chooses; choosing none copies nothing.
    void asksWhichRule()
    {
        QTemporaryDir first;
        QTemporaryDir second;
        addRule("FIRST", first.path());
        addRule("SECOND", second.path());
        SendStatusView page;
        QStringList offered;
        int answer = -1;
        page.drop()->setRuleChooser([&](const QStringList &rules) {
            offered = rules;
            return answer;
        });
        QSignalSpy finished(page.drop(), &SendDrop::finished);

        QVERIFY(dropOn(&page, QPoint(10, 10), { m_file }));
        QCOMPARE(offered,
            QStringList({ QStringLiteral("FIRST → bob（%1）").arg(first.path()),
                QStringLiteral("SECOND → bob（%1）").arg(second.path()) }));
        QVERIFY(!page.drop()->isBusy());
        answer = 1;
        QVERIFY(dropOn(&page, QPoint(10, 10), { m_file }));
        QVERIFY(finished.wait(kWaitMs));
        QVERIFY(QFile::exists(second.filePath(QStringLiteral("a.txt"))));
        QVERIFY(QDir(first.path()).isEmpty());
    }

    // What is not a local file is not taken; without a rule the user is told to make one.
    void refusesWhatItCannotSend()
    {
        SendStatusView page;
        QVERIFY(!dropOn(&page, QPoint(10, 10), { QUrl(QStringLiteral("https://example.org/a")) }));
        TestSupport::PromptRecorder prompts;
        QVERIFY(dropOn(&page, QPoint(10, 10), { m_file }));
        QCOMPARE(prompts.texts(), QStringList { QStringLiteral("请先配置发送目录 ") });
        QVERIFY(!page.drop()->isBusy());
    }

    // Dropped on a rule of the send-rule list, the files go to that rule without a question, and
    // the window shows the copy on the send status page.
    void dropOnARuleGoesToIt()
    {
        QTemporaryDir first;
        QTemporaryDir second;
        addRule("FIRST", first.path());
        addRule("SECOND", second.path());
        TestSupport::PromptRecorder prompts;
        MainWindow window;
        window.resize(1280, 780);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.sendPathView()->onDisPlayList();
        auto *pages = window.findChild<QStackedWidget *>(QStringLiteral("stackedWidget"));
        pages->setCurrentIndex(MainWindow::SendPathPage);
        SendDrop *drop = window.sendStatusView()->drop();
        drop->setRuleChooser([](const QStringList &) {
            qFatal("asked for a rule");
            return -1;
        });
        QSignalSpy finished(drop, &SendDrop::finished);
        QTableWidget *rules = window.sendPathView()->table();
        const QRect secondRow = rules->visualRect(rules->model()->index(1, 1));
        QVERIFY(dropOn(rules->viewport(), secondRow.center(), { m_file }));
        QVERIFY(finished.wait(kWaitMs));
        QVERIFY(QFile::exists(second.filePath(QStringLiteral("a.txt"))));
        QCOMPARE(pages->currentIndex(), int(MainWindow::SendStatusPage));
        QVERIFY(prompts.boxes().isEmpty());
    }

private:
    QTemporaryDir m_workDir;
    QTemporaryDir m_files;
    QUrl m_file;
};

QTEST_MAIN(TestSendDrop)
#include "tst_senddrop.moc"
