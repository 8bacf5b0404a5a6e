#include "ScriptedGap.h"
#include "gap/LoginView.h"
#include "model/AuditLog.h"
#include "model/BaseFunction.h"
#include "model/GlobalData.h"
#include "model/Prompt.h"
#include "support/TestSupport.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>
#include <QtTest>
#include <memory>
#include <sqlite3.h>
#include <sys/stat.h>

namespace {

const QString kScriptedGap = QStringLiteral("127.0.0.2"); // ScriptedGap
const QString kSimulatedGap = QStringLiteral("::1"); // gapsim
const QString kNoGap = QStringLiteral("127.0.0.3"); // nothing listens there
const QString kSimUser = QStringLiteral("alice");
const QString kSimPassword = QStringLiteral("alice-pass");
constexpr int kStartTimeoutMs = 20000;
constexpr int kLoginTimeoutMs = 30000;

bool portsFree(quint16 a, quint16 b)
{
    QTcpServer first, second;
    return first.listen(QHostAddress::AnyIPv4, a) && second.listen(QHostAddress::AnyIPv4, b);
}

QString loginFile() { return QDir::currentPath() + QStringLiteral("/config/login.conf"); }

int fileMode(const QString &path)
{
    struct stat info {
    };
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 0777) : -1;
}

struct AuditEvent {
    QString gap, category, user, operation, detail;
    int outcome = -1;
};

// Reads the audit store that libdlog writes, straight from its database.
class AuditReader
{
public:
    explicit AuditReader(const QString &path)
        : m_path(path)
    {
    }

    QList<AuditEvent> eventsAfter(qint64 id, qint64 *lastId = nullptr) const
    {
        QList<AuditEvent> events;
        sqlite3 *db = nullptr;
        if (sqlite3_open_v2(
                QFile::encodeName(m_path).constData(), &db, SQLITE_OPEN_READONLY, nullptr)
            == SQLITE_OK) {
            sqlite3_stmt *query = nullptr;
            const char *sql = "SELECT id, gap, category, user, operation, outcome, detail"
                              " FROM events WHERE id > ? ORDER BY id";
            if (sqlite3_prepare_v2(db, sql, -1, &query, nullptr) == SQLITE_OK) {
                sqlite3_bind_int64(query, 1, id);
                while (sqlite3_step(query) == SQLITE_ROW) {
                    if (lastId)
                        *lastId = sqlite3_column_int64(query, 0);
                    AuditEvent e;
                    e.gap = text(query, 1);
                    e.category = text(query, 2);
                    e.user = text(query, 3);
                    e.operation = text(query, 4);
                    e.outcome = sqlite3_column_int(query, 5);
                    e.detail = text(query, 6);
                    events << e;
                }
            }
            sqlite3_finalize(query);
        }
        sqlite3_close(db);
        return events;
    }

    qint64 lastId() const
    {
        qint64 last = 0;
        eventsAfter(0, &last);
        return last;
    }

private:
    static QString text(sqlite3_stmt *query, int column)
    {
        return QString::fromUtf8(
            reinterpret_cast<const char *>(sqlite3_column_text(query, column)));
    }
    QString m_path;
};

} // namespace

class TestLoginView : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_runDir;
    std::unique_ptr<ScriptedGap> m_scripted;
    QProcess m_gapsim;
    std::unique_ptr<AuditReader> m_audit;
    qint64 m_auditMark = 0;
    quint16 m_filePort = 0;
    quint16 m_confPort = 0;

    std::unique_ptr<QTemporaryDir> m_workDir;
    std::unique_ptr<LoginView> m_view;
    std::unique_ptr<TestSupport::PromptRecorder> m_prompts;

    template <typename T> T *child(const char *name) const
    {
        return m_view->findChild<T *>(QLatin1String(name));
    }

    LoginView *openView()
    {
        m_view.reset(new LoginView);
        m_view->show();
        return m_view.get();
    }

    void fill(const QString &ip, const QString &user, const QString &password)
    {
        child<QLineEdit>("ipEdit")->setText(ip);
        child<QLineEdit>("userEdit")->setText(user);
        child<QLineEdit>("pswdEdit")->setText(password);
    }

    // Clicks the login button and waits for the login to end, as the user would.
    void clickLogin()
    {
        QTest::mouseClick(child<QPushButton>("loginBtn"), Qt::LeftButton);
        awaitLogin();
    }

    void awaitLogin() { QTRY_VERIFY_WITH_TIMEOUT(!m_view->isLoggingIn(), kLoginTimeoutMs); }

    QList<AuditEvent> newAuditEvents() const { return m_audit->eventsAfter(m_auditMark); }

    bool startSimulator()
    {
        const QString ini = m_runDir.filePath(QStringLiteral("gapsim.ini"));
        QFile file(ini);
        if (!file.open(QIODevice::WriteOnly))
            return false;
        file.write(QStringLiteral("[gap]\nlisten = %1\nport = %2\n"
                                  "[user.alice]\npassword = %3\nlevel = 1\n"
                                  "[user.bob]\npassword = bob-pass\nlevel = 2\n"
                                  "[path.ALICE-TO-BOB]\nfrom = alice\nto = bob\n")
                       .arg(kSimulatedGap, qEnvironmentVariable("VARKO_GAP_PORT"), kSimPassword)
                       .toUtf8());
        file.close();
        const QString log = m_runDir.filePath(QStringLiteral("gapsim.log"));
        m_gapsim.start(qEnvironmentVariable("GAP_BIN_DIR") + QStringLiteral("/gapsim"),
            { QStringLiteral("--config"), ini, QStringLiteral("--log"), log });
        if (!m_gapsim.waitForStarted())
            return false;
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < kStartTimeoutMs && m_gapsim.state() == QProcess::Running) {
            QFile events(log);
            if (events.open(QIODevice::ReadOnly) && events.readAll().contains("listening"))
                return true;
            QTest::qWait(50);
        }
        return false;
    }

    // A first successful login through the simulator, with the options of the two boxes.
    void loginToSimulator(bool remember, bool autoLogin)
    {
        openView();
        fill(kSimulatedGap, kSimUser, kSimPassword);
        child<QCheckBox>("keeppaswd")->setChecked(remember);
        child<QCheckBox>("autologin")->setChecked(autoLogin);
        clickLogin();
    }

    void closeMainWindow()
    {
        if (m_view)
            delete m_view->mainWindow();
        for (_VKGAPIP_CONF *gap : g_GapInfoList.snapshot())
            delete gap;
        g_GapInfoList.clear();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_runDir.isValid());
        // Ports are read once per process: every port is chosen before the first use. The
        // scripted gap and the simulator share the gap port on two loopback addresses.
        for (int attempt = 0; attempt < 20 && !m_scripted; ++attempt) {
            const quint16 gapPort = TestSupport::pickFreePort(QHostAddress(kSimulatedGap));
            auto scripted = std::make_unique<ScriptedGap>(QHostAddress(kScriptedGap), gapPort);
            if (gapPort && scripted->startListening()) {
                m_scripted = std::move(scripted);
                qputenv("VARKO_GAP_PORT", QByteArray::number(gapPort));
            }
        }
        QVERIFY(m_scripted);
        m_filePort = TestSupport::pickFreePort(QHostAddress::AnyIPv4);
        do
            m_confPort = TestSupport::pickFreePort(QHostAddress::AnyIPv4);
        while (m_confPort == m_filePort);
        qputenv("VARKO_FILE_PORT", QByteArray::number(m_filePort));
        qputenv("VARKO_CONF_PORT", QByteArray::number(m_confPort));

        const QString db = m_runDir.filePath(QStringLiteral("audit.db"));
        qputenv("DLOG_DB", QFile::encodeName(db));
        qputenv("VARKO_DLOG_LIBRARY", qgetenv("GAP_BIN_DIR") + "/libdlog.so");
        QVERIFY(AuditLog::available());
        m_audit = std::make_unique<AuditReader>(db);

        QVERIFY2(startSimulator(), "gapsim did not start");
        m_prompts = std::make_unique<TestSupport::PromptRecorder>();
    }

    void cleanupTestCase()
    {
        m_prompts.reset();
        m_gapsim.terminate();
        m_gapsim.waitForFinished();
        m_scripted.reset();
    }

    void init()
    {
        m_scripted->silent = false;
        m_workDir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_workDir->isValid());
        QVERIFY(QDir::setCurrent(m_workDir->path()));
        m_prompts->clear();
        m_auditMark = m_audit->lastId();
    }

    void cleanup()
    {
        closeMainWindow();
        m_view.reset();
        QDir::setCurrent(m_runDir.path());
        m_workDir.reset();
    }

    void fieldsKeepTextInsideTheRecords()
    {
        openView();
        QVERIFY(m_view->windowFlags() & Qt::FramelessWindowHint);
        QCOMPARE(m_view->windowTitle(), QStringLiteral("登录"));
        const QString longText(60, QLatin1Char('1'));
        const struct {
            const char *name;
            int limit;
        } fields[] = { { "ipEdit", 39 }, { "userEdit", 16 }, { "pswdEdit", 16 } };
        for (const auto &field : fields) {
            QTest::keyClicks(child<QLineEdit>(field.name), longText);
            QCOMPARE(child<QLineEdit>(field.name)->text().size(), field.limit);
        }
        QCOMPARE(child<QLineEdit>("pswdEdit")->echoMode(), QLineEdit::Password);
    }

    void gapRefusalShowsItsBoxAndAudit_data()
    {
        QTest::addColumn<QString>("ip");
        QTest::addColumn<int>("code");
        QTest::addColumn<bool>("wrongType");
        QTest::addColumn<QStringList>("boxes");
        QTest::addColumn<QString>("auditReason"); // empty: no audit event

        const QString g = kScriptedGap;
        const QString fail = QStringLiteral("隔离器连接失败");
        const QString refused = QStringLiteral("验证错误");
        QTest::newRow("unknown user")
            << g << 102 << false << QStringList { "该用户不存在" } << "该用户不存在";
        QTest::newRow("wrong password")
            << g << 103 << false << QStringList { "密码错误" } << "密码错误";
        QTest::newRow("first login")
            << g << 105 << false << QStringList { "用户首次登录,请先修改密码" } << "";
        QTest::newRow("password expired")
            << g << 106 << false << QStringList { "账户密码已过期,请联系管理员重置" } << "密码过期";
        QTest::newRow("other refusal") << g << 104 << false << QStringList { refused } << "";
        QTest::newRow("refusal coded 0 is no success")
            << g << 0 << false << QStringList { refused } << "";
        QTest::newRow("no login response")
            << g << 101 << true << QStringList { "网络异常，请检查网络是否正常" } << "网络异常";
        // The rules message says it all: no second box claims the gap could not be reached.
        QTest::newRow("rules not received")
            << g << 101 << false << QStringList { "用戶规则获取错误" } << "";
        QTest::newRow("gap unreachable")
            << kNoGap << 101 << false << QStringList { fail } << "网闸连接失败";
    }

    void gapRefusalShowsItsBoxAndAudit()
    {
        QFETCH(QString, ip);
        QFETCH(int, code);
        QFETCH(bool, wrongType);
        QFETCH(QStringList, boxes);
        QFETCH(QString, auditReason);
        m_scripted->loginCode = code;
        m_scripted->wrongType = wrongType;
        const int connectionsBefore = m_scripted->connections();

        openView();
        fill(ip, QStringLiteral("tester"), QStringLiteral("secret"));
        clickLogin();

        QCOMPARE(m_prompts->texts(), boxes);
        for (const PromptRequest &box : m_prompts->boxes()) {
            QCOMPARE(box.icon, PromptRequest::Critical);
            QCOMPARE(box.parent, nullptr);
            QCOMPARE(box.title, QStringLiteral("error"));
            QCOMPARE(box.buttons, int(PromptRequest::Yes));
        }
        QVERIFY(g_GapInfoList.isEmpty());
        QVERIFY(m_view->isVisible());
        QVERIFY(!m_view->mainWindow());

        const QList<AuditEvent> events = newAuditEvents();
        if (auditReason.isEmpty()) {
            QCOMPARE(events.size(), 0);
            return;
        }
        QCOMPARE(events.size(), 1);
        const QString clientAddress = m_scripted->connections() > connectionsBefore
            ? m_scripted->lastClientAddress()
            : QString();
        QCOMPARE(events[0].gap, ip);
        QCOMPARE(events[0].category, QStringLiteral("CLIENT_LOGIN"));
        QCOMPARE(events[0].user, QStringLiteral("tester"));
        QCOMPARE(events[0].operation, QStringLiteral("登录"));
        QCOMPARE(events[0].outcome, 0);
        QCOMPARE(events[0].detail, QStringLiteral("'%1','%2'").arg(clientAddress, auditReason));
    }

    void inputRefusalReachesNoGap_data()
    {
        QTest::addColumn<QString>("ip");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("box");
        const QString invalid = QStringLiteral("无效的ip地址");
        QTest::newRow("address out of range") << "300.1.1.1"
                                              << "tester"
                                              << "secret" << invalid;
        QTest::newRow("host name") << "localhost"
                                   << "tester"
                                   << "secret" << invalid;
        QTest::newRow("empty address") << ""
                                       << "tester"
                                       << "secret" << invalid;
        QTest::newRow("no user name") << kScriptedGap << ""
                                      << "secret"
                                      << "请输入用户名";
        QTest::newRow("no password") << kScriptedGap << "tester"
                                     << ""
                                     << "请输入密码";
    }

    void inputRefusalReachesNoGap()
    {
        QFETCH(QString, ip);
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(QString, box);
        const int connectionsBefore = m_scripted->connections();
        openView();
        fill(ip, user, password);
        clickLogin();
        QCOMPARE(m_prompts->texts(), QStringList { box });
        QCOMPARE(m_scripted->connections(), connectionsBefore);
        QCOMPARE(newAuditEvents().size(), 0);
        // The port check let go of both ports again.
        QVERIFY(portsFree(m_filePort, m_confPort));
    }

    void heldPortRefusesBeforeContactingTheGap_data()
    {
        QTest::addColumn<bool>("holdFilePort");
        QTest::newRow("file port held") << true;
        QTest::newRow("configuration port held") << false;
    }

    void heldPortRefusesBeforeContactingTheGap()
    {
        QFETCH(bool, holdFilePort);
        QTcpServer holder;
        QVERIFY(holder.listen(QHostAddress::AnyIPv4, holdFilePort ? m_filePort : m_confPort));
        const int connectionsBefore = m_scripted->connections();
        openView();
        fill(kScriptedGap, QStringLiteral("tester"), QStringLiteral("secret"));
        clickLogin();
        QCOMPARE(m_prompts->texts(), QStringList { QStringLiteral("接收端口监听失败") });
        QCOMPARE(m_scripted->connections(), connectionsBefore);
        QCOMPARE(newAuditEvents().size(), 0);
    }

    void returnKeyLogsInKeypadEnterDoesNot()
    {
        openView();
        QLineEdit *ip = child<QLineEdit>("ipEdit");
        QTest::keyClick(ip, Qt::Key_Enter, Qt::KeypadModifier);
        QVERIFY(m_prompts->boxes().isEmpty());
        QTest::keyClick(ip, Qt::Key_Return);
        QCOMPARE(m_prompts->texts(), QStringList { QStringLiteral("无效的ip地址") });
    }

    void successfulLogin_data()
    {
        QTest::addColumn<bool>("remember");
        QTest::addColumn<bool>("autoLogin");
        QTest::newRow("remembered with auto-login") << true << true;
        QTest::newRow("remembered") << true << false;
        QTest::newRow("not remembered") << false << true;
    }

    void successfulLogin()
    {
        QFETCH(bool, remember);
        QFETCH(bool, autoLogin);
        loginToSimulator(remember, autoLogin);

        QVERIFY2(m_prompts->boxes().isEmpty(), qPrintable(m_prompts->texts().join('|')));
        QCOMPARE(g_GapInfoList.size(), 1);
        QCOMPARE(QByteArray(g_GapInfoList.first()->HostIP), kSimulatedGap.toLatin1());
        QCOMPARE(QByteArray(g_GapInfoList.first()->LoginPswd), kSimPassword.toLatin1());
        QVERIFY(!m_view->isVisible());
        QVERIFY(m_view->mainWindow());
        QVERIFY(m_view->mainWindow()->isVisible());

        const QList<AuditEvent> events = newAuditEvents();
        QCOMPARE(events.size(), 1);
        QCOMPARE(events[0].gap, kSimulatedGap);
        QCOMPARE(events[0].user, kSimUser);
        QCOMPARE(events[0].outcome, 1);
        QCOMPARE(events[0].detail, QStringLiteral("'::1','客户端登录'"));

        QCOMPARE(QFile::exists(loginFile()), remember);
        if (!remember)
            return;
        QCOMPARE(fileMode(loginFile()), 0600);
        QSettings stored(loginFile(), QSettings::IniFormat);
        QCOMPARE(stored.childGroups(), QStringList { QStringLiteral("config") });
        QCOMPARE(stored.value("config/ip").toString(), kSimulatedGap);
        QCOMPARE(stored.value("config/username").toString(), kSimUser);
        QVERIFY(!stored.value("config/password").toString().isEmpty());
        QVERIFY(stored.value("config/password").toString() != kSimPassword);
        QCOMPARE(stored.value("config/isrember").toString(), QStringLiteral("true"));
        QCOMPARE(
            stored.value("config/isauto").toString(), QLatin1String(autoLogin ? "true" : "false"));
    }

    void rememberedLoginLogsInByItself()
    {
        loginToSimulator(true, true);
        QVERIFY(m_view->mainWindow());
        closeMainWindow();
        m_auditMark = m_audit->lastId();

        openView(); // a later start in the same working directory
        QCOMPARE(child<QLineEdit>("ipEdit")->text(), kSimulatedGap);
        QCOMPARE(child<QLineEdit>("userEdit")->text(), kSimUser);
        QCOMPARE(child<QLineEdit>("pswdEdit")->text(), kSimPassword);
        QVERIFY(child<QCheckBox>("keeppaswd")->isChecked());
        QVERIFY(child<QCheckBox>("autologin")->isChecked());
        QVERIFY(!m_view->mainWindow());
        QTRY_VERIFY_WITH_TIMEOUT(m_view->mainWindow(), kLoginTimeoutMs);
        QVERIFY(m_prompts->boxes().isEmpty());
        QCOMPARE(newAuditEvents().size(), 1);
    }

    void userLoginPreemptsTheAutomaticOne()
    {
        {
            QSettings stored(loginFile(), QSettings::IniFormat);
            stored.setValue("config/ip", kScriptedGap);
            stored.setValue("config/username", "tester");
            stored.setValue("config/isrember", "true");
            stored.setValue("config/isauto", "true");
        }
        openView();
        QVERIFY(child<QCheckBox>("autologin")->isChecked());
        clickLogin(); // no password remembered: refused before any connection
        QCOMPARE(m_prompts->texts(), QStringList { QStringLiteral("请输入密码") });
        m_view->onAutoLoginClicked(); // what the timer does when it fires
        QCOMPARE(m_prompts->boxes().size(), 1);
    }

    // A gap that takes the connection and never answers: the window goes on answering and says
    // that it logs in, and 取消 ends the login at once, closing its connection.
    void silentGapLoginCanBeCancelled()
    {
        m_scripted->silent = true;
        const int connectionsBefore = m_scripted->connections();
        const int closedBefore = m_scripted->closedWhileSilent();
        openView();
        fill(kScriptedGap, QStringLiteral("tester"), QStringLiteral("secret"));
        QPushButton *login = child<QPushButton>("loginBtn");
        QPushButton *cancel = child<QPushButton>("cancelBtn");
        QVERIFY(!cancel->isVisible());
        QTest::mouseClick(login, Qt::LeftButton);
        QTRY_COMPARE(m_scripted->connections(), connectionsBefore + 1);

        QTimer ticker;
        QSignalSpy ticks(&ticker, &QTimer::timeout);
        ticker.start(20);
        QTRY_VERIFY(ticks.count() >= 3);
        QVERIFY(m_view->isLoggingIn());
        QVERIFY(!login->isEnabled());
        QCOMPARE(login->text(), QStringLiteral("正在登录…"));
        QVERIFY(cancel->isVisible());
        QVERIFY(child<QLineEdit>("pswdEdit")->isReadOnly());

        QTest::mouseClick(cancel, Qt::LeftButton);
        QVERIFY(!m_view->isLoggingIn());
        QVERIFY(login->isEnabled());
        QCOMPARE(login->text(), QStringLiteral("登录"));
        QVERIFY(!cancel->isVisible());
        QVERIFY(!child<QLineEdit>("pswdEdit")->isReadOnly());
        // Closed by the client, long before the 30 s the login would have waited.
        QTRY_COMPARE(m_scripted->closedWhileSilent(), closedBefore + 1);
        QVERIFY(m_prompts->boxes().isEmpty());
        QVERIFY(g_GapInfoList.isEmpty());
        QVERIFY(!m_view->mainWindow());
        QCOMPARE(newAuditEvents().size(), 0);
    }

    void autoLoginNeedsTheRememberedPassword()
    {
        openView();
        QCheckBox *remember = child<QCheckBox>("keeppaswd");
        QCheckBox *autoLogin = child<QCheckBox>("autologin");
        QTest::mouseClick(autoLogin, Qt::LeftButton);
        QVERIFY(autoLogin->isChecked());
        QVERIFY(remember->isChecked());
        QTest::mouseClick(remember, Qt::LeftButton);
        QVERIFY(!remember->isChecked());
        QVERIFY(!autoLogin->isChecked());
    }

    void uncheckingRememberDeletesTheFile()
    {
        {
            QSettings stored(loginFile(), QSettings::IniFormat);
            stored.setValue("config/ip", kScriptedGap);
            stored.setValue("config/isrember", "true");
        }
        openView();
        QCheckBox *remember = child<QCheckBox>("keeppaswd");
        QVERIFY(remember->isChecked());
        QTest::mouseClick(remember, Qt::LeftButton);
        QVERIFY(!QFile::exists(loginFile()));
        QTest::mouseClick(remember, Qt::LeftButton); // checking again writes nothing yet
        QVERIFY(!QFile::exists(loginFile()));
    }

    void storedPasswordRestores_data()
    {
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("restored");
        QTest::newRow("plain") << "alice-pass"
                               << "alice-pass";
        QTest::newRow("INI syntax characters") << "p;w=d\"x#["
                                               << "p;w=d\"x#[";
        QTest::newRow("Latin-1 letters") << "\u00e9\u00e0\u00fc\u00df"
                                         << "\u00e9\u00e0\u00fc\u00df";
        QTest::newRow("longest") << "0123456789abcdef"
                                 << "0123456789abcdef";
        // 0xFF shifted by 1 wraps to NUL: such a password is kept empty, never as another one.
        QTest::newRow("wraps to NUL") << "\u00ff\u00ff"
                                      << "";
    }

    void storedPasswordRestores()
    {
        QFETCH(QString, password);
        QFETCH(QString, restored);
        openView();
        child<QLineEdit>("pswdEdit")->setText(password);
        m_view->writeConf(QStringLiteral("password"), QStringLiteral("ignored"));
        QCOMPARE(fileMode(loginFile()), 0600);
        QVERIFY(QSettings(loginFile(), QSettings::IniFormat).value("config/password") != password);

        openView();
        QCOMPARE(child<QLineEdit>("pswdEdit")->text(), restored);
    }

    void dragMovesTheWindow()
    {
        openView();
        QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
        m_view->move(100, 100);
        QTRY_COMPARE(m_view->pos(), QPoint(100, 100));
        QWindow *window = m_view->windowHandle();
        const QPoint grab(20, 60); // the header, which leaves the mouse to the window
        const QPoint target = window->mapToGlobal(grab + QPoint(40, 30));
        QTest::mousePress(window, Qt::LeftButton, {}, grab);
        QCOMPARE(m_view->cursor().shape(), Qt::ClosedHandCursor);
        QTest::mouseMove(window, grab + QPoint(40, 30));
        QTest::mouseRelease(window, Qt::LeftButton, {}, window->mapFromGlobal(target));
        QTRY_COMPARE(m_view->pos(), QPoint(140, 130));
        QCOMPARE(m_view->cursor().shape(), Qt::ArrowCursor);
    }
};

QTEST_MAIN(TestLoginView)
#include "tst_loginview.moc"
