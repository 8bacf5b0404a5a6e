#include "RuleFixture.h"
#include "receive/ReceiveFaults.h"
#include "receive/ReceiverFiles.h"
#include "receive/RecvPartFiles.h"
#include "send/DirectoryTraversal.h"
#include "send/SendLedger.h"
#include "support/TestSupport.h"
#include "views/rules/RecvPathDialog.h"
#include "views/rules/SendPathDialog.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPointer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <sys/file.h>

using namespace RuleFixture;

namespace {

const QString kGapA = QStringLiteral("10.0.0.1");
const QString kGapB = QStringLiteral("10.0.0.2");
const QString kGapDown = QStringLiteral("10.0.0.3");

QStringList itemTexts(const QComboBox *combo)
{
    QStringList texts;
    for (int i = 0; i < combo->count(); ++i)
        texts << combo->itemText(i);
    return texts;
}

RuleDialog *newDialog(const QString &kind)
{
    if (kind == QLatin1String("send"))
        return new SendPathDialog;
    return new RecvPathDialog;
}

int ruleCount(const QString &kind)
{
    return kind == QLatin1String("send") ? g_SendPathList.size() : g_RecvPathList.size();
}

} // namespace

class TestRuleDialogs : public QObject
{
    Q_OBJECT

private:
    Records m_records;
    _VKGAPIP_CONF *m_gapA = nullptr;
    _VKGAPIP_CONF *m_gapB = nullptr;
    QScopedPointer<QTemporaryDir> m_root;

    // A directory under the test's root, made if needed.
    QString dirOf(const QString &name) const { return madeDir(m_root->path(), name); }

private slots:
    // Gap A offers two send and two receive paths, gap B one of each with A's keys, and a gap
    // that is down offers paths it cannot serve. One rule of each kind exists already, over
    // directories "s1" and "r1" of the test's root; "n" is a free directory.
    void init()
    {
        m_root.reset(new QTemporaryDir);
        for (const char *name : { "s1/inside", "r1/inside", "n" })
            dirOf(QString::fromLatin1(name));
        for (const char *name : { "s1", "r1" }) {
            const QString target = m_root->filePath(QString::fromLatin1(name));
            QFile::link(target, target + QStringLiteral("-link"));
        }
        m_gapA = addGap(kGapA.toLatin1(), 1, "alice");
        offerSend(m_gapA, QStringLiteral("K1"), QStringLiteral("bob"), 2);
        offerSend(m_gapA, QStringLiteral("K2"), QStringLiteral("carol"), 1);
        offerRecv(m_gapA, QStringLiteral("R1"), QStringLiteral("dave"));
        offerRecv(m_gapA, QStringLiteral("R2"), QStringLiteral("erin"));
        m_gapB = addGap(kGapB.toLatin1(), 1, "");
        offerSend(m_gapB, QStringLiteral("K1"), QStringLiteral("bob"), 0);
        offerRecv(m_gapB, QStringLiteral("R1"), QStringLiteral("dave"));
        _VKGAPIP_CONF *down = addGap(kGapDown.toLatin1(), 0);
        offerSend(down, QStringLiteral("K9"), QStringLiteral("zed"), 0);
        addSendRule("10.0.0.1", "K1", m_root->filePath(QStringLiteral("s1")));
        addRecvRule("10.0.0.2", "R1", m_root->filePath(QStringLiteral("r1")));
        m_records.keep();
    }

    void cleanup()
    {
        RuleDialog::setDirectoryChooser({});
        m_records.freeAll();
    }

    void gapComboListsOnlyGapsWithPathsOfItsKind()
    {
        auto *gap = addGap("10.0.0.4", 1);
        offerSend(gap, QStringLiteral("K5"), QStringLiteral("bob"), 0);
        addGap("10.0.0.1", 1); // a second record of a listed address adds no item

        QScopedPointer<RuleDialog> send(new SendPathDialog);
        QCOMPARE(itemTexts(send->gapCombo()),
            QStringList({ kGapA, kGapB, kGapDown, QStringLiteral("10.0.0.4") }));
        QCOMPARE(send->gapCombo()->currentIndex(), -1);
        QScopedPointer<RuleDialog> recv(new RecvPathDialog);
        QCOMPARE(itemTexts(recv->gapCombo()), QStringList({ kGapA, kGapB }));
    }

    void choosingAGapOffersItsPathsAndUsers()
    {
        QScopedPointer<RuleDialog> recv(new RecvPathDialog);
        choose(recv->gapCombo(), kGapA);
        QCOMPARE(itemTexts(recv->pathCombo()), QStringList({ "R1", "R2" }));
        QCOMPARE(itemTexts(recv->userCombo()), QStringList({ "dave", "erin" }));
        QCOMPARE(recv->pathCombo()->currentIndex(), -1);
        QCOMPARE(recv->userCombo()->currentIndex(), -1);

        QScopedPointer<RuleDialog> send(new SendPathDialog);
        choose(send->gapCombo(), kGapDown);
        QCOMPARE(send->pathCombo()->count(), 0);
        QCOMPARE(send->userCombo()->count(), 0);
    }

    void aKeyOfferedTwiceIsShownOnce()
    {
        offerSend(m_gapA, QStringLiteral("K1"), QStringLiteral("frank"), 1);
        QScopedPointer<RuleDialog> send(new SendPathDialog);
        choose(send->gapCombo(), kGapA);
        QCOMPARE(itemTexts(send->pathCombo()), QStringList({ "K1", "K2" }));
        QCOMPARE(itemTexts(send->userCombo()), QStringList({ "bob", "carol", "frank" }));
    }

    void checks_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("gap");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("dir");
        QTest::addColumn<int>("modifiedRow");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("text"); // empty: the rule is stored

        const QString e = QStringLiteral("error");
        const QString h = QStringLiteral("提示");
        const QString dirInUse = QStringLiteral("文件目录已被使用,请重新选择！");
        const QString sendOnRecv
            = QStringLiteral("发送目录路径不能和接收目录路径相同,请重新选择目录路径！");
        const QString recvOnSend
            = QStringLiteral("接收目录路径不能和发送目录路径相同,请重新选择目录路径！");
        QTest::newRow("send no gap") << "send"
                                     << ""
                                     << ""
                                     << ""
                                     << "n" << -1 << e << "隔离器地址不能为空";
        QTest::newRow("send no user") << "send" << kGapA << "K2"
                                      << ""
                                      << "n" << -1 << e << "接收者不能为空";
        QTest::newRow("send no path") << "send" << kGapA << ""
                                      << "bob"
                                      << "n" << -1 << e << "发送路径不能为空";
        QTest::newRow("send no dir") << "send" << kGapA << "K2"
                                     << "bob"
                                     << "" << -1 << e << "文件目录不能为空";
        QTest::newRow("send key on same gap") << "send" << kGapA << "K1"
                                              << "bob"
                                              << "n" << -1 << h << "发送路径已被使用";
        QTest::newRow("send key on other gap") << "send" << kGapB << "K1"
                                               << "bob"
                                               << "n" << -1 << ""
                                               << "";
        QTest::newRow("send key kept by a change") << "send" << kGapA << "K1"
                                                   << "bob"
                                                   << "n" << 0 << ""
                                                   << "";
        QTest::newRow("send dir of a send rule") << "send" << kGapA << "K2"
                                                 << "bob"
                                                 << "s1" << -1 << h << dirInUse;
        QTest::newRow("send change keeping its dir") << "send" << kGapA << "K1"
                                                     << "bob"
                                                     << "s1" << 0 << h << dirInUse;
        QTest::newRow("send dir with trailing slash") << "send" << kGapA << "K2"
                                                      << "bob"
                                                      << "s1/" << -1 << h << dirInUse;
        QTest::newRow("send dir through a link") << "send" << kGapA << "K2"
                                                 << "bob"
                                                 << "s1-link" << -1 << h << dirInUse;
        // Each file would belong to two rules.
        QTest::newRow("send dir inside a send dir")
            << "send" << kGapA << "K2"
            << "bob"
            << "s1/inside" << -1 << h << "发送目录位于另一发送目录之内,请重新选择目录路径！";
        QTest::newRow("send dir above a send dir")
            << "send" << kGapA << "K2"
            << "bob"
            << "." << -1 << h << "发送目录包含另一发送目录,请重新选择目录路径！";
        // The rule being changed is no other rule.
        QTest::newRow("send change into its own dir")
            << "send" << kGapA << "K1"
            << "bob"
            << "s1/inside" << 0 << ""
            << "";
        QTest::newRow("send dir that does not exist")
            << "send" << kGapA << "K2"
            << "bob"
            << "missing" << -1 << e << "文件目录不存在,请重新选择！";
        QTest::newRow("send dir of a receive rule") << "send" << kGapA << "K2"
                                                    << "bob"
                                                    << "r1" << -1 << h << sendOnRecv;
        QTest::newRow("send dir of a receive rule with trailing slash")
            << "send" << kGapA << "K2"
            << "bob"
            << "r1/" << -1 << h << sendOnRecv;
        QTest::newRow("send dir of a receive rule through a link")
            << "send" << kGapA << "K2"
            << "bob"
            << "r1-link" << -1 << h << sendOnRecv;
        QTest::newRow("send dir inside a receive dir")
            << "send" << kGapA << "K2"
            << "bob"
            << "r1/inside" << -1 << h << "发送目录位于接收目录之内,请重新选择目录路径！";
        QTest::newRow("send dir above a receive dir")
            << "send" << kGapA << "K1"
            << "bob"
            << "." << 0 << h << "发送目录包含接收目录,请重新选择目录路径！";
        QTest::newRow("recv no gap") << "recv"
                                     << ""
                                     << ""
                                     << ""
                                     << "n" << -1 << e << "隔离器地址不能为空";
        QTest::newRow("recv no user") << "recv" << kGapA << "R2"
                                      << ""
                                      << "n" << -1 << e << "发送者不能为空";
        QTest::newRow("recv no path") << "recv" << kGapA << ""
                                      << "dave"
                                      << "n" << -1 << e << "接收路径不能为空";
        QTest::newRow("recv no dir") << "recv" << kGapA << "R2"
                                     << "dave"
                                     << "" << -1 << e << "文件目录不能为空";
        QTest::newRow("recv key on other gap") << "recv" << kGapA << "R1"
                                               << "dave"
                                               << "n" << -1 << h << "该接收路径已被使用";
        QTest::newRow("recv key kept by a change") << "recv" << kGapB << "R1"
                                                   << "dave"
                                                   << "n" << 0 << ""
                                                   << "";
        QTest::newRow("recv dir of a receive rule") << "recv" << kGapA << "R2"
                                                    << "dave"
                                                    << "r1" << -1 << h << dirInUse;
        QTest::newRow("recv dir of a send rule") << "recv" << kGapA << "R2"
                                                 << "dave"
                                                 << "s1" << -1 << h << recvOnSend;
        QTest::newRow("recv dir of a send rule with trailing slash")
            << "recv" << kGapA << "R2"
            << "dave"
            << "s1/" << -1 << h << recvOnSend;
        QTest::newRow("recv dir inside a send dir")
            << "recv" << kGapA << "R2"
            << "dave"
            << "s1/inside" << -1 << h << "接收目录位于发送目录之内,请重新选择目录路径！";
        QTest::newRow("recv dir above a send dir through a link")
            << "recv" << kGapA << "R2"
            << "dave"
            << "s1-link/.." << -1 << h << "接收目录包含发送目录,请重新选择目录路径！";
        QTest::newRow("recv dir that cannot be written")
            << "recv" << kGapA << "R2"
            << "dave"
            << "/proc" << -1 << h << "接收目录不可写,请重新选择目录路径！";
        QTest::newRow("recv dir that does not exist")
            << "recv" << kGapA << "R2"
            << "dave"
            << "missing" << -1 << e << "文件目录不存在,请重新选择！";
    }

    // Each check refuses with its own box and leaves the dialog open and the lists as they were;
    // passing all of them stores the rule, tells the opener and closes the dialog.
    void checks()
    {
        QFETCH(QString, kind);
        QFETCH(QString, gap);
        QFETCH(QString, path);
        QFETCH(QString, user);
        QFETCH(QString, dir);
        QFETCH(int, modifiedRow);
        QFETCH(QString, title);
        QFETCH(QString, text);

        TestSupport::PromptRecorder prompts;
        QPointer<RuleDialog> dialog = newDialog(kind);
        dialog->setModify(modifiedRow >= 0);
        dialog->setIndex(modifiedRow);
        dialog->show();
        QSignalSpy stored(dialog.data(), &RuleDialog::ruleStored);
        const int before = ruleCount(kind);
        // Directories are named relative to the test's root, unless absolute; "missing" is never
        // made.
        const bool asGiven = dir.isEmpty() || QDir::isAbsolutePath(dir);
        fillAndConfirm(dialog, gap, path, user, asGiven ? dir : m_root->filePath(dir));

        if (text.isEmpty()) {
            QCOMPARE(prompts.boxes().size(), 0);
            QCOMPARE(stored.count(), 1);
            QTRY_VERIFY(dialog.isNull()); // closed and deleted
            QCOMPARE(ruleCount(kind), modifiedRow >= 0 ? before : before + 1);
            return;
        }
        QCOMPARE(prompts.boxes().size(), 1);
        const PromptRequest box = prompts.boxes().first();
        QCOMPARE(box.icon, PromptRequest::Critical);
        QCOMPARE(box.parent, nullptr);
        QCOMPARE(box.buttons, int(PromptRequest::Yes));
        QCOMPARE(box.title, title);
        QCOMPARE(box.text, text);
        QCOMPARE(stored.count(), 0);
        QCOMPARE(ruleCount(kind), before);
        QVERIFY(dialog && dialog->isVisible());
        delete dialog;
    }

    void aSendRuleTakesItsLevelAndSenderFromTheGap()
    {
        QPointer<RuleDialog> dialog = new SendPathDialog;
        QSignalSpy added(dialog.data(), SIGNAL(addSendPath()));
        const QString dir = dirOf(QStringLiteral("用户/发送 目录"));
        fillAndConfirm(dialog, kGapA, "K2", "carol", dir);
        QCOMPARE(added.count(), 1);
        const _SENDPATH_LISTDATA *rule = g_SendPathList.value(1);
        QVERIFY(rule);
        QCOMPARE(QByteArray(rule->SendPathID), QByteArray("K2"));
        QCOMPARE(QByteArray(rule->GapIP), QByteArray("10.0.0.1"));
        QCOMPARE(QByteArray(rule->ToUser), QByteArray("carol"));
        QCOMPARE(QByteArray(rule->FromUser), QByteArray("alice"));
        QCOMPARE(rule->RecviverLevel.load(), 1);
        QCOMPARE(rule->sendState.load(), 3);
        QVERIFY(!rule->stopFlag && !rule->scanStarted);
        QCOMPARE(rule->SendPath, dir);
        QCOMPARE(rule->statusText, QStringLiteral("发送未启动"));
        QCOMPARE(rule->gapConf, m_gapA);
    }

    // Gap B's record has no login user; no other record of its address has one either.
    void aSendRuleOfAGapWithoutLoginUserHasNoSender()
    {
        QPointer<RuleDialog> dialog = new SendPathDialog;
        fillAndConfirm(dialog, kGapB, "K1", "bob", dirOf(QStringLiteral("n")));
        const _SENDPATH_LISTDATA *rule = g_SendPathList.value(1);
        QVERIFY(rule);
        QCOMPARE(QByteArray(rule->FromUser), QByteArray());
        QCOMPARE(rule->gapConf, m_gapB);
    }

    // A receive rule's directory on a file system without unnamed files may hold part files of a
    // run that ended mid-file: storing the rule removes, in the background, those that no
    // transfer holds, and only those; a file that merely bears a part file's name of old was
    // delivered, and stays.
    void aStoredReceiveRuleClearsStalePartFiles()
    {
        ReceiveFaults::setNoUnnamedFiles(true);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkpath("sub"));
        const QByteArray root = QFile::encodeName(dir.path()) + '/';
        const QByteArrayList parts { RecvPartFiles::partName(1), RecvPartFiles::partName(2),
            "sub/" + RecvPartFiles::partName(1), ".gaprecv-1.part" };
        for (const QByteArray &part : parts)
            QVERIFY(ReceiverFiles::writeRawFile(root + part, "x"));
        const int held = ::open((root + parts.first()).constData(), O_RDWR | O_CLOEXEC);
        QVERIFY(held >= 0 && ::flock(held, LOCK_EX) == 0);

        QPointer<RuleDialog> dialog = new RecvPathDialog;
        fillAndConfirm(dialog, kGapA, "R2", "erin", dir.path());
        QCOMPARE(g_RecvPathList.size(), 2);
        QTRY_VERIFY(!ReceiverFiles::rawExists(root + parts.at(1)));
        QTRY_VERIFY(!ReceiverFiles::rawExists(root + parts.at(2)));
        QVERIFY(ReceiverFiles::rawExists(root + parts.at(0)));
        QVERIFY(ReceiverFiles::rawExists(root + parts.at(3)));
        ::close(held);
        ReceiveFaults::setNoUnnamedFiles(false);
    }

    // A key outside ASCII must reach the gap as the bytes the gap sent.
    void aKeyOutsideAsciiIsStoredAsTheGapsBytes()
    {
        const QString key = QStringLiteral("路径甲");
        offerRecv(m_gapA, key, QStringLiteral("dave"));
        QPointer<RuleDialog> dialog = new RecvPathDialog;
        fillAndConfirm(dialog, kGapA, key, "dave", dirOf(QStringLiteral("n")));
        const _RECVPATH_LISTDATA *rule = g_RecvPathList.value(1);
        QVERIFY(rule);
        QCOMPARE(QByteArray(rule->RecvPathID), key.toUtf8());
    }

    // A change swaps in a fresh record: a transfer still holding the old one keeps its
    // directory and releases its own count.
    void aChangedReceiveRuleIsAFreshRecord()
    {
        _RECVPATH_LISTDATA *old = g_RecvPathList.value(0);
        old->useCount = 1;
        QPointer<RuleDialog> dialog = new RecvPathDialog;
        dialog->setModify(true);
        dialog->setIndex(0);
        QSignalSpy added(dialog.data(), SIGNAL(addRecvPath()));
        const QString dir = dirOf(QStringLiteral("接收"));
        fillAndConfirm(dialog, kGapA, "R2", "erin", dir);
        QCOMPARE(added.count(), 1);
        QCOMPARE(g_RecvPathList.size(), 1);
        const _RECVPATH_LISTDATA *rule = g_RecvPathList.value(0);
        QVERIFY(rule != old);
        QCOMPARE(rule->RecvPath, dir);
        QCOMPARE(QByteArray(rule->RecvPathID), QByteArray("R2"));
        QCOMPARE(QByteArray(rule->GapIP), QByteArray("10.0.0.1"));
        QCOMPARE(QByteArray(rule->FromUser), QByteArray("erin"));
        QCOMPARE(rule->useCount.load(), 0);
        QCOMPARE(rule->statusText, QStringLiteral("空闲中"));
        QCOMPARE(old->RecvPath, m_root->filePath(QStringLiteral("r1")));
        QCOMPARE(old->useCount.load(), 1);
    }

    // A change rewrites the rule in place: with sent files kept, the files it has sent stay
    // recorded, so that going back to their directory sends none of them again.
    void aChangedSendRuleKeepsItsSentFiles()
    {
        _SENDPATH_LISTDATA *rule = g_SendPathList.value(0);
        const QString sent = dirOf(QStringLiteral("s1"));
        QFile file(sent + QStringLiteral("/kept.txt"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("kept") == 4);
        file.close();
        DirectoryTraversal scanner;
        QList<_FINDFILEINFO *> handed;
        connect(&scanner, &DirectoryTraversal::insertItem,
            [&handed](_FINDFILEINFO *found, _SENDPATH_LISTDATA *) { handed.append(found); });
        // Without a settle time the closed file goes at the first pass.
        g_sysbaseconf.settleSeconds = 0;
        scanner.findFile(sent, rule);
        g_sysbaseconf.settleSeconds = 2;
        QCOMPARE(handed.size(), 1);
        SendLedger::markSent(rule, *handed.first()); // as a worker does once the gap confirmed

        for (const QString &dir : { dirOf(QStringLiteral("n")), sent }) {
            QPointer<RuleDialog> dialog = new SendPathDialog;
            dialog->setModify(true);
            dialog->setIndex(0);
            fillAndConfirm(dialog, kGapA, "K2", "carol", dir);
            QVERIFY(dialog.isNull() || !dialog->isVisible());
        }
        QCOMPARE(g_SendPathList.size(), 1);
        QCOMPARE(g_SendPathList.value(0), rule);
        QCOMPARE(QByteArray(rule->SendPathID), QByteArray("K2"));
        QCOMPARE(QByteArray(rule->ToUser), QByteArray("carol"));
        QCOMPARE(rule->SendPath, sent);
        for (int pass = 0; pass < 3; ++pass)
            scanner.findFile(sent, rule);
        QCOMPARE(handed.size(), 1);
        QMutexLocker lock(&sendTaskMutex);
        qDeleteAll(rule->sentFiles);
        rule->sentFiles.clear();
    }

    // The scanner may reach a rule while its change dialog is open: the change is refused then.
    void aSendRuleThatCameIntoUseIsNotChanged()
    {
        TestSupport::PromptRecorder prompts;
        _SENDPATH_LISTDATA *rule = g_SendPathList.value(0);
        const QString before = rule->SendPath;
        QPointer<RuleDialog> dialog = new SendPathDialog;
        dialog->setModify(true);
        dialog->setIndex(0);
        dialog->show();
        rule->scanStarted = true;
        fillAndConfirm(dialog, kGapA, "K2", "carol", dirOf(QStringLiteral("n")));
        QCOMPARE(prompts.texts(), QStringList({ "该规则路径正在使用" }));
        QCOMPARE(prompts.boxes().first().title, QStringLiteral("提示"));
        QCOMPARE(rule->SendPath, before);
        QCOMPARE(QByteArray(rule->SendPathID), QByteArray("K1"));
        QVERIFY(dialog && dialog->isVisible());
        delete dialog;
    }

    void browseTakesTheChosenDirectoryAndCancelEmptiesIt()
    {
        const QString chosen = QStringLiteral("/home/测试/接收目录");
        QString answer = chosen;
        RuleDialog::setDirectoryChooser([&answer](QWidget *) { return answer; });
        TestSupport::PromptRecorder prompts;
        QPointer<RuleDialog> dialog = new SendPathDialog;
        dialog->browseButton()->click();
        QCOMPARE(dialog->dirEdit()->text(), chosen);

        answer.clear();
        dialog->browseButton()->click();
        QCOMPARE(dialog->dirEdit()->text(), QString());
        choose(dialog->gapCombo(), kGapA);
        choose(dialog->pathCombo(), "K2");
        choose(dialog->userCombo(), "bob");
        dialog->okButton()->click();
        QCOMPARE(prompts.errorTexts(), QStringList({ "文件目录不能为空" }));
        delete dialog;
    }

    void cancelClosesWithoutStoring()
    {
        QPointer<RuleDialog> dialog = new RecvPathDialog;
        dialog->show();
        choose(dialog->gapCombo(), kGapA);
        choose(dialog->pathCombo(), "R2");
        dialog->cancelButton()->click();
        QTRY_VERIFY(dialog.isNull());
        QCOMPARE(g_RecvPathList.size(), 1);
    }

    void screenshots_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("title");
        QTest::newRow("send") << "send" << QStringLiteral("发送目录--添加");
        QTest::newRow("recv") << "recv" << QStringLiteral("接收目录-添加");
    }

    // With GAP_VIEW_SHOTS set to a directory, keeps a picture of each dialog for a human to
    // check; always checks that no label or button is cut.
    void screenshots()
    {
        QFETCH(QString, kind);
        QFETCH(QString, title);
        QScopedPointer<RuleDialog> dialog(newDialog(kind));
        dialog->setWindowTitle(title);
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog.data()));
        choose(dialog->gapCombo(), kGapA);
        choose(dialog->pathCombo(), kind == QLatin1String("send") ? "K2" : "R2");
        choose(dialog->userCombo(), kind == QLatin1String("send") ? "carol" : "erin");
        dialog->dirEdit()->setText(QStringLiteral("/home/alice/发送目录/报表"));
        for (QLabel *label : dialog->findChildren<QLabel *>())
            QVERIFY(label->width() >= label->sizeHint().width());
        for (QPushButton *button : dialog->findChildren<QPushButton *>())
            QVERIFY(button->width() >= button->sizeHint().width());
        const QString dir = qEnvironmentVariable("GAP_VIEW_SHOTS");
        if (!dir.isEmpty())
            QVERIFY(dialog->grab().save(QStringLiteral("%1/rule-%2.png").arg(dir, kind)));
    }
};

QTEST_MAIN(TestRuleDialogs)
#include "tst_ruledialogs.moc"
