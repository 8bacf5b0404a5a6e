#include "app/MainWindow.h"
#include "model/GlobalData.h"
#include "model/Ports.h"
#include "receive/ReceiveFaults.h"
#include "receive/RecvAdmission.h"
#include "receive/RecvDataProc.h"
#include "receive/RecvWorkThread.h"
#include "support/TestSupport.h"
#include "tools/gapsim/GapWire.h"
#include "views/transfers/RecvStatusView.h"

#include <QCryptographicHash>
#include <QDir>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// The loopback host listed as a gap while it exists.
class ListedGap
{
public:
    ListedGap()
    {
        copyToField(m_gap.HostIP, kHostIPSize, "127.0.0.1");
        g_GapInfoList.append(&m_gap);
    }
    ~ListedGap() { g_GapInfoList.removeOne(&m_gap); }
    ListedGap(const ListedGap &) = delete;
    ListedGap &operator=(const ListedGap &) = delete;

private:
    _VKGAPIP_CONF m_gap;
};

int openDescriptors() { return QDir(QStringLiteral("/proc/self/fd")).count() - 2; }

// The soft open-file limit of this process, lowered while it exists.
class OpenFileLimit
{
public:
    explicit OpenFileLimit(rlim_t soft)
    {
        ::getrlimit(RLIMIT_NOFILE, &m_saved);
        rlimit lowered = m_saved;
        lowered.rlim_cur = soft;
        m_active = ::setrlimit(RLIMIT_NOFILE, &lowered) == 0;
    }
    ~OpenFileLimit() { ::setrlimit(RLIMIT_NOFILE, &m_saved); }
    OpenFileLimit(const OpenFileLimit &) = delete;
    OpenFileLimit &operator=(const OpenFileLimit &) = delete;
    bool active() const { return m_active; }

private:
    rlimit m_saved {};
    bool m_active = false;
};

} // namespace

class TestRecvDataProc : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(TestSupport::enterDir(m_workDir));
        TestSupport::useFreeListenerPorts();
    }

    void portAlreadyHeld_data()
    {
        QTest::addColumn<bool>("filePortHeld");
        QTest::addColumn<QString>("text");
        QTest::newRow("file port") << true << QStringLiteral("接收文件端口监听失败");
        QTest::newRow("configuration port") << false << QStringLiteral("配置信息端口监听失败");
    }

    void portAlreadyHeld()
    {
        QFETCH(bool, filePortHeld);
        QFETCH(QString, text);

        QTcpServer holder;
        QVERIFY(holder.listen(
            QHostAddress::AnyIPv4, filePortHeld ? Ports::filePort() : Ports::confPort()));
        TestSupport::PromptRecorder prompts;
        RecvDataProc fileListener(Ports::filePort(), nullptr);
        RecvDataProc confListener(Ports::confPort(), nullptr);

        QCOMPARE(prompts.texts(), QStringList { text });
        const PromptRequest box = prompts.boxes().first();
        QCOMPARE(box.icon, PromptRequest::Critical);
        QVERIFY(!box.parent);
        QCOMPARE(box.title, QStringLiteral("error"));
        QCOMPARE(box.buttons, int(PromptRequest::Yes));
        QCOMPARE(box.defaultButton, int(PromptRequest::NoButton));
        QCOMPARE(fileListener.isListening(), !filePortHeld);
        QCOMPARE(confListener.isListening(), filePortHeld);
    }

    // A push connection from a gap that is not logged in is closed unread and adds no transfer
    // row; so is a file connection from a host that is no listed gap, while each one from a
    // listed gap adds its row. Nothing keeps a descriptor open.
    void connectionsGoWhereTheirPortSays()
    {
        TestSupport::PromptRecorder prompts;
        MainWindow window;
        QTreeWidget *rows = window.recvStatusView()->tree();

        QTcpSocket push;
        push.connectToHost(QHostAddress::LocalHost, Ports::confPort());
        QVERIFY(push.waitForConnected(10000));
        // The listener runs in this thread: wait with the event loop running.
        QTRY_COMPARE_WITH_TIMEOUT(push.state(), QAbstractSocket::UnconnectedState, 35000);
        QCOMPARE(rows->topLevelItemCount(), 0);

        QTcpSocket stranger;
        stranger.connectToHost(QHostAddress::LocalHost, Ports::filePort());
        QVERIFY(stranger.waitForConnected(10000));
        QTRY_COMPARE_WITH_TIMEOUT(stranger.state(), QAbstractSocket::UnconnectedState, 10000);
        QCOMPARE(rows->topLevelItemCount(), 0);

        ListedGap gap;
        for (int expected = 1; expected <= 2; ++expected) {
            QTcpSocket file;
            file.connectToHost(QHostAddress::LocalHost, Ports::filePort());
            QVERIFY(file.waitForConnected(10000));
            QTRY_COMPARE_WITH_TIMEOUT(rows->topLevelItemCount(), expected, 10000);
            file.disconnectFromHost();
        }
        QTRY_COMPARE_WITH_TIMEOUT(RecvWorkThread::aliveCount(), 0, 10000);
        QVERIFY(prompts.boxes().isEmpty());
    }

    // Only so many file connections run at once: one more is closed at once, without a row and
    // with a line in the log; once one has ended, the next is taken again.
    void fileConnectionsAreBounded()
    {
        TestSupport::PromptRecorder prompts;
        MainWindow window;
        window.fileListener()->setConnectionLimit(2);
        QTreeWidget *rows = window.recvStatusView()->tree();
        ListedGap gap;

        QTcpSocket held[2];
        for (int i = 0; i < 2; ++i) {
            held[i].connectToHost(QHostAddress::LocalHost, Ports::filePort());
            QVERIFY(held[i].waitForConnected(10000));
            QTRY_COMPARE_WITH_TIMEOUT(rows->topLevelItemCount(), i + 1, 10000);
        }
        QTest::ignoreMessage(
            QtWarningMsg, QRegularExpression(QStringLiteral("^file port: 2 transfers at once")));
        QTcpSocket extra;
        extra.connectToHost(QHostAddress::LocalHost, Ports::filePort());
        QVERIFY(extra.waitForConnected(10000));
        QTRY_COMPARE_WITH_TIMEOUT(extra.state(), QAbstractSocket::UnconnectedState, 10000);
        QCOMPARE(rows->topLevelItemCount(), 2);

        held[0].abort(); // its worker ends, and with it its place
        QTRY_COMPARE_WITH_TIMEOUT(RecvWorkThread::aliveCount(), 1, 10000);
        QTest::ignoreMessage(QtWarningMsg,
            QRegularExpression(QStringLiteral("^file port: closed 1 connections over the bound")));
        QTcpSocket next;
        next.connectToHost(QHostAddress::LocalHost, Ports::filePort());
        QVERIFY(next.waitForConnected(10000));
        QTRY_COMPARE_WITH_TIMEOUT(rows->topLevelItemCount(), 3, 10000);

        held[1].abort();
        next.abort();
        QTRY_COMPARE_WITH_TIMEOUT(RecvWorkThread::aliveCount(), 0, 10000);
        QVERIFY(prompts.boxes().isEmpty());
    }

    // A process out of descriptors cannot accept a connection; Qt then stops listening. The
    // listener says so once, tries again, and takes the connection once descriptors are free.
    void acceptingResumesAfterDescriptorsRanOut()
    {
        TestSupport::PromptRecorder prompts;
        MainWindow window;
        QTreeWidget *rows = window.recvStatusView()->tree();
        ListedGap gap;
        QTcpSocket file;
        file.connectToHost(QHostAddress::LocalHost, Ports::filePort());
        QVERIFY(file.waitForConnected(10000)); // waiting to be accepted

        QTest::ignoreMessage(QtWarningMsg,
            QRegularExpression(
                QStringLiteral("^port %1 cannot accept a connection:").arg(Ports::filePort())));
        QList<int> taken;
        {
            OpenFileLimit limit(rlim_t(openDescriptors() + 16));
            QVERIFY(limit.active());
            for (int fd = ::dup(0); fd >= 0; fd = ::dup(0))
                taken << fd;
            QTest::qWait(3 * RecvDataProc::kAcceptRetryMs);
            QCOMPARE(rows->topLevelItemCount(), 0);
            for (int fd : qAsConst(taken))
                ::close(fd);
        }
        QTest::ignoreMessage(QtWarningMsg,
            QRegularExpression(
                QStringLiteral("^port %1 accepts connections again").arg(Ports::filePort())));
        QTRY_COMPARE_WITH_TIMEOUT(rows->topLevelItemCount(), 1, 10000);
        file.abort();
        QTRY_COMPARE_WITH_TIMEOUT(RecvWorkThread::aliveCount(), 0, 10000);
        QVERIFY(prompts.boxes().isEmpty());
    }

    // A connection for which the process has too few descriptors left beside the transfers
    // running is closed at once, without a row; with descriptors to spare the next one is taken.
    void connectionsNeedTheirDescriptors()
    {
        TestSupport::PromptRecorder prompts;
        MainWindow window;
        QTreeWidget *rows = window.recvStatusView()->tree();
        ListedGap gap;
        QTcpSocket turnedAway;
        {
            // One short of what a first worker needs, counting the descriptor of the connection.
            OpenFileLimit limit(rlim_t(openDescriptors() + RecvAdmission::kSpareDescriptors
                + RecvAdmission::kDescriptorsPerWorker));
            QVERIFY(limit.active());
            QTest::ignoreMessage(QtWarningMsg,
                QRegularExpression(QStringLiteral("^file port: too few descriptors left beside 0 "
                                                  "transfers")));
            turnedAway.connectToHost(QHostAddress::LocalHost, Ports::filePort());
            QVERIFY(turnedAway.waitForConnected(10000));
            QTRY_COMPARE_WITH_TIMEOUT(turnedAway.state(), QAbstractSocket::UnconnectedState, 10000);
        }
        QCOMPARE(rows->topLevelItemCount(), 0);
        QTest::ignoreMessage(QtWarningMsg,
            QRegularExpression(QStringLiteral("^file port: closed 1 connections over the bound")));
        QTcpSocket taken;
        taken.connectToHost(QHostAddress::LocalHost, Ports::filePort());
        QVERIFY(taken.waitForConnected(10000));
        QTRY_COMPARE_WITH_TIMEOUT(rows->topLevelItemCount(), 1, 10000);
        taken.abort();
        QTRY_COMPARE_WITH_TIMEOUT(RecvWorkThread::aliveCount(), 0, 10000);
        QVERIFY(prompts.boxes().isEmpty());
    }

    // A receiving thread that cannot be created: the connection is closed, the row ends with
    // the reason, and the worker's place among the workers alive is free for the next one.
    void unstartedWorkerEndsItsRow()
    {
        TestSupport::PromptRecorder prompts;
        MainWindow window;
        QTreeWidget *rows = window.recvStatusView()->tree();
        ListedGap gap;
        QTest::ignoreMessage(QtCriticalMsg, QRegularExpression("^QThread::start: Thread creation"));
        QTest::ignoreMessage(QtWarningMsg,
            QRegularExpression(QStringLiteral("^a receiving thread could not be started")));
        ReceiveFaults::failThreadStarts(1);
        QTcpSocket file;
        file.connectToHost(QHostAddress::LocalHost, Ports::filePort());
        QVERIFY(file.waitForConnected(10000));
        QTRY_COMPARE_WITH_TIMEOUT(file.state(), QAbstractSocket::UnconnectedState, 10000);
        ReceiveFaults::failThreadStarts(0);

        QCOMPARE(rows->topLevelItemCount(), 1);
        QCOMPARE(rows->topLevelItem(0)->text(7), QStringLiteral("接收线程启动失败|关闭连接"));
        QVERIFY(!rows->topLevelItem(0)->text(6).isEmpty());
        QCOMPARE(RecvWorkThread::aliveCount(), 0);
        window.fileListener()->setConnectionLimit(1);
        QTcpSocket next;
        next.connectToHost(QHostAddress::LocalHost, Ports::filePort());
        QVERIFY(next.waitForConnected(10000));
        QTRY_COMPARE_WITH_TIMEOUT(rows->topLevelItemCount(), 2, 10000);
        QCOMPARE(RecvWorkThread::aliveCount(), 1);
        next.abort();
        QTRY_COMPARE_WITH_TIMEOUT(RecvWorkThread::aliveCount(), 0, 10000);
        QVERIFY(prompts.boxes().isEmpty());
    }

    // With the peer listed as a gap and a rule for it, each file connection fills its own row,
    // the newer one on top, with what its worker reports.
    void fileConnectionsReceiveIntoTheirRows()
    {
        TestSupport::PromptRecorder prompts;
        MainWindow window;
        QTreeWidget *rows = window.recvStatusView()->tree();
        const QString recvDir = m_workDir.filePath("recv");
        QVERIFY(QDir().mkpath(recvDir));
        _VKGAPIP_CONF gap;
        copyToField(gap.HostIP, kHostIPSize, "127.0.0.1");
        _RECVPATH_LISTDATA rule;
        rule.RecvPath = recvDir;
        copyToField(rule.RecvPathID, kPathIDSize, "KEY");
        copyToField(rule.GapIP, kHostIPSize, "127.0.0.1");
        g_GapInfoList.append(&gap);
        g_RecvPathList.append(&rule);

        const QList<QByteArray> names { "first.txt", "second.txt" };
        for (int i = 0; i < names.size(); ++i) {
            const QByteArray content = names.at(i).repeated(1000);
            const QByteArray md5
                = QCryptographicHash::hash(content, QCryptographicHash::Md5).toHex().toUpper();
            QTcpSocket file;
            file.connectToHost(QHostAddress::LocalHost, Ports::filePort());
            QVERIFY(file.waitForConnected(10000));
            QTRY_COMPARE_WITH_TIMEOUT(rows->topLevelItemCount(), i + 1, 10000);
            QVERIFY(GapWire::send(file,
                GapWire::descriptor(content.size(), "KEY", names.at(i), md5)
                    + GapWire::contentPackets(content)));
            const QByteArray answers = GapWire::readBytes(file, 2 * GapWire::kPacket);
            QCOMPARE(GapWire::u64(answers, GapWire::kPacket), quint64(5));
            QTRY_COMPARE_WITH_TIMEOUT(
                rows->topLevelItem(0)->text(7), QStringLiteral("接收完毕"), 10000);
            QCOMPARE(rows->topLevelItem(0)->text(0), QString::fromLatin1(names.at(i)));
        }
        QCOMPARE(rows->topLevelItem(1)->text(0), QStringLiteral("first.txt"));
        QTRY_COMPARE_WITH_TIMEOUT(rule.useCount.load(), 0, 10000);
        g_RecvPathList.removeOne(&rule);
        g_GapInfoList.removeOne(&gap);
        QVERIFY(prompts.boxes().isEmpty());
    }

private:
    QTemporaryDir m_workDir;
};

QTEST_MAIN(TestRecvDataProc)
#include "tst_recvdataproc.moc"
