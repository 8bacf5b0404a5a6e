#include "chrome/FramelessMainWindow.h"

#include <QMouseEvent>
#include <QWindow>

namespace {

Qt::CursorShape cursorFor(Qt::Edges edges)
{
    const bool left = edges & Qt::LeftEdge, right = edges & Qt::RightEdge;
    const bool top = edges & Qt::TopEdge, bottom = edges & Qt::BottomEdge;
    if ((left && top) || (right && bottom))
        return Qt::SizeFDiagCursor;
    if ((right && top) || (left && bottom))
        return Qt::SizeBDiagCursor;
    if (left || right)
        return Qt::SizeHorCursor;
    return Qt::SizeVerCursor;
}

// New extent of one side when its far (or near) edge is dragged by delta, kept within limits.
int clampedExtent(int start, int delta, int minimum, int maximum)
{
    return qBound(minimum, start + delta, qMax(minimum, maximum));
}

} // namespace

FramelessMainWindow::FramelessMainWindow(QWidget *parent)
    : QMainWindow(parent)
{
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    setMouseTracking(true);
}

void FramelessMainWindow::setTitleBar(QWidget *titleBar)
{
    if (m_titleBar)
        m_titleBar->removeEventFilter(this);
    m_titleBar = titleBar;
    if (m_titleBar)
        m_titleBar->installEventFilter(this);
}

void FramelessMainWindow::toggleMaximized()
{
    if (isMaximized())
        showNormal();
    else
        showMaximized();
}

void FramelessMainWindow::showEvent(QShowEvent *event)
{
    // Mouse events reach the native window before any child widget sees them, so edge resizing
    // works whatever widget covers the edge and whether or not it tracks the mouse.
    if (windowHandle() != m_filteredWindow) {
        if (m_filteredWindow)
            m_filteredWindow->removeEventFilter(this);
        m_filteredWindow = windowHandle();
        if (m_filteredWindow)
            m_filteredWindow->installEventFilter(this);
    }
    QMainWindow::showEvent(event);
}

bool FramelessMainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_filteredWindow && windowMouseEvent(event))
        return true;
    if (watched == m_titleBar && titleBarEvent(event))
        return true;
    return QMainWindow::eventFilter(watched, event);
}

bool FramelessMainWindow::windowMouseEvent(QEvent *event)
{
    if (event->type() == QEvent::Leave) {
        if (!m_resizeEdges)
            showEdgeCursor({});
        return false;
    }
    if (event->type() != QEvent::MouseMove && event->type() != QEvent::MouseButtonPress
        && event->type() != QEvent::MouseButtonRelease)
        return false;

    auto *mouse = static_cast<QMouseEvent *>(event);
    switch (event->type()) {
    case QEvent::MouseMove:
        if (m_resizeEdges) {
            resizeTo(mouse->globalPos());
            return true;
        }
        if (mouse->buttons() == Qt::NoButton)
            showEdgeCursor(edgesAt(mouse->pos()));
        return false;
    case QEvent::MouseButtonPress:
        if (mouse->button() != Qt::LeftButton)
            return false;
        return startResize(edgesAt(mouse->pos()), mouse->globalPos());
    default:
        if (!m_resizeEdges || mouse->button() != Qt::LeftButton)
            return false;
        m_resizeEdges = {};
        showEdgeCursor(edgesAt(mouse->pos()));
        return true;
    }
}

bool FramelessMainWindow::titleBarEvent(QEvent *event)
{
    switch (event->type()) {
    case QEvent::MouseButtonDblClick:
        if (static_cast<QMouseEvent *>(event)->button() != Qt::LeftButton)
            return false;
        toggleMaximized();
        return true;
    case QEvent::MouseButtonPress: {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() != Qt::LeftButton || isMaximized() || isFullScreen())
            return false;
        return startDrag(mouse->globalPos());
    }
    case QEvent::MouseMove:
        if (!m_dragging)
            return false;
        move(static_cast<QMouseEvent *>(event)->globalPos() - m_dragOffset);
        return true;
    case QEvent::MouseButtonRelease:
        if (!m_dragging)
            return false;
        endDrag();
        return true;
    default:
        return false;
    }
}

Qt::Edges FramelessMainWindow::edgesAt(const QPoint &pos) const
{
    Qt::Edges edges;
    if (isMaximized() || isFullScreen())
        return edges;
    if (pos.x() < kResizeMargin)
        edges |= Qt::LeftEdge;
    else if (pos.x() >= width() - kResizeMargin)
        edges |= Qt::RightEdge;
    if (pos.y() < kResizeMargin)
        edges |= Qt::TopEdge;
    else if (pos.y() >= height() - kResizeMargin)
        edges |= Qt::BottomEdge;
    return edges;
}

void FramelessMainWindow::showEdgeCursor(Qt::Edges edges)
{
    if (edges) {
        setCursor(cursorFor(edges));
        m_edgeCursorShown = true;
    } else if (m_edgeCursorShown) {
        unsetCursor();
        m_edgeCursorShown = false;
    }
}

bool FramelessMainWindow::startResize(Qt::Edges edges, const QPoint &globalPos)
{
    if (!edges)
        return false;
    // Where the window manager offers it, it resizes more smoothly than we can.
    if (windowHandle() && windowHandle()->startSystemResize(edges))
        return true;
    m_resizeEdges = edges;
    m_resizeStartPos = globalPos;
    m_resizeStartGeometry = geometry();
    return true;
}

void FramelessMainWindow::resizeTo(const QPoint &globalPos)
{
    const QPoint delta = globalPos - m_resizeStartPos;
    const QSize minimum = minimumSize().expandedTo(minimumSizeHint()).expandedTo(QSize(1, 1));
    const QSize maximum = maximumSize();
    const QRect start = m_resizeStartGeometry;
    QRect target = start;
    if (m_resizeEdges & Qt::LeftEdge)
        target.setLeft(start.right() + 1
            - clampedExtent(start.width(), -delta.x(), minimum.width(), maximum.width()));
    if (m_resizeEdges & Qt::RightEdge)
        target.setWidth(clampedExtent(start.width(), delta.x(), minimum.width(), maximum.width()));
    if (m_resizeEdges & Qt::TopEdge)
        target.setTop(start.bottom() + 1
            - clampedExtent(start.height(), -delta.y(), minimum.height(), maximum.height()));
    if (m_resizeEdges & Qt::BottomEdge)
        target.setHeight(
            clampedExtent(start.height(), delta.y(), minimum.height(), maximum.height()));
    setGeometry(target);
}

bool FramelessMainWindow::startDrag(const QPoint &globalPos)
{
    m_dragging = true;
    m_dragOffset = globalPos - frameGeometry().topLeft();
    m_titleBar->setCursor(Qt::ClosedHandCursor);
    return false; // the press still reaches the title bar, so a double-click is recognised
}

void FramelessMainWindow::endDrag()
{
    m_dragging = false;
    m_titleBar->unsetCursor();
}
