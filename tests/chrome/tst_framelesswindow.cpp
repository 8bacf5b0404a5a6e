#include "chrome/FramelessMainWindow.h"

#include <QScreen>
#include <QVBoxLayout>
#include <QWindow>
#include <QtTest>

namespace {

const QRect kStart(100, 100, 400, 300);
const QSize kMinimum(200, 150);
constexpr int kTitleHeight = 30;

} // namespace

// The window is driven through its native window, as a real mouse would: every event passes
// through the same path that decides between resizing, dragging and the child widgets.
class TestFramelessWindow : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<FramelessMainWindow> m_window;
    QWidget *m_titleBar = nullptr;

    QWindow *handle() const { return m_window->windowHandle(); }

    // Presses at a point of the window, moves the mouse by delta and releases it there. The
    // release is placed by screen position, since the window may have moved under the mouse.
    void pressMoveRelease(const QPoint &press, const QPoint &delta)
    {
        const QPoint target = handle()->mapToGlobal(press + delta);
        QTest::mousePress(handle(), Qt::LeftButton, {}, press);
        QTest::mouseMove(handle(), press + delta);
        QTest::mouseRelease(handle(), Qt::LeftButton, {}, handle()->mapFromGlobal(target));
    }

private slots:
    void init()
    {
        m_window.reset(new FramelessMainWindow);
        auto *central = new QWidget;
        auto *layout = new QVBoxLayout(central);
        layout->setContentsMargins(0, 0, 0, 0);
        m_titleBar = new QWidget;
        m_titleBar->setFixedHeight(kTitleHeight);
        layout->addWidget(m_titleBar);
        layout->addWidget(new QWidget, 1);
        m_window->setCentralWidget(central);
        m_window->setTitleBar(m_titleBar);
        m_window->setMinimumSize(kMinimum);
        m_window->setGeometry(kStart);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        QCOMPARE(m_window->geometry(), kStart);
    }

    void cleanup() { m_window.reset(); }

    void isFrameless() { QVERIFY(m_window->windowFlags() & Qt::FramelessWindowHint); }

    void cursorAtEdges_data()
    {
        QTest::addColumn<QPoint>("pos");
        QTest::addColumn<int>("shape");
        const int w = kStart.width(), h = kStart.height();
        QTest::newRow("left") << QPoint(1, h / 2) << int(Qt::SizeHorCursor);
        QTest::newRow("right") << QPoint(w - 2, h / 2) << int(Qt::SizeHorCursor);
        QTest::newRow("top") << QPoint(w / 2, 1) << int(Qt::SizeVerCursor);
        QTest::newRow("bottom") << QPoint(w / 2, h - 2) << int(Qt::SizeVerCursor);
        QTest::newRow("top-left") << QPoint(1, 1) << int(Qt::SizeFDiagCursor);
        QTest::newRow("bottom-right") << QPoint(w - 1, h - 1) << int(Qt::SizeFDiagCursor);
        QTest::newRow("top-right") << QPoint(w - 1, 1) << int(Qt::SizeBDiagCursor);
        QTest::newRow("bottom-left") << QPoint(1, h - 1) << int(Qt::SizeBDiagCursor);
        QTest::newRow("inside") << QPoint(w / 2, h / 2) << int(Qt::ArrowCursor);
        QTest::newRow("just inside the band")
            << QPoint(FramelessMainWindow::kResizeMargin, h / 2) << int(Qt::ArrowCursor);
    }

    void cursorAtEdges()
    {
        QFETCH(QPoint, pos);
        QFETCH(int, shape);
        QTest::mouseMove(handle(), pos);
        QCOMPARE(int(m_window->cursor().shape()), shape);
    }

    void cursorReturnsAfterLeavingTheEdge()
    {
        QTest::mouseMove(handle(), QPoint(1, 100));
        QCOMPARE(m_window->cursor().shape(), Qt::SizeHorCursor);
        QTest::mouseMove(handle(), QPoint(100, 100));
        QCOMPARE(m_window->cursor().shape(), Qt::ArrowCursor);
    }

    void resizeAtEdges_data()
    {
        QTest::addColumn<QPoint>("press");
        QTest::addColumn<QPoint>("delta");
        QTest::addColumn<QRect>("expected");
        const int w = kStart.width(), h = kStart.height();
        QTest::newRow("bottom-right grows")
            << QPoint(w - 1, h - 1) << QPoint(50, 40) << kStart.adjusted(0, 0, 50, 40);
        QTest::newRow("left grows, right edge stays")
            << QPoint(1, h / 2) << QPoint(-60, 10) << kStart.adjusted(-60, 0, 0, 0);
        QTest::newRow("top shrinks, bottom edge stays")
            << QPoint(w / 2, 1) << QPoint(0, 70) << kStart.adjusted(0, 70, 0, 0);
        QTest::newRow("left stops at the minimum width")
            << QPoint(1, h / 2) << QPoint(350, 0)
            << QRect(kStart.right() + 1 - kMinimum.width(), kStart.top(), kMinimum.width(), h);
        QTest::newRow("bottom stops at the minimum height") << QPoint(w / 2,
            h - 1) << QPoint(0, -290) << QRect(kStart.topLeft(), QSize(w, kMinimum.height()));
    }

    void resizeAtEdges()
    {
        QFETCH(QPoint, press);
        QFETCH(QPoint, delta);
        QFETCH(QRect, expected);
        pressMoveRelease(press, delta);
        QTRY_COMPARE(m_window->geometry(), expected);
    }

    void titleBarDragMovesTheWindow()
    {
        const QPoint grab(120, kTitleHeight / 2);
        const QPoint target = handle()->mapToGlobal(grab + QPoint(30, 20));
        QTest::mousePress(handle(), Qt::LeftButton, {}, grab);
        QCOMPARE(m_titleBar->cursor().shape(), Qt::ClosedHandCursor);
        QTest::mouseMove(handle(), grab + QPoint(30, 20));
        QTest::mouseRelease(handle(), Qt::LeftButton, {}, handle()->mapFromGlobal(target));
        QTRY_COMPARE(m_window->pos(), kStart.topLeft() + QPoint(30, 20));
        QCOMPARE(m_window->size(), kStart.size());
        QCOMPARE(m_titleBar->cursor().shape(), Qt::ArrowCursor);
    }

    void dragBelowTheTitleBarDoesNothing()
    {
        pressMoveRelease(QPoint(120, kTitleHeight + 40), QPoint(30, 20));
        QCOMPARE(m_window->geometry(), kStart);
    }

    void doubleClickOnTitleBarTogglesMaximised()
    {
        const QPoint title(120, kTitleHeight / 2);
        QTest::mouseDClick(handle(), Qt::LeftButton, {}, title);
        QTRY_VERIFY(m_window->isMaximized());
        QTest::mouseDClick(handle(), Qt::LeftButton, {}, title);
        QTRY_VERIFY(!m_window->isMaximized());
        QTRY_COMPARE(m_window->geometry(), kStart);
    }

    void maximisedWindowHasNoResizeEdges()
    {
        m_window->toggleMaximized();
        const QRect maximised = m_window->screen()->availableGeometry();
        QTRY_COMPARE(m_window->geometry(), maximised);
        QTest::mouseMove(handle(), QPoint(1, 100));
        QCOMPARE(m_window->cursor().shape(), Qt::ArrowCursor);
        pressMoveRelease(QPoint(1, 100), QPoint(80, 0));
        QCOMPARE(m_window->geometry(), maximised);
    }
};

QTEST_MAIN(TestFramelessWindow)
#include "tst_framelesswindow.moc"
