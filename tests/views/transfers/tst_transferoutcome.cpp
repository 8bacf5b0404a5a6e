// What a status row amounts to, from the texts the workers write into it.

#include "views/transfers/TransferOutcome.h"

#include <QtTest>

Q_DECLARE_METATYPE(TransferOutcome::Kind)

namespace {

const QString kEnd = QStringLiteral("2026-12-10 13:21:21");

} // namespace

class TestTransferOutcome : public QObject
{
    Q_OBJECT

private slots:
    void outcomeOfStatusText_data()
    {
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("endTime");
        QTest::addColumn<TransferOutcome::Kind>("outcome");

        const auto running = TransferOutcome::Running;
        const auto done = TransferOutcome::Done;
        const auto refused = TransferOutcome::Refused;
        const auto failed = TransferOutcome::Failed;
        const auto waiting = TransferOutcome::Waiting;
        // Sending. Texts of an attempt that is retried come with an end time, yet the row goes on.
        QTest::newRow("checking") << "文件正在校验中,请稍候 "
                                  << "" << running;
        QTest::newRow("descriptor sent") << "发送文件描述符"
                                         << "" << running;
        QTest::newRow("sending data") << "正在发送中"
                                      << "" << running;
        QTest::newRow("awaiting confirmation") << "文件已发送/等待确认"
                                               << "" << running;
        QTest::newRow("link fault type 0")
            << "链路故障稍后重发（错误代码:type 0" << kEnd << running;
        QTest::newRow("link fault type 1")
            << "链路故障稍后重发（错误代码:type 1）" << kEnd << running;
        QTest::newRow("type not judged") << "文件类型判断出错" << kEnd << running;
        QTest::newRow("no response, later") << "文件描述符响应接收失败/稍后重发" << kEnd << running;
        QTest::newRow("no response, network")
            << "文件描述符响应接收失败/检查网络" << kEnd << running;
        QTest::newRow("unknown response") << "未知的接收文件描述符/稍后重传" << kEnd << running;
        QTest::newRow("path differs") << "校验文件元数据：发送路径不一致" << kEnd << running;
        QTest::newRow("file end fault") << "尾包链路故障/稍后重发(错误代码:002)" << kEnd << running;
        QTest::newRow("no confirmation")
            << "确认报文接收失败/稍后重发(错误代码:05)" << kEnd << running;
        QTest::newRow("digest mismatch, resend")
            << "接收端文件校验失败/稍后重发(错误代码:15)" << kEnd << running;
        QTest::newRow("sent") << "文件发送成功 " << kEnd << done;
        QTest::newRow("size refused") << "文件大小超出文件落地范围" << kEnd << refused;
        QTest::newRow("name too long") << "文件名太长 " << kEnd << refused;
        QTest::newRow("no receive path") << "接收方未配置接收路径" << kEnd << refused;
        QTest::newRow("sender not cleared")
            << "传输失败,发送方没有权限发送该文件" << kEnd << refused;
        QTest::newRow("receiver not cleared") << "接收方没有权限接收该文件" << kEnd << refused;
        QTest::newRow("gave up") << "文件多次发送失败/暂停发送" << kEnd << failed;
        QTest::newRow("waits to be offered again")
            << "等待重发 14:36（接收方不在线）" << kEnd << waiting;
        QTest::newRow("sent, not removed") << "已发送，无法删除源文件" << kEnd << done;
        QTest::newRow("refused and removed") << "文件存在病毒，已从发送目录删除" << kEnd << refused;
        QTest::newRow("name unreadable") << "文件名编码无法识别" << kEnd << failed;
        QTest::newRow("path too long") << "文件路径过长" << kEnd << failed;
        QTest::newRow("user stop") << "用户停止发送" << kEnd << failed;
        QTest::newRow("user stop, blank") << "用户停止发送 " << kEnd << failed;
        QTest::newRow("gap offline") << "设备掉线请检查网络 " << kEnd << failed;
        // The gap's verdicts, which end rows on either side.
        QTest::newRow("suffix refused") << "不允许发送的文件类型" << kEnd << refused;
        QTest::newRow("keyword") << "文件存在过滤关键字" << kEnd << refused;
        QTest::newRow("virus") << "文件存在病毒" << kEnd << refused;
        // Receiving. The tail written comes with an end time; the digest check is still to come.
        QTest::newRow("descriptor received") << "接收文件描述信息"
                                             << "" << running;
        QTest::newRow("response sent") << "接收文件描述符响应"
                                       << "" << running;
        QTest::newRow("receiving") << "正在接收中"
                                   << "" << running;
        QTest::newRow("tail written") << "文件接收完毕" << kEnd << running;
        QTest::newRow("verifying") << "正在校验文件" << kEnd << running;
        QTest::newRow("received") << "接收完毕" << kEnd << done;
        QTest::newRow("unknown path") << "未知接收路径|关闭连接" << kEnd << refused;
        QTest::newRow("path too long") << "文件所需路径超出范围|关闭连接" << kEnd << refused;
        QTest::newRow("connection lost") << "Socket断连" << kEnd << failed;
        QTest::newRow("response not sent") << "文件描述符响应发送失败" << kEnd << failed;
        QTest::newRow("fatal") << "发生了致命错误" << kEnd << failed;
        QTest::newRow("resources") << "系统资源不足" << kEnd << failed;
        QTest::newRow("open failed") << "打开文件失败/关闭连接" << kEnd << failed;
        QTest::newRow("write failed") << "写入文件时发生错误，检查内存是否充足" << kEnd << failed;
        QTest::newRow("tail write failed")
            << "写入文件时发生错误，检查内存是否充足 " << kEnd << failed;
        QTest::newRow("unexpected") << "发生意外错误" << kEnd << failed;
        QTest::newRow("digest wrong") << "文件校验错误|稍后重传" << kEnd << failed;
        // Texts the table does not know: by the end time.
        QTest::newRow("open error with number") << "文件打开失败/错误代码7" << kEnd << failed;
        QTest::newRow("write error with number") << "错误代码 9" << kEnd << failed;
        QTest::newRow("unknown, no end") << "新的状态"
                                         << "" << running;
        QTest::newRow("unknown, ended") << "新的状态" << kEnd << failed;
        QTest::newRow("nothing reported yet") << ""
                                              << "" << running;
        // Exact texts only: the sender's row text carries a blank the audit text has not.
        QTest::newRow("audit text, not a row text") << "文件名太长" << kEnd << failed;
    }

    void outcomeOfStatusText()
    {
        QFETCH(QString, status);
        QFETCH(QString, endTime);
        QFETCH(TransferOutcome::Kind, outcome);
        QCOMPARE(TransferOutcome::of(status, endTime), outcome);
    }

    // An audit event of a file: its flag has the first word, its message the rest.
    void outcomeOfEvent_data()
    {
        QTest::addColumn<int>("flag");
        QTest::addColumn<QString>("message");
        QTest::addColumn<TransferOutcome::Kind>("outcome");

        const auto done = TransferOutcome::Done;
        const auto refused = TransferOutcome::Refused;
        const auto failed = TransferOutcome::Failed;
        const auto waiting = TransferOutcome::Waiting;
        QTest::newRow("sent") << 1 << "传输完毕" << done;
        QTest::newRow("received") << 1 << "接收完毕" << done;
        QTest::newRow("success text, failure flag") << 0 << "接收完毕" << failed;
        QTest::newRow("suffix refused") << 0 << "不允许发送的文件类型" << refused;
        QTest::newRow("size refused") << 0 << "文件大小超出文件落地范围" << refused;
        QTest::newRow("name too long, audit text") << 0 << "文件名太长" << refused;
        QTest::newRow("receive path escapes") << 0 << "文件所需路径超出范围" << refused;
        QTest::newRow("no receive rule") << 0 << "未配置接收路径" << refused;
        QTest::newRow("attempt's link fault") << 0 << "链路故障稍错误代码:type 1" << waiting;
        QTest::newRow("row text of a retried attempt")
            << 0 << "接收端文件校验失败/稍后重发(错误代码:15)" << waiting;
        QTest::newRow("round given up") << 0 << "文件多次发送失败：接收方不在线" << failed;
        QTest::newRow("digest wrong at the receiver") << 0 << "文件校验错误" << failed;
        QTest::newRow("user stop") << 0 << "用户停止发送" << failed;
        QTest::newRow("unknown") << 0 << "新的说明" << failed;
    }

    void outcomeOfEvent()
    {
        QFETCH(int, flag);
        QFETCH(QString, message);
        QFETCH(TransferOutcome::Kind, outcome);
        QCOMPARE(TransferOutcome::ofEvent(flag, message), outcome);
    }

    // Every outcome has its own word and colours, and is found again by its word or its name.
    void eachOutcomeHasItsOwnWords()
    {
        QSet<QString> words;
        QSet<quint32> colours;
        for (int kind = 0; kind < TransferOutcome::kKinds; ++kind) {
            const auto outcome = TransferOutcome::Kind(kind);
            words << TransferOutcome::label(outcome) << TransferOutcome::name(outcome);
            colours << TransferOutcome::colour(outcome) << TransferOutcome::barColour(outcome);
            for (const QString &text :
                { TransferOutcome::label(outcome), TransferOutcome::name(outcome) }) {
                TransferOutcome::Kind parsed = TransferOutcome::Kind(-1);
                QVERIFY(TransferOutcome::parse(text, &parsed));
                QCOMPARE(parsed, outcome);
            }
        }
        QCOMPARE(words.size(), 2 * TransferOutcome::kKinds);
        QCOMPARE(colours.size(), 2 * TransferOutcome::kKinds);
        TransferOutcome::Kind parsed;
        QVERIFY(!TransferOutcome::parse(QStringLiteral("已完成"), &parsed));
    }
};

QTEST_GUILESS_MAIN(TestTransferOutcome)
#include "tst_transferoutcome.moc"
