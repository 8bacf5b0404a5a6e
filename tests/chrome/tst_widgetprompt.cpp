#include "chrome/WidgetPrompt.h"
#include "model/Prompt.h"

#include <QMessageBox>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <QtTest>
#include <atomic>

namespace {

// What the box looked like when it was on screen.
struct SeenBox {
    bool seen = false;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QWidget *parent = nullptr;
    QString title;
    QString text;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
};

// Plays the user: waits in the GUI thread for the modal message box, notes it and presses a button.
class BoxAnswerer : public QObject
{
public:
    explicit BoxAnswerer(QMessageBox::StandardButton press)
        : m_press(press)
    {
        connect(&m_timer, &QTimer::timeout, this, &BoxAnswerer::poll);
        m_timer.start(10);
    }
    SeenBox seen;

private:
    void poll()
    {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || seen.seen)
            return;
        seen.seen = true;
        seen.icon = box->icon();
        seen.parent = box->parentWidget();
        seen.title = box->windowTitle();
        seen.text = box->text();
        seen.buttons = box->standardButtons();
        seen.defaultButton = box->standardButton(box->defaultButton());
        box->button(m_press)->click();
    }

    QMessageBox::StandardButton m_press;
    QTimer m_timer;
};

} // namespace

class TestWidgetPrompt : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { installWidgetPrompt(); }

    void showsTheRequestedBox_data()
    {
        QTest::addColumn<int>("icon");
        QTest::addColumn<int>("buttons");
        QTest::addColumn<int>("defaultButton");
        QTest::addColumn<int>("press"); // a button on the screen
        QTest::addColumn<bool>("withParent");
        QTest::addColumn<bool>("fromWorker");
        QTest::addColumn<int>("shownIcon");
        QTest::addColumn<int>("shownButtons");
        QTest::addColumn<int>("answer");

        const int yes = PromptRequest::Yes, no = PromptRequest::No, ok = PromptRequest::Ok;
        const int critical = PromptRequest::Critical, question = PromptRequest::Question;
        const int information = PromptRequest::Information, warning = PromptRequest::Warning;
        // A single Yes asks nothing: the box says 确定 and answers Yes.
        QTest::newRow("error from the GUI thread")
            << critical << yes << 0 << ok << false << false << critical << ok << yes;
        QTest::newRow("error from a worker")
            << critical << yes << 0 << ok << false << true << critical << ok << yes;
        QTest::newRow("question answered No, parented")
            << question << (yes | no) << 0 << no << true << false << question << (yes | no) << no;
        QTest::newRow("question from a worker, default No")
            << question << (yes | no) << no << yes << false << true << question << (yes | no)
            << yes;
        QTest::newRow("notice asked as a question")
            << question << yes << 0 << ok << true << false << information << ok << yes;
        QTest::newRow("information")
            << information << ok << 0 << ok << true << false << information << ok << ok;
        QTest::newRow("warning from a worker")
            << warning << yes << yes << ok << false << true << warning << ok << yes;
    }

    void showsTheRequestedBox()
    {
        QFETCH(int, icon);
        QFETCH(int, buttons);
        QFETCH(int, defaultButton);
        QFETCH(int, press);
        QFETCH(bool, withParent);
        QFETCH(bool, fromWorker);
        QFETCH(int, shownIcon);
        QFETCH(int, shownButtons);
        QFETCH(int, answer);

        QWidget parent;
        PromptRequest request;
        request.icon = PromptRequest::Icon(icon);
        request.parent = withParent ? &parent : nullptr;
        request.title = QStringLiteral("关闭提示 ");
        request.text = QStringLiteral("确认关闭?");
        request.buttons = buttons;
        request.defaultButton = defaultButton;

        BoxAnswerer answerer { QMessageBox::StandardButton(press) };
        // Written by the worker and read here after its end, which QThread::wait() orders in a way
        // ThreadSanitizer cannot see.
        std::atomic<int> answered { -1 };
        if (fromWorker) {
            std::unique_ptr<QThread> worker(
                QThread::create([&] { answered = Prompt::show(request); }));
            worker->start();
            QTRY_VERIFY_WITH_TIMEOUT(worker->isFinished(), 30000);
            worker->wait();
        } else {
            answered = Prompt::show(request);
        }

        const SeenBox &seen = answerer.seen;
        QVERIFY(seen.seen);
        QCOMPARE(answered.load(), answer);
        const QMessageBox::Icon icons[] = { QMessageBox::Critical, QMessageBox::Question,
            QMessageBox::Information, QMessageBox::Warning };
        QCOMPARE(seen.icon, icons[shownIcon]);
        QCOMPARE(seen.parent, withParent ? &parent : nullptr);
        QCOMPARE(seen.title, request.title);
        QCOMPARE(seen.text, request.text);
        QCOMPARE(int(seen.buttons), shownButtons);
        // A default Yes is the 确定 that stands for it.
        if (defaultButton != PromptRequest::NoButton)
            QCOMPARE(int(seen.defaultButton),
                defaultButton == PromptRequest::Yes ? shownButtons : defaultButton);
    }

    // The error box as the user sees it: a Chinese title and the one button 确定.
    void errorIsTheClientsErrorBox()
    {
        BoxAnswerer answerer { QMessageBox::Ok };
        QCOMPARE(Prompt::error(QStringLiteral("无效的ip地址")), int(PromptRequest::Yes));
        QCOMPARE(answerer.seen.icon, QMessageBox::Critical);
        QCOMPARE(answerer.seen.parent, nullptr);
        QCOMPARE(answerer.seen.title, QStringLiteral("错误"));
        QCOMPARE(answerer.seen.text, QStringLiteral("无效的ip地址"));
        QCOMPARE(answerer.seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    }
};

QTEST_MAIN(TestWidgetPrompt)
#include "tst_widgetprompt.moc"
