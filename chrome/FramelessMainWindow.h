#pragma once

#include <QMainWindow>
#include <QPoint>
#include <QPointer>
#include <QRect>

class QMouseEvent;

// A main window without the system's title bar. One widget of the window's own making serves as
// title bar (drag to move, double-click to maximise or restore), and the window's edges resize it.
class FramelessMainWindow : public QMainWindow
{
    Q_OBJECT

public:
    // Width of the band along each edge in which the mouse resizes the window.
    static constexpr int kResizeMargin = 5;

    explicit FramelessMainWindow(QWidget *parent = nullptr);

    void setTitleBar(QWidget *titleBar);
    QWidget *titleBar() const { return m_titleBar; }

public slots:
    void toggleMaximized();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    bool titleBarEvent(QEvent *event);
    bool windowMouseEvent(QEvent *event);
    Qt::Edges edgesAt(const QPoint &pos) const;
    void showEdgeCursor(Qt::Edges edges);
    bool startResize(Qt::Edges edges, const QPoint &globalPos);
    void resizeTo(const QPoint &globalPos);
    bool startDrag(const QPoint &globalPos);
    void endDrag();

    QPointer<QWidget> m_titleBar;
    QPointer<QWindow> m_filteredWindow; // Qt may replace the native window

    bool m_dragging = false;
    QPoint m_dragOffset; // cursor position relative to the window's top-left corner

    Qt::Edges m_resizeEdges;
    QPoint m_resizeStartPos;
    QRect m_resizeStartGeometry;
    bool m_edgeCursorShown = false;
};
