#include "app/MainWindow.h"
#include "model/Ports.h"
#include "support/TestSupport.h"
#include "thread/RecvDataProc.h"
#include "views/RecvStatusView.h"

#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

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
    // row; every file connection adds one, and nothing keeps its descriptor open.
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

        for (int expected = 1; expected <= 2; ++expected) {
            QTcpSocket file;
            file.connectToHost(QHostAddress::LocalHost, Ports::filePort());
            QVERIFY(file.waitForConnected(10000));
            QTRY_COMPARE_WITH_TIMEOUT(rows->topLevelItemCount(), expected, 10000);
            QTRY_COMPARE_WITH_TIMEOUT(file.state(), QAbstractSocket::UnconnectedState, 10000);
        }
        QVERIFY(prompts.boxes().isEmpty());
    }

private:
    QTemporaryDir m_workDir;
};

QTEST_MAIN(TestRecvDataProc)
#include "tst_recvdataproc.moc"
