// Photographs what a row's menu, a tray notification and the history page look like, with sample
// rows and events, for the README. Run by scripts/feature_shots.sh under a virtual X server with a
// tray, so that the menus and the notification are drawn as a desktop shows them.
//   feature_shots OUTPUT_DIRECTORY

#include "app/SystemTray.h"
#include "app/TransferNotifier.h"
#include "audit/AuditTestSupport.h"
#include "model/GlobalData.h"
#include "views/history/HistoryModel.h"
#include "views/history/HistoryView.h"
#include "views/transfers/RecvStatusView.h"
#include "views/transfers/SendStatusView.h"
#include "views/transfers/TransferItem.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QMenu>
#include <QScreen>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <cstdio>

namespace {

constexpr int kSettleMs = 600;
constexpr int kBalloonMs = 1500;
const QSize kPageSize(1100, 330);

void settle(int ms = kSettleMs)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool save(const QPixmap &picture, const QString &directory, const char *name)
{
    const QString path = QDir(directory).filePath(QLatin1String(name));
    const bool saved = picture.save(path);
    std::printf("%s %s\n", saved ? "saved" : "could not save", qPrintable(path));
    return saved;
}

// The screen where a widget and whatever opened over it lie.
QPixmap grabAround(const QRect &area)
{
    return QGuiApplication::primaryScreen()->grabWindow(0, area.x(), area.y(), area.width(),
        area.height());
}

TransferStateInfo report(const QStringList &texts, const QString &storedPath = QString())
{
    TransferStateInfo info;
    for (int column = 0; column < texts.size(); ++column)
        info.setText(column, texts.at(column));
    info.setText(TransferStateInfo::StoredPath, storedPath);
    return info;
}

void addRow(TransferStatusView &view, TransferItem *row, const TransferStateInfo &info)
{
    view.addRow(row);
    row->onUpdateRequest(info);
}

// A status page with rows of every outcome and the menu of one row open over it.
bool shootMenu(TransferStatusView &view, int menuRow, const QString &directory, const char *name)
{
    view.resize(kPageSize);
    view.move(0, 0);
    view.show();
    settle();
    QTreeWidget *tree = view.tree();
    QTreeWidgetItem *item = tree->topLevelItem(menuRow);
    tree->setCurrentItem(item);
    const std::unique_ptr<QMenu> menu = view.createContextMenu(item);
    const QRect row = tree->visualItemRect(item);
    menu->popup(tree->viewport()->mapToGlobal(row.center() - QPoint(row.width() / 4, 0)));
    settle();
    const bool saved = save(grabAround(view.frameGeometry()), directory, name);
    menu->close();
    view.hide();
    return saved;
}

bool shootReceiveMenu(const QString &directory, const QString &storedDir)
{
    RecvStatusView view;
    const QString stored = storedDir + QStringLiteral("/20261210_1321_季度报表.xlsx");
    QFile file(stored);
    file.open(QIODevice::WriteOnly);
    addRow(view, new TransferItem(qintptr(-1)),
        report({ "系统镜像备份.iso", "108.52 MB/s", "0.42", "4.00GB", "ALICE-NOTES",
            "2026-12-10 13:20:05", "", "正在接收中" }));
    addRow(view, new TransferItem(qintptr(-1)),
        report({ "会议纪要.txt", "0 Mbps", "0.6", "23Bytes", "ALICE-NOTES", "2026-12-10 13:20:41",
            "2026-12-10 13:20:41", "文件存在过滤关键字" }));
    addRow(view, new TransferItem(qintptr(-1)),
        report({ "20261210_1321_季度报表.xlsx", "0 Mbps", "1", "390.63KB", "ALICE-NOTES",
                   "2026-12-10 13:21:20", "2026-12-10 13:21:21", "接收完毕" },
            stored));
    return shootMenu(view, 0, directory, "menu-recv.png");
}

bool shootSendMenu(const QString &directory)
{
    SendStatusView view;
    _FINDFILEINFO file;
    file.filePath = QStringLiteral("/srv/outbox/交接单.docx");
    addRow(view, new TransferItem(&file, nullptr),
        report({ "交接单.docx", "0 Mbps", "0", "19.53KB", "ALICE-NOTES", "2026-12-10 13:20:02",
            "2026-12-10 13:20:40", "等待重发 13:22（接收方不在线）" }));
    addRow(view, new TransferItem(qintptr(-1)),
        report({ "setup.exe", "0 Mbps", "0", "14Bytes", "ALICE-NOTES", "2026-12-10 13:20:03",
            "2026-12-10 13:20:03", "不允许发送的文件类型" }));
    addRow(view, new TransferItem(qintptr(-1)),
        report({ "layout-v2.png", "0 Mbps", "1", "175.78KB", "ALICE-NOTES", "2026-12-10 13:20:02",
            "2026-12-10 13:20:03", "文件发送成功 " }));
    return shootMenu(view, 2, directory, "menu-send.png");
}

// The tray's message after a burst of 300 arrivals, as the desktop shows it beside the tray.
bool shootNotification(const QString &directory)
{
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        std::printf("no system tray: no notification to photograph\n");
        return false;
    }
    SystemTray tray;
    TransferNotifier notifier;
    QObject::connect(&notifier, &TransferNotifier::notify, &tray,
        [&tray](const QString &title, const QString &text, bool warning) {
            tray.showNotification(title, text, warning);
        });
    settle();
    for (int file = 0; file < 300; ++file)
        notifier.onOutcome(4, false, TransferOutcome::Done, QStringLiteral("f%1").arg(file), {});
    settle(int(TransferNotifier::kQuietMs) + kBalloonMs);
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const QRect corner(screen.width() - 300, 0, 300, 110);
    return save(grabAround(corner), directory, "notification.png");
}

// The history page over events of every outcome.
bool shootHistory(const QString &directory, const QString &storeDir)
{
    const QString store = storeDir + QStringLiteral("/audit.db");
    const auto at = [](int minutes) {
        return QDateTime::currentDateTimeUtc()
            .addSecs(-60 * minutes)
            .toString(Qt::ISODateWithMs)
            .toLatin1();
    };
    const auto detail = [](const char *file, const char *peer, const char *message) {
        return QByteArray("'10.0.0.5', '") + file + "', '" + peer + "', '" + message + "'";
    };
    const QVector<AuditTestSupport::StoredEvent> events {
        { at(9), "CLIENT_LOGIN", "登录", 1, "'10.0.0.5','登录成功'" },
        { at(8), "CLIENT_SEND", "发送", 1, detail("layout-v2.png", "bob", "传输完毕") },
        { at(7), "CLIENT_SEND", "发送", 0, detail("setup.exe", "bob", "不允许发送的文件类型") },
        { at(6), "CLIENT_RECV", "接收文件", 1,
            detail("20261210_1321_季度报表.xlsx", "alice", "接收完毕") },
        { at(5), "CLIENT_SEND", "发送", 0,
            detail("交接单.docx", "bob", "链路故障稍错误代码:type 0") },
        { at(4), "CLIENT_SEND", "发送", 0,
            detail("交接单.docx", "bob", "文件多次发送失败：接收方不在线") },
        { at(3), "CLIENT_RECV", "接收文件", 0, detail("会议纪要.txt", "alice", "文件存在过滤关键字") },
        { at(2), "CLIENT_RECV", "接收文件", 0, detail("数据.tar.gz", "alice", "文件校验错误") },
    };
    QString error;
    if (!AuditTestSupport::createStore(store, events, &error)) {
        std::printf("could not write the sample store: %s\n", qPrintable(error));
        return false;
    }
    HistoryView view;
    view.setDatabase(store);
    view.resize(1200, 360);
    view.move(0, 0);
    view.show();
    settle(2 * kSettleMs);
    view.table()->selectRow(3);
    settle();
    return save(view.grab(), directory, "history-outcomes.png");
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: feature_shots OUTPUT_DIRECTORY\n");
        return 2;
    }
    const QString directory = QString::fromLocal8Bit(argv[1]);
    QTemporaryDir scratch;
    bool saved = shootReceiveMenu(directory, scratch.path());
    saved = shootSendMenu(directory) && saved;
    saved = shootHistory(directory, scratch.path()) && saved;
    saved = shootNotification(directory) && saved;
    return saved ? 0 : 1;
}
