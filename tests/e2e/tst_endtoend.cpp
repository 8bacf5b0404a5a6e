// Files travel the whole way a user's files do: the scanner finds them in a send directory, the
// sending workers hand them to the gap (gapsim), the gap delivers them to this same client's file
// listener, and the receiving workers write them into the receive directory. What arrives must be
// exactly what was sent, once, and the sent files leave the send directory only once delivered.
// Files and folders dropped on the send status page go the same way, whole.

#include "app/MainWindow.h"
#include "e2e/TestFiles.h"
#include "gap/GapTestSupport.h"
#include "gap/SocketTools.h"
#include "model/GlobalData.h"
#include "model/TransferStateInfo.h"
#include "send/Controller.h"
#include "support/TestSupport.h"
#include "tools/gapsim/GapsimProcess.h"
#include "views/transfers/RecvStatusView.h"
#include "views/transfers/SendDrop.h"
#include "views/transfers/SendStatusView.h"

#include <QCryptographicHash>
#include <QDir>
#include <QMimeData>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QTreeWidget>
#include <QtTest>

namespace {

// A key outside ASCII travels as the gap's UTF-8 bytes and must match and show as such.
const QString kPathKey = QStringLiteral("报表-ALICE-TO-BOB");
constexpr int kPayload = 1444;
constexpr int kDeliveryWaitMs = 60000;

bool writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

template <typename T> void clearRegistry(Registry<T> &registry)
{
    const QList<T *> records = registry.snapshot();
    registry.clear();
    qDeleteAll(records);
}

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void filesArriveExactlyOnce_data();
    void filesArriveExactlyOnce();
    void droppedFilesArriveWhole();

private:
    // The gap (gapsim, with the faults given) for alice's files to bob, and this client logged
    // in as alice with a send rule and, as bob, a receive rule for that path.
    struct Site {
        QString sendDir;
        QString recvDir;
        std::unique_ptr<GapsimProcess> gapsim;
    };
    void setUpSite(const QString &dir, const QStringList &faults, Site *site);

    QTemporaryDir m_workDir;
    quint16 m_gapPort = 0;
};

void TestEndToEnd::initTestCase()
{
    QVERIFY(TestSupport::enterDir(m_workDir));
    TestSupport::useFreeListenerPorts();
    m_gapPort = TestSupport::pickFreePort();
    QVERIFY(m_gapPort != 0);
    qputenv("VARKO_GAP_PORT", QByteArray::number(m_gapPort));
}

void TestEndToEnd::cleanup()
{
    QThreadPool::globalInstance()->waitForDone();
    Controller::releaseRetiredFiles();
    // The rules' bookkeeping outlives its records in the client; the test frees both.
    for (_SENDPATH_LISTDATA *rule : g_SendPathList.snapshot()) {
        QSet<_FINDFILEINFO *> files;
        for (_FINDFILEINFO *file : qAsConst(rule->sentFiles))
            files.insert(file);
        for (_FINDFILEINFO *file : qAsConst(rule->pendingFiles))
            files.insert(file);
        qDeleteAll(files);
    }
    clearRegistry(g_SendPathList);
    clearRegistry(g_RecvPathList);
    clearRegistry(g_GapInfoList);
}

void TestEndToEnd::filesArriveExactlyOnce_data()
{
    QTest::addColumn<QStringList>("faults");
    QTest::newRow("clean gap") << QStringList();
    // The first attempt of the large file breaks off in its second burst; the retry must deliver
    // it whole, and no broken copy may be left beside it.
    QTest::newRow("relay cut once")
        << QStringList { "--fault", "cut,bytes=200000,file=big.bin,count=1" };
    // The gap changes one byte of the first delivery: the receiver's digest check refuses it and
    // the sender tries again.
    QTest::newRow("content changed once")
        << QStringList { "--fault", "flip,offset=1000,file=big.bin,count=1" };
}

void TestEndToEnd::filesArriveExactlyOnce()
{
    QFETCH(QStringList, faults);

    QTemporaryDir dir(m_workDir.filePath(QStringLiteral("XXXXXX")));
    QVERIFY(dir.isValid());
    Site site;
    setUpSite(dir.path(), faults, &site);
    if (QTest::currentTestFailed())
        return;
    GapsimProcess &gapsim = *site.gapsim;
    const QString &sendDir = site.sendDir;
    const QString &recvDir = site.recvDir;
    // What the gap saw explains a failure better than the files that did not arrive.
    const auto dumpEvents = qScopeGuard([&gapsim] {
        if (QTest::currentTestFailed())
            qWarning().noquote() << gapsim.events().join(QLatin1Char('\n'));
    });

    const QMap<QString, QByteArray> sent {
        { QStringLiteral("one.txt"), TestFiles::contentOfSize(1, 1) },
        { QStringLiteral("payload.bin"), TestFiles::contentOfSize(kPayload, 2) },
        { QStringLiteral("子目录/报告.doc"), TestFiles::contentOfSize(kPayload + 1, 3) },
        { QStringLiteral("big.bin"), TestFiles::contentOfSize(3 * 100 * kPayload + 777, 4) },
    };
    for (auto it = sent.cbegin(); it != sent.cend(); ++it)
        QVERIFY(writeFile(sendDir + QLatin1Char('/') + it.key(), it.value()));

    TestSupport::PromptRecorder prompts;
    MainWindow window;
    QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("start")), Qt::LeftButton);
    QVERIFY(window.sendStatusView()->isSending);

    QTRY_COMPARE_WITH_TIMEOUT(TestFiles::filesUnder(recvDir).size(), sent.size(), kDeliveryWaitMs);
    // Every sent file leaves the send directory once the gap confirmed it (directories stay).
    QTRY_COMPARE_WITH_TIMEOUT(TestFiles::filesUnder(sendDir).size(), 0, kDeliveryWaitMs);
    QCOMPARE(TestFiles::filesUnder(recvDir), sent);
    // The gap delivered each file exactly once.
    QTRY_COMPARE(gapsim.events().filter(QStringLiteral("result=delivered")).size(), sent.size());
    QVERIFY2(prompts.texts().isEmpty(), qPrintable(prompts.texts().join(QLatin1Char('|'))));
    for (QTreeWidget *tree : { window.sendStatusView()->tree(), window.recvStatusView()->tree() }) {
        QVERIFY(tree->topLevelItemCount() >= sent.size());
        // A worker's reports reach its row through the event loop, possibly after its file.
        for (int row = 0; row < tree->topLevelItemCount(); ++row)
            QTRY_COMPARE(tree->topLevelItem(row)->text(TransferStateInfo::TransferPath), kPathKey);
    }

    QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("start")), Qt::LeftButton);
    QVERIFY(!window.sendStatusView()->isSending);
    QThreadPool::globalInstance()->waitForDone();
    // Nothing more arrives once the workers have ended.
    QCOMPARE(TestFiles::filesUnder(recvDir), sent);
    QCOMPARE(gapsim.stop(), 0);
}

void TestEndToEnd::setUpSite(const QString &dir, const QStringList &faults, Site *site)
{
    site->sendDir = dir + QStringLiteral("/发送");
    site->recvDir = dir + QStringLiteral("/接收");
    QVERIFY(QDir().mkpath(site->sendDir) && QDir().mkpath(site->recvDir));

    site->gapsim = std::make_unique<GapsimProcess>(dir);
    QStringList arguments { "--port", QString::number(m_gapPort) };
    QVERIFY(site->gapsim->start(QStringLiteral("[user.alice]\npassword = alice-pass\nlevel = 1\n"
                                               "[user.bob]\npassword = bob-pass\nlevel = 1\n"
                                               "address = 127.0.0.1\nfile_port = %1\n"
                                               "[path.%2]\nfrom = alice\nto = bob\n")
                                    .arg(QString::fromLatin1(qgetenv("VARKO_FILE_PORT")), kPathKey),
        arguments + faults));

    // Logged in as alice; the same client also receives what the gap delivers for bob.
    _VKGAPIP_CONF *gap = GapTest::makeGap("127.0.0.1", "alice", "alice-pass").release();
    g_GapInfoList.append(gap);
    QCOMPARE(SocketTools().connectToGapHost(gap), 0);

    auto *sendRule = new _SENDPATH_LISTDATA;
    copyToField(sendRule->SendPathID, kPathIDSize, kPathKey.toUtf8());
    copyToField(sendRule->GapIP, kHostIPSize, "127.0.0.1");
    copyToField(sendRule->ToUser, kUserNameSize, "bob");
    copyToField(sendRule->FromUser, kUserNameSize, "alice");
    sendRule->RecviverLevel = 1;
    sendRule->SendPath = site->sendDir;
    sendRule->gapConf = gap;
    g_SendPathList.append(sendRule);

    auto *recvRule = new _RECVPATH_LISTDATA;
    copyToField(recvRule->RecvPathID, kPathIDSize, kPathKey.toUtf8());
    copyToField(recvRule->GapIP, kHostIPSize, "127.0.0.1");
    copyToField(recvRule->FromUser, kUserNameSize, "alice");
    recvRule->RecvPath = site->recvDir;
    g_RecvPathList.append(recvRule);
}

// Files and a folder dropped on the send status page, and a file added with "添加文件…", are
// copied into the send directory and arrive whole; a name already in the send directory gets the
// stamped name the receiver would give it, and the dropped originals stay where they were.
void TestEndToEnd::droppedFilesArriveWhole()
{
    QTemporaryDir dir(m_workDir.filePath(QStringLiteral("XXXXXX")));
    QVERIFY(dir.isValid());
    Site site;
    setUpSite(dir.path(), {}, &site);
    if (QTest::currentTestFailed())
        return;
    const QString elsewhere = dir.filePath(QStringLiteral("桌面"));
    const QMap<QString, QByteArray> dropped {
        { QStringLiteral("a.txt"), TestFiles::contentOfSize(10, 1) },
        { QStringLiteral("大文件.bin"), TestFiles::contentOfSize(200 * kPayload + 5, 2) },
        { QStringLiteral("月报/一月.xlsx"), TestFiles::contentOfSize(kPayload, 3) },
        { QStringLiteral("月报/二月/数据.csv"), TestFiles::contentOfSize(77, 4) },
        { QStringLiteral("b.txt"), TestFiles::contentOfSize(20, 5) },
    };
    for (auto it = dropped.cbegin(); it != dropped.cend(); ++it)
        QVERIFY(writeFile(elsewhere + QLatin1Char('/') + it.key(), it.value()));
    const QByteArray waiting = TestFiles::contentOfSize(30, 6);
    QVERIFY(writeFile(site.sendDir + QStringLiteral("/a.txt"), waiting));

    TestSupport::PromptRecorder prompts;
    MainWindow window;
    SendStatusView *page = window.sendStatusView();
    QSignalSpy copied(page->drop(), &SendDrop::finished);
    QMimeData data;
    data.setUrls({ QUrl::fromLocalFile(elsewhere + QStringLiteral("/a.txt")),
        QUrl::fromLocalFile(elsewhere + QStringLiteral("/大文件.bin")),
        QUrl::fromLocalFile(elsewhere + QStringLiteral("/月报")) });
    QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(page, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(50, 50), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(page, &drop);
    page->drop()->setFileChooser([&] { return QStringList { elsewhere + QStringLiteral("/b.txt") }; });
    QTest::mouseClick(page->addFilesButton(), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(copied.count(), 2, kDeliveryWaitMs);
    QVERIFY2(page->drop()->noticeText().contains(QStringLiteral("启动发送后发送")),
        qPrintable(page->drop()->noticeText()));

    QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("start")), Qt::LeftButton);
    QMap<QString, QByteArray> expected = dropped;
    expected.insert(QStringLiteral("a.txt"), waiting);
    const QString stamped = copied.first().first().value<DropCopy::Result>().placed.first();
    QVERIFY2(stamped.endsWith(QStringLiteral("_a.txt")), qPrintable(stamped));
    expected.insert(stamped, dropped.value(QStringLiteral("a.txt")));
    QTRY_COMPARE_WITH_TIMEOUT(TestFiles::filesUnder(site.recvDir).size(), expected.size(),
        kDeliveryWaitMs);
    QCOMPARE(TestFiles::filesUnder(site.recvDir), expected);
    QTRY_COMPARE_WITH_TIMEOUT(TestFiles::filesUnder(site.sendDir).size(), 0, kDeliveryWaitMs);
    QCOMPARE(TestFiles::filesUnder(elsewhere), dropped);
    QVERIFY2(prompts.texts().isEmpty(), qPrintable(prompts.texts().join(QLatin1Char('|'))));

    QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("start")), Qt::LeftButton);
    QThreadPool::globalInstance()->waitForDone();
    QCOMPARE(site.gapsim->stop(), 0);
}

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
