#pragma once

#include <QLayout>
#include <QList>

// Lays out its items left to right, as a bar of controls, and starts a new line where the next
// item would not fit: in a narrow window the bar wraps instead of cutting its controls. What width
// a line leaves goes to its items that grow sideways (a search field, a stretch).
class FlowLayout : public QLayout
{
public:
    FlowLayout() = default;
    ~FlowLayout() override;
    FlowLayout(const FlowLayout &) = delete;
    FlowLayout &operator=(const FlowLayout &) = delete;

    // Room that takes what width its line leaves, as QBoxLayout::addStretch does.
    void addStretch();

    void addItem(QLayoutItem *item) override;
    int count() const override;
    QLayoutItem *itemAt(int index) const override;
    QLayoutItem *takeAt(int index) override;
    Qt::Orientations expandingDirections() const override;
    bool hasHeightForWidth() const override;
    int heightForWidth(int width) const override;
    QSize minimumSize() const override;
    QSize sizeHint() const override;
    void setGeometry(const QRect &rect) override;

private:
    using Line = QList<QLayoutItem *>;

    int gap() const;
    QList<Line> lines(int width) const;
    // Places the items in the rectangle, or only measures when place is false; returns the
    // height the lines take, margins included.
    int arrange(const QRect &rect, bool place) const;
    void placeLine(const Line &line, const QRect &area, int y, int height) const;

    QList<QLayoutItem *> m_items;
};
