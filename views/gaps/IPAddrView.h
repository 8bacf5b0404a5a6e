#pragma once

#include <QPoint>
#include <QWidget>
#include <memory>

namespace Ui {
class IPAddrView;
}

class ControlThread;
class QMenu;
class QTableWidget;
struct _VKGAPIP_CONF;

// The page that lists the gaps the user is logged in to, with their counters and state. From it
// the user adds a further gap, removes one, or connects a disconnected one again. Every row is
// rebuilt from the gap records; the view keeps no data of its own.
class IPAddrView : public QWidget
{
    Q_OBJECT

public:
    explicit IPAddrView(QWidget *parent = nullptr);
    ~IPAddrView() override;

    QTableWidget *table() const;

    // The context menu for a click at pos, or null when no row lies there; shown by onMenuRequst.
    std::unique_ptr<QMenu> createContextMenu(const QPoint &pos);
    // From "连接" until its login has ended.
    bool isConnecting() const;

signals:
    // A gap was added to or removed from the list.
    void listChanged();
    // The login that "连接" started has ended, whatever its result (shown in the state column).
    void connectEnded();

public slots:
    void displayList();
    void onAddBtnClicked();
    void onDelBtnClicked();
    void onUpdateGapState();
    void onMenuRequst(QPoint pos);
    void onConnectGap();

private:
    struct RowTexts;

    void setupTable();
    static RowTexts currentTexts(const _VKGAPIP_CONF &gap);
    static RowTexts rebuiltTexts();
    void writeRow(int row, const _VKGAPIP_CONF &gap, const RowTexts &texts);
    void clearRowsFrom(int row);
    void fitRowCount(int gapCount);
    _VKGAPIP_CONF *currentGap() const;
    static bool gapInUse(const _VKGAPIP_CONF &gap);

    std::unique_ptr<Ui::IPAddrView> m_ui;
    // The login of "连接", beside the window: a silent gap must not hold it up. One at a time.
    std::unique_ptr<ControlThread> m_connect;
};
