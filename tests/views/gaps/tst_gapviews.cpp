// The add-gap dialog and the gap list, against the gap simulator (IPv4 and IPv6), a scripted gap
// for the answers the simulator does not give, and an address where nothing listens.

#include "gap/IPAddrConfigDialog.h"
#include "gap/ScriptedGap.h"
#include "model/GlobalData.h"
#include "support/TestSupport.h"
#include "tools/gapsim/GapsimProcess.h"
#include "views/gaps/IPAddrView.h"
#include "views/gaps/StatusCheckout.h"
#include "views/rules/ConfigurationFile.h"

#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <memory>

using TestSupport::PromptRecorder;

namespace {

const QString kSim4 = QStringLiteral("127.0.0.1");
const QString kSim6 = QStringLiteral("::1");
const QString kScripted = QStringLiteral("127.0.0.2");
const QString kNobody = QStringLiteral("127.0.0.3");

const char *kGapsimConfig = "[gap]\ntimeout_ms = 3000\n"
                            "[user.alice]\npassword = alice-pass\nlevel = 1\n"
                            "[user.bob]\npassword = bob-pass\nlevel = 2\n"
                            "[user.carol]\npassword = carol-pass\nstate = first-login\n"
                            "[user.dave]\npassword = dave-pass\nstate = expired\n"
                            "[user.eve]\npassword = eve-pass\n"
                            "[path.ALICE-TO-BOB]\nfrom = alice\nto = bob\n"
                            "[policy]\nkey_flag = false\nkey_length = 0\n"
                            "key_file = gapviews-key-%1\n";

const QColor kGreen(96, 176, 57);
const QColor kRed(255, 30, 0);
const QColor kOrange(255, 176, 57);
const QColor kBlue(61, 162, 255);

QString cell(const QTableWidget *table, int row, int column)
{
    const QTableWidgetItem *item = table->item(row, column);
    return item ? item->text() : QString();
}

QStringList rowTexts(const QTableWidget *table, int row)
{
    QStringList texts;
    for (int column = 0; column < table->columnCount(); ++column)
        texts << cell(table, row, column);
    return texts;
}

_VKGAPIP_CONF *listGap(const QByteArray &address, const QByteArray &user = "alice")
{
    auto *gap = new _VKGAPIP_CONF;
    copyToField(gap->HostIP, kHostIPSize, address);
    copyToField(gap->LoginUserName, kUserNameSize, user);
    copyToField(gap->LoginPswd, kUserNameSize, user + "-pass");
    gap->hostIPStr = QString::fromLatin1(address);
    g_GapInfoList.append(gap);
    return gap;
}

} // namespace

class TestGapViews : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void dialogForm();
    void addRefusals_data();
    void addRefusals();
    void addOverIPv4AndIPv6_data();
    void addOverIPv4AndIPv6();
    void addFromTheListButton();
    void silentGapAddCanBeCancelled();
    void listedAddressIsRefused();
    void stateColumn_data();
    void stateColumn();
    void rebuiltListShowsStartValues();
    void tableLayout();
    void deleteRefusals();
    void deleteAsksAndMovesRowsUp();
    void deleteNoKeepsTheGap();
    void contextMenu();
    void connectLogsInAgain();
    void connectToASilentGapKeepsTheWindowTurning();
    void exportedGapLogsInAfterImport();
    void moreThanSixteenGaps();
    void deleteWhileTheCheckerWalks();
    void screenshots();

private:
    IPAddrConfigDialog *openDialog(IPAddrView &view);
    // Waits for the dialog's login to end (or the dialog to go with its success).
    static void awaitLogin(const QPointer<IPAddrConfigDialog> &dialog);
    static void fill(
        QDialog *dialog, const QString &address, const QString &user, const QString &password);
    void saveShot(QWidget *widget, const QString &name);

    QTemporaryDir m_dir;
    std::unique_ptr<GapsimProcess> m_sim4;
    std::unique_ptr<GapsimProcess> m_sim6;
    std::unique_ptr<ScriptedGap> m_scripted;
    QList<_VKGAPIP_CONF *> m_unlisted; // taken out of the list by a test; freed at its end
};

void TestGapViews::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(TestSupport::enterDir(m_dir));
    const quint16 port = TestSupport::pickFreePort(QHostAddress(kSim4));
    QVERIFY(port != 0);
    qputenv("VARKO_GAP_PORT", QByteArray::number(port)); // read once, before the first login
    const QStringList onPort { "--port", QString::number(port) };
    const QString config
        = QString::fromLatin1(kGapsimConfig).arg(QCoreApplication::applicationPid());
    m_sim4 = std::make_unique<GapsimProcess>(m_dir.path());
    QVERIFY(m_sim4->start(config, onPort));
    const QString dir6 = m_dir.filePath(QStringLiteral("v6")); // its own files
    QVERIFY(QDir().mkpath(dir6));
    m_sim6 = std::make_unique<GapsimProcess>(dir6);
    QVERIFY(m_sim6->start(config, onPort + QStringList { "--listen", kSim6 }));
    m_scripted = std::make_unique<ScriptedGap>(QHostAddress(kScripted), port);
    QVERIFY(m_scripted->startListening());
}

void TestGapViews::cleanup()
{
    m_scripted->silent = false;
    qDeleteAll(g_GapInfoList.snapshot());
    qDeleteAll(g_SendPathList.snapshot());
    qDeleteAll(g_RecvPathList.snapshot());
    qDeleteAll(m_unlisted);
    m_unlisted.clear();
    g_GapInfoList.clear();
    g_SendPathList.clear();
    g_RecvPathList.clear();
}

IPAddrConfigDialog *TestGapViews::openDialog(IPAddrView &view)
{
    view.findChild<QPushButton *>(QStringLiteral("addBtn"))->click();
    return view.findChild<IPAddrConfigDialog *>();
}

void TestGapViews::awaitLogin(const QPointer<IPAddrConfigDialog> &dialog)
{
    QTRY_VERIFY_WITH_TIMEOUT(!dialog || !dialog->isLoggingIn(), 30000);
}

void TestGapViews::fill(
    QDialog *dialog, const QString &address, const QString &user, const QString &password)
{
    dialog->findChild<QLineEdit *>(QStringLiteral("ipEdit"))->setText(address);
    dialog->findChild<QLineEdit *>(QStringLiteral("userEdit"))->setText(user);
    dialog->findChild<QLineEdit *>(QStringLiteral("pswdEdit"))->setText(password);
}

void TestGapViews::dialogForm()
{
    QPointer<IPAddrConfigDialog> dialog = new IPAddrConfigDialog;
    QCOMPARE(dialog->windowTitle(), QStringLiteral("隔离器配置-添加"));
    QVERIFY(dialog->isModal());
    QVERIFY(dialog->testAttribute(Qt::WA_DeleteOnClose));
    QVERIFY(!(dialog->windowFlags() & Qt::WindowContextHelpButtonHint));
    QStringList labels;
    for (const char *name : { "ipLabel", "userLabel", "pswdLabel" })
        labels << dialog->findChild<QLabel *>(QLatin1String(name))->text();
    QCOMPARE(labels, QStringList({ "网  闸：", "用户名：", "密  码：" }));
    QCOMPARE(dialog->findChild<QPushButton *>(QStringLiteral("pushButton"))->text(),
        QStringLiteral("添加"));
    QCOMPARE(dialog->findChild<QLineEdit *>(QStringLiteral("pswdEdit"))->echoMode(),
        QLineEdit::Password);
    // No longer than the record's fields: nothing typed is cut silently on the way to the gap.
    QList<int> limits;
    for (const char *name : { "ipEdit", "userEdit", "pswdEdit" })
        limits << dialog->findChild<QLineEdit *>(QLatin1String(name))->maxLength();
    QCOMPARE(limits, QList<int>({ kHostIPSize - 1, kUserNameSize - 1, kUserNameSize - 1 }));
    dialog->close();
    QTRY_VERIFY(dialog.isNull());
}

void TestGapViews::addRefusals_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<int>("scriptedCode"); // the scripted gap's answer; -1: not a login answer
    QTest::addColumn<QStringList>("boxes");

    const QString verify = QStringLiteral("验证错误");
    QTest::newRow("not an address") << "300.1.1.1"
                                    << "alice"
                                    << "alice-pass" << 0 << QStringList { "无效的ip地址" };
    QTest::newRow("no address") << ""
                                << ""
                                << "" << 0 << QStringList { "无效的ip地址" };
    QTest::newRow("host name") << "localhost"
                               << "alice"
                               << "alice-pass" << 0 << QStringList { "无效的ip地址" };
    QTest::newRow("no user, no password") << kSim4 << ""
                                          << "" << 0 << QStringList { "请输入用户名" };
    QTest::newRow("no password") << kSim4 << "alice"
                                 << "" << 0 << QStringList { "请输入密码 " };
    QTest::newRow("unknown user") << kSim4 << "zed"
                                  << "x" << 0 << QStringList { "该用户不存在" };
    QTest::newRow("wrong password") << kSim4 << "alice"
                                    << "nope" << 0 << QStringList { "密码错误" };
    QTest::newRow("first login") << kSim4 << "carol"
                                 << "carol-pass" << 0
                                 << QStringList { "用户首次登录,请先修改密码" };
    QTest::newRow("expired") << kSim6 << "dave"
                             << "dave-pass" << 0
                             << QStringList { "账户密码已过期,请联系管理员重置" };
    // The rules message says it all.
    QTest::newRow("no rules") << kSim4 << "eve"
                              << "eve-pass" << 0 << QStringList { "当前用户没有配置传输规则" };
    // Worded as the login window words it: nothing here reads as a wrong password.
    QTest::newRow("nothing listens") << kNobody << "alice"
                                     << "alice-pass" << 0 << QStringList { "隔离器连接失败" };
    QTest::newRow("no login answer")
        << kScripted << "alice"
        << "alice-pass" << -1 << QStringList { "网络异常，请检查网络是否正常" };
    QTest::newRow("other refusal") << kScripted << "alice"
                                   << "alice-pass" << 104 << QStringList { verify };
}

void TestGapViews::addRefusals()
{
    QFETCH(QString, address);
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(int, scriptedCode);
    QFETCH(QStringList, boxes);
    m_scripted->wrongType = scriptedCode < 0;
    m_scripted->loginCode = scriptedCode;
    listGap("10.9.9.9");

    PromptRecorder recorder;
    QPointer<IPAddrConfigDialog> dialog = new IPAddrConfigDialog;
    QSignalSpy added(dialog.data(), &IPAddrConfigDialog::updateDisPlayList);
    dialog->show();
    fill(dialog, address, user, password);
    QTest::mouseClick(
        dialog->findChild<QPushButton *>(QStringLiteral("pushButton")), Qt::LeftButton);
    awaitLogin(dialog);

    QCOMPARE(recorder.errorTexts(), boxes);
    QCOMPARE(g_GapInfoList.size(), 1);
    QCOMPARE(added.count(), 0);
    QVERIFY(dialog && dialog->isVisible()); // open, with its input, for another try
    QCOMPARE(dialog->findChild<QLineEdit *>(QStringLiteral("userEdit"))->text(), user);
    delete dialog;
}

void TestGapViews::addOverIPv4AndIPv6_data()
{
    QTest::addColumn<QString>("address");
    QTest::newRow("IPv4") << kSim4;
    QTest::newRow("IPv6") << kSim6;
}

void TestGapViews::addOverIPv4AndIPv6()
{
    QFETCH(QString, address);
    listGap("10.9.9.9");
    PromptRecorder recorder;
    QPointer<IPAddrConfigDialog> dialog = new IPAddrConfigDialog;
    QSignalSpy added(dialog.data(), &IPAddrConfigDialog::updateDisPlayList);
    dialog->show();
    fill(dialog, address, QStringLiteral("alice"), QStringLiteral("alice-pass"));
    QTest::mouseClick(
        dialog->findChild<QPushButton *>(QStringLiteral("pushButton")), Qt::LeftButton);
    awaitLogin(dialog);

    QCOMPARE(recorder.texts(), QStringList());
    QCOMPARE(added.count(), 1);
    QTRY_VERIFY(dialog.isNull()); // closed, and gone with its close
    QCOMPARE(g_GapInfoList.size(), 2);
    const _VKGAPIP_CONF *gap = g_GapInfoList.value(1);
    QCOMPARE(QString::fromLatin1(gap->HostIP), address);
    QCOMPARE(gap->hostIPStr, address);
    QCOMPARE(QByteArray(gap->LoginPswd), QByteArray("alice-pass")); // kept in clear
    QCOMPARE(gap->connState.load(), 1);
    QVERIFY(gap->confGetted);
    QCOMPARE(gap->sendPathCount.load(), 1);
    GapsimProcess &sim = address == kSim6 ? *m_sim6 : *m_sim4;
    QVERIFY(!sim.waitForEvent(QStringLiteral("^rules .*user=alice")).isEmpty());
}

void TestGapViews::addFromTheListButton()
{
    listGap("10.9.9.9");
    IPAddrView view;
    PromptRecorder recorder;
    QPointer<IPAddrConfigDialog> dialog = openDialog(view);
    QVERIFY(dialog);
    QVERIFY(dialog->isVisible());
    QCOMPARE(dialog->parentWidget(), &view);
    fill(dialog, kSim4, QStringLiteral("alice"), QStringLiteral("alice-pass"));
    dialog->findChild<QPushButton *>(QStringLiteral("pushButton"))->click();
    QTRY_VERIFY(dialog.isNull());
    QCOMPARE(cell(view.table(), 1, 0), kSim4); // rebuilt through updateDisPlayList
    QCOMPARE(cell(view.table(), 1, 1), QStringLiteral("alice"));
}

// A gap that takes the connection and never answers: the dialog goes on answering and says that
// it logs in; 取消, or closing the dialog, ends the login at once and closes its connection.
void TestGapViews::silentGapAddCanBeCancelled()
{
    m_scripted->silent = true;
    listGap("10.9.9.9");
    PromptRecorder recorder;
    const int connectionsBefore = m_scripted->connections();
    const int closedBefore = m_scripted->closedWhileSilent();
    QPointer<IPAddrConfigDialog> dialog = new IPAddrConfigDialog;
    dialog->show();
    fill(dialog, kScripted, QStringLiteral("alice"), QStringLiteral("alice-pass"));
    QPushButton *add = dialog->findChild<QPushButton *>(QStringLiteral("pushButton"));
    QPushButton *cancel = dialog->findChild<QPushButton *>(QStringLiteral("cancelButton"));
    QVERIFY(!cancel->isVisible());
    QTest::mouseClick(add, Qt::LeftButton);
    QTRY_COMPARE(m_scripted->connections(), connectionsBefore + 1);

    QTimer ticker;
    QSignalSpy ticks(&ticker, &QTimer::timeout);
    ticker.start(20);
    QTRY_VERIFY(ticks.count() >= 3);
    QVERIFY(dialog->isLoggingIn());
    QVERIFY(!add->isEnabled());
    QCOMPARE(add->text(), QStringLiteral("正在登录…"));
    QVERIFY(cancel->isVisible());

    QTest::mouseClick(cancel, Qt::LeftButton);
    QVERIFY(!dialog->isLoggingIn());
    QVERIFY(add->isEnabled());
    QCOMPARE(add->text(), QStringLiteral("添加"));
    QVERIFY(!cancel->isVisible());
    // Closed by the client, long before the 30 s the login would have waited.
    QTRY_COMPARE(m_scripted->closedWhileSilent(), closedBefore + 1);
    QVERIFY(dialog->isVisible());

    QTest::mouseClick(add, Qt::LeftButton);
    QTRY_COMPARE(m_scripted->connections(), connectionsBefore + 2);
    dialog->close();
    QTRY_VERIFY(dialog.isNull());
    QTRY_COMPARE(m_scripted->closedWhileSilent(), closedBefore + 2);
    QCOMPARE(recorder.texts(), QStringList());
    QCOMPARE(g_GapInfoList.size(), 1);
}

void TestGapViews::listedAddressIsRefused()
{
    listGap(kSim4.toLatin1(), "bob");
    const int loginsBefore = m_sim4->events().filter(QRegularExpression("^login ")).size();
    PromptRecorder recorder;
    QPointer<IPAddrConfigDialog> dialog = new IPAddrConfigDialog;
    fill(dialog, kSim4, QStringLiteral("alice"), QStringLiteral("alice-pass"));
    dialog->on_pushButton_clicked();
    QCOMPARE(recorder.errorTexts(), QStringList { "该隔离器已添加" });
    QCOMPARE(g_GapInfoList.size(), 1);
    QTest::qWait(200); // a login would have reached the simulator by now
    QCOMPARE(m_sim4->events().filter(QRegularExpression("^login ")).size(), loginsBefore);
    delete dialog;
}

void TestGapViews::stateColumn_data()
{
    QTest::addColumn<int>("connState");
    QTest::addColumn<bool>("confGetted");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QColor>("colour");
    QTest::newRow("connected") << 1 << true << "连接正常" << kGreen;
    QTest::newRow("interrupted") << 0 << false << "连接中断" << kRed;
    QTest::newRow("interrupted, rules kept") << 0 << true << "连接中断" << kRed;
    QTest::newRow("connecting") << -1 << false << "正在连接..." << kOrange;
    QTest::newRow("connected, no rules yet") << 1 << false << "" << kOrange;
    QTest::newRow("unknown state") << 7 << true << "" << kOrange;
}

void TestGapViews::stateColumn()
{
    QFETCH(int, connState);
    QFETCH(bool, confGetted);
    QFETCH(QString, text);
    QFETCH(QColor, colour);
    _VKGAPIP_CONF *gap = listGap("10.0.0.5", "carol");
    IPAddrView view;
    gap->connState = connState;
    gap->confGetted = confGetted;
    gap->sendFileNum = 3;
    gap->sendBytes = 2048;
    gap->recvFileNum = 1;
    gap->recvBytes = 5;
    gap->connectTime = 3661;
    view.onUpdateGapState();
    QCOMPARE(rowTexts(view.table(), 0),
        QStringList({ "10.0.0.5", "carol", "3 个 2.00KB", "1 个 5 bytes", "01:01:01", text }));
    QCOMPARE(view.table()->item(0, 5)->foreground().color(), colour);
    QCOMPARE(view.table()->item(0, 0)->foreground().color(), kBlue);
    for (int column = 0; column < 6; ++column)
        QCOMPARE(view.table()->item(0, column)->textAlignment(), int(Qt::AlignCenter));
}

void TestGapViews::rebuiltListShowsStartValues()
{
    _VKGAPIP_CONF *gap = listGap("10.0.0.5");
    gap->connState = 0;
    gap->sendFileNum = 9;
    IPAddrView view;
    QCOMPARE(rowTexts(view.table(), 0),
        QStringList({ "10.0.0.5", "alice", "0 个 0 bytes", "0 个 0 bytes", "00:00:00", "连接正常" }));
    QCOMPARE(view.table()->item(0, 5)->foreground().color(), kGreen);
    QVERIFY(!view.table()->item(1, 0));
}

void TestGapViews::tableLayout()
{
    IPAddrView view;
    const QTableWidget *table = view.table();
    QCOMPARE(table->rowCount(), 16);
    QStringList headers;
    for (int column = 0; column < table->columnCount(); ++column)
        headers << table->horizontalHeaderItem(column)->text();
    QCOMPARE(headers,
        QStringList({ "隔离器地址", "用户", "发送文件", "接收文件", "连接持续时间", "状态" }));
    QCOMPARE(table->horizontalHeader()->height(), 55);
    QCOMPARE(table->rowHeight(0), 60);
    QVERIFY(!table->verticalHeader()->isVisible());
    QCOMPARE(table->contextMenuPolicy(), Qt::CustomContextMenu);
    QCOMPARE(table->editTriggers(), QAbstractItemView::NoEditTriggers);
    QCOMPARE(table->focusPolicy(), Qt::NoFocus);
    QCOMPARE(table->selectionBehavior(), QAbstractItemView::SelectRows);
}

void TestGapViews::deleteRefusals()
{
    IPAddrView view;
    PromptRecorder recorder;
    view.onDelBtnClicked(); // nothing selected: nothing happens
    QCOMPARE(recorder.texts(), QStringList());

    listGap("10.0.0.1");
    view.displayList();
    view.table()->selectRow(0);
    view.onDelBtnClicked();
    QCOMPARE(recorder.boxes().last().title, QStringLiteral("提示"));
    QCOMPARE(recorder.texts(), QStringList { "唯一的隔离器地址无法删除" });

    // A send rule keeps its gap, even while the checker has not marked the gap in this second.
    listGap("10.0.0.2");
    auto *rule = new _SENDPATH_LISTDATA;
    copyToField(rule->GapIP, kHostIPSize, "10.0.0.2");
    g_SendPathList.append(rule);
    view.displayList();
    view.table()->selectRow(1);
    recorder.clear();
    view.onDelBtnClicked();
    QCOMPARE(recorder.texts(), QStringList { "该隔离器正在使用无法删除" });
    QCOMPARE(recorder.boxes().first().buttons, int(PromptRequest::Yes));
    g_SendPathList.value(0)->GapIP[0] = '\0';
    g_GapInfoList.value(1)->hasSendPath = true; // the checker's mark alone also keeps it
    recorder.clear();
    view.onDelBtnClicked();
    QCOMPARE(recorder.texts(), QStringList { "该隔离器正在使用无法删除" });
    QCOMPARE(g_GapInfoList.size(), 2);
}

void TestGapViews::deleteAsksAndMovesRowsUp()
{
    listGap("10.0.0.1");
    _VKGAPIP_CONF *second = listGap("10.0.0.2", "bob");
    listGap("10.0.0.3", "carol");
    auto *recv = new _RECVPATH_LISTDATA; // receive rules do not keep a gap
    copyToField(recv->GapIP, kHostIPSize, "10.0.0.2");
    g_RecvPathList.append(recv);
    IPAddrView view;
    view.table()->selectRow(1);
    PromptRecorder recorder(PromptRequest::Yes);
    view.onDelBtnClicked();
    QCOMPARE(recorder.boxes().size(), 1);
    QCOMPARE(recorder.boxes().first().title, QStringLiteral("删除"));
    QCOMPARE(recorder.boxes().first().text, QStringLiteral("确定删除？"));
    QCOMPARE(recorder.boxes().first().buttons, int(PromptRequest::Yes | PromptRequest::No));
    m_unlisted << second;
    QCOMPARE(g_GapInfoList.indexOf(second), -1);
    QCOMPARE(cell(view.table(), 0, 0), QStringLiteral("10.0.0.1"));
    QCOMPARE(cell(view.table(), 1, 0), QStringLiteral("10.0.0.3"));
    QCOMPARE(rowTexts(view.table(), 2).join(QString()), QString());
}

void TestGapViews::deleteNoKeepsTheGap()
{
    listGap("10.0.0.1");
    listGap("10.0.0.2");
    IPAddrView view;
    view.table()->selectRow(1);
    PromptRecorder recorder(PromptRequest::No);
    view.onDelBtnClicked();
    QCOMPARE(recorder.texts(), QStringList { "确定删除？" });
    QCOMPARE(g_GapInfoList.size(), 2);
}

void TestGapViews::contextMenu()
{
    _VKGAPIP_CONF *connected = listGap("10.0.0.1");
    _VKGAPIP_CONF *connecting = listGap("10.0.0.2");
    _VKGAPIP_CONF *down = listGap("10.0.0.3");
    connected->connState = 1;
    connecting->connState = -1;
    down->connState = 0;
    IPAddrView view;
    view.resize(900, 700);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QTableWidget *table = view.table();
    const auto menuAtRow = [&](int row) {
        return view.createContextMenu(table->visualItemRect(table->item(row, 2)).center());
    };
    const auto enabled = [](const QMenu &menu) {
        QStringList states;
        for (const QAction *action : menu.actions())
            states << action->text() + (action->isEnabled() ? "+" : "-");
        return states;
    };
    QCOMPARE(enabled(*menuAtRow(0)), QStringList({ "删除+", "连接-" }));
    QCOMPARE(enabled(*menuAtRow(1)), QStringList({ "删除+", "连接-" }));
    QCOMPARE(enabled(*menuAtRow(2)), QStringList({ "删除+", "连接+" }));
    QCOMPARE(table->currentRow(), 2); // the row under the click is the one acted on
    const QRect empty = table->visualRect(table->model()->index(10, 2));
    QVERIFY(!view.createContextMenu(empty.center()));
}

void TestGapViews::connectLogsInAgain()
{
    listGap("10.9.9.9");
    _VKGAPIP_CONF *gap = listGap(kSim4.toLatin1(), "alice"); // as an import lists it
    IPAddrView view;
    view.table()->selectRow(1);
    PromptRecorder recorder;
    QSignalSpy ended(&view, &IPAddrView::connectEnded);
    view.onConnectGap();
    QTRY_COMPARE(ended.count(), 1);
    QCOMPARE(recorder.texts(), QStringList());
    QCOMPARE(gap->connState.load(), 1);
    QVERIFY(gap->confGetted);
    view.onUpdateGapState();
    QCOMPARE(cell(view.table(), 1, 5), QStringLiteral("连接正常"));

    // Logged in already: straight to the rules.
    gap->connState = 0;
    const QString before = m_sim4->events().join('\n');
    view.onConnectGap();
    QTRY_COMPARE(ended.count(), 2);
    QCOMPARE(gap->connState.load(), 1);
    QVERIFY(!m_sim4->waitForEvent(QStringLiteral("^rules .*user=alice")).isEmpty());
    QVERIFY(m_sim4->events().join('\n').mid(before.size()).indexOf("\nlogin ") < 0);
}

// "连接" on a gap that takes the connection and never answers: the window goes on (a timer fires
// while the login waits), the menu offers no second "连接" meanwhile, and closing the page ends
// the login at once rather than after the 30 s it would have waited.
void TestGapViews::connectToASilentGapKeepsTheWindowTurning()
{
    m_scripted->silent = true;
    listGap("10.9.9.9");
    listGap(kScripted.toLatin1(), "alice");
    const int connectionsBefore = m_scripted->connections();
    const int closedBefore = m_scripted->closedWhileSilent();
    PromptRecorder recorder;
    auto view = std::make_unique<IPAddrView>();
    view->table()->selectRow(1);
    view->onConnectGap();
    QTRY_COMPARE(m_scripted->connections(), connectionsBefore + 1);

    QTimer ticker;
    QSignalSpy ticks(&ticker, &QTimer::timeout);
    ticker.start(20);
    QTRY_VERIFY(ticks.count() >= 3);
    QVERIFY(view->isConnecting());
    {
        const QRect row = view->table()->visualRect(view->table()->model()->index(1, 0));
        const std::unique_ptr<QMenu> menu = view->createContextMenu(row.center());
        QVERIFY(!menu->actions().at(1)->isEnabled()); // no second "连接"
    }

    view.reset();
    QTRY_COMPARE(m_scripted->closedWhileSilent(), closedBefore + 1);
    QCOMPARE(recorder.texts(), QStringList());
}

void TestGapViews::exportedGapLogsInAfterImport()
{
    // The password goes through the file scrambled and must still open the gap afterwards.
    listGap("10.9.9.9");
    PromptRecorder recorder;
    QPointer<IPAddrConfigDialog> dialog = new IPAddrConfigDialog;
    fill(dialog, kSim6, QStringLiteral("bob"), QStringLiteral("bob-pass"));
    dialog->on_pushButton_clicked();
    awaitLogin(dialog);
    QCOMPARE(g_GapInfoList.size(), 2);
    const QString file = m_dir.filePath(QStringLiteral("gaps.vkg"));
    QVERIFY(ConfigurationFile::saveConf(file));
    cleanup();

    listGap("10.9.9.9");
    QVERIFY(ConfigurationFile::reStoreConf(file, ConfigurationFile::Unattended));
    QCOMPARE(g_GapInfoList.size(), 2);
    _VKGAPIP_CONF *imported = g_GapInfoList.value(1);
    QCOMPARE(imported->connState.load(), 0);
    IPAddrView view;
    view.table()->selectRow(1);
    QSignalSpy ended(&view, &IPAddrView::connectEnded);
    view.onConnectGap();
    QTRY_COMPARE(ended.count(), 1);
    QCOMPARE(recorder.texts(), QStringList());
    QCOMPARE(imported->connState.load(), 1);
}

void TestGapViews::moreThanSixteenGaps()
{
    for (int i = 0; i < 20; ++i)
        listGap(QByteArray("10.1.0.") + QByteArray::number(i));
    IPAddrView view;
    QCOMPARE(view.table()->rowCount(), 20);
    view.onUpdateGapState();
    QCOMPARE(cell(view.table(), 19, 0), QStringLiteral("10.1.0.19"));
}

void TestGapViews::deleteWhileTheCheckerWalks()
{
    // The checker walks the list in its thread while the view takes gaps out of it.
    listGap("10.0.0.1");
    for (int i = 0; i < 40; ++i)
        listGap(QByteArray("10.2.0.") + QByteArray::number(i))->connState = i % 3 - 1;
    const QList<_VKGAPIP_CONF *> all = g_GapInfoList.snapshot();
    std::atomic<bool> stop { false };
    std::unique_ptr<QThread> walker(QThread::create([&stop] {
        StatusCheckout checker;
        while (!stop)
            checker.onGapStateCheck();
    }));
    walker->start();
    IPAddrView view;
    PromptRecorder recorder(PromptRequest::Yes);
    while (g_GapInfoList.size() > 1) {
        view.table()->selectRow(g_GapInfoList.size() - 1);
        view.onDelBtnClicked();
        view.onUpdateGapState();
    }
    stop = true;
    QVERIFY(walker->wait(30000));
    for (_VKGAPIP_CONF *gap : all) {
        if (g_GapInfoList.indexOf(gap) < 0)
            m_unlisted << gap;
    }
    QCOMPARE(m_unlisted.size(), 40);
}

void TestGapViews::saveShot(QWidget *widget, const QString &name)
{
    const QString dir = qEnvironmentVariable("GAP_VIEW_SHOTS");
    if (!dir.isEmpty())
        QVERIFY(widget->grab().save(QStringLiteral("%1/%2.png").arg(dir, name)));
}

void TestGapViews::screenshots()
{
    // With GAP_VIEW_SHOTS set to a directory, keeps a picture of each for a human to check.
    _VKGAPIP_CONF *first = listGap("192.168.10.1", "operator");
    _VKGAPIP_CONF *second = listGap("fd00:1234:5678:9abc:def0:1234:5678:9abc", "alice");
    _VKGAPIP_CONF *third = listGap("10.0.0.3", "bob");
    first->connState = 1;
    first->confGetted = true;
    first->sendFileNum = 1234;
    first->sendBytes = 5LL * 1024 * 1024 * 1024;
    first->connectTime = 90061;
    second->connState = 0;
    third->connState = -1;
    IPAddrView view;
    view.resize(1100, 620);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    view.onUpdateGapState();
    saveShot(&view, QStringLiteral("gap-list"));
    const QTableWidgetItem *longest = view.table()->item(1, 0);
    QVERIFY(view.table()->visualItemRect(longest).width()
        >= view.table()->fontMetrics().horizontalAdvance(longest->text()));

    QPointer<IPAddrConfigDialog> dialog = openDialog(view);
    fill(dialog, QStringLiteral("192.168.10.2"), QStringLiteral("operator"), QStringLiteral("pw"));
    QVERIFY(QTest::qWaitForWindowExposed(dialog));
    saveShot(dialog, QStringLiteral("add-gap"));
    // Nothing cut: each label and the button fit their text.
    for (QLabel *label : dialog->findChildren<QLabel *>())
        QVERIFY(label->width() >= label->sizeHint().width());
    QPushButton *button = dialog->findChild<QPushButton *>(QStringLiteral("pushButton"));
    QVERIFY(button->width() >= button->sizeHint().width());
    dialog->close();
}

QTEST_MAIN(TestGapViews)
#include "tst_gapviews.moc"
