// What the tray tells of transfers that ended, and how seldom, on a clock the test moves.

#include "app/TransferNotifier.h"

#include <QSignalSpy>
#include <QtTest>

namespace {

constexpr int kSendPage = 2;
constexpr int kRecvPage = 4;
const QString kNoStatus;

struct Told {
    QString title;
    QString text;
    bool warning;
    int page;
};

QList<Told> toldBy(const QSignalSpy &spy)
{
    QList<Told> told;
    for (const QList<QVariant> &message : spy)
        told.append({ message.at(0).toString(), message.at(1).toString(), message.at(2).toBool(),
            message.at(3).toInt() });
    return told;
}

} // namespace

class TestTransferNotifier : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_nowMs = 1000;
        m_notifier = std::make_unique<TransferNotifier>();
        m_notifier->setClock([this] { return m_nowMs; });
        m_spy = std::make_unique<QSignalSpy>(m_notifier.get(), &TransferNotifier::notify);
    }

    // A burst of 300 files in two seconds is one message, once the burst is over.
    void burstIsOneMessage()
    {
        for (int file = 0; file < 300; ++file) {
            m_nowMs += 2000 / 300;
            received(QStringLiteral("f%1.bin").arg(file));
            m_notifier->flushIfDue();
        }
        QCOMPARE(m_spy->count(), 0);
        m_nowMs += TransferNotifier::kQuietMs;
        m_notifier->flushIfDue();
        QCOMPARE(m_spy->count(), 1);
        const Told told = toldBy(*m_spy).first();
        QCOMPARE(told.text, QStringLiteral("已接收 300 个文件"));
        QCOMPARE(told.title, QStringLiteral("文件已接收"));
        QVERIFY(!told.warning);
        QCOMPARE(told.page, kRecvPage);
        // Nothing more to tell.
        m_nowMs += TransferNotifier::kLongestWaitMs;
        m_notifier->flushIfDue();
        QCOMPARE(m_spy->count(), 1);
    }

    // A steady stream is told at least every longest wait, never more often than its bursts.
    void steadyStreamIsToldNowAndThen()
    {
        for (int second = 0; second < 95; ++second) {
            m_nowMs += 1000;
            received(QStringLiteral("s%1.bin").arg(second));
            m_notifier->flushIfDue();
        }
        QCOMPARE(m_spy->count(), 3);
        QCOMPARE(toldBy(*m_spy).first().text, QStringLiteral("已接收 31 个文件"));
    }

    // One message tells what went wrong first, and leads to the page of it.
    void mixedBurstTellsFailuresFirst()
    {
        received(QStringLiteral("a.txt"));
        m_notifier->onOutcome(kRecvPage, false, TransferOutcome::Refused, "x.doc", kNoStatus);
        m_notifier->onOutcome(kSendPage, true, TransferOutcome::Waiting, "report.pdf",
            QStringLiteral("等待重发 14:36（接收方不在线）"));
        m_notifier->onOutcome(kSendPage, true, TransferOutcome::Refused, "setup.exe", kNoStatus);
        received(QStringLiteral("b.txt"));
        m_nowMs += TransferNotifier::kQuietMs;
        m_notifier->flushIfDue();
        QCOMPARE(m_spy->count(), 1);
        const Told told = toldBy(*m_spy).first();
        QCOMPARE(told.title, QStringLiteral("文件传输"));
        QCOMPARE(told.text, QStringLiteral("发送失败 report.pdf\n已拒绝 2 个文件\n已接收 2 个文件"));
        QVERIFY(told.warning);
        QCOMPARE(told.page, kSendPage);
    }

    // Not told: what the user looks at, what the user stopped, a running or failed receive, and
    // anything while switched off.
    void quietWhenNothingNeedsTelling()
    {
        m_notifier->setPageSeen([](int page) { return page == kRecvPage; });
        received(QStringLiteral("seen.txt"));
        m_notifier->onOutcome(kSendPage, true, TransferOutcome::Failed, "stopped.bin",
            QStringLiteral("用户停止发送 "));
        m_notifier->onOutcome(kRecvPage, false, TransferOutcome::Failed, "broken.bin",
            QStringLiteral("文件校验错误|稍后重传"));
        m_notifier->onOutcome(kSendPage, true, TransferOutcome::Running, "again.bin", kNoStatus);
        m_notifier->setEnabled(false);
        m_notifier->onOutcome(kSendPage, true, TransferOutcome::Refused, "off.exe", kNoStatus);
        m_nowMs += TransferNotifier::kLongestWaitMs;
        m_notifier->flushIfDue();
        QCOMPARE(m_spy->count(), 0);
    }

    // A file that fails round after round is told once, and again only after it was sent.
    void repeatedFailureIsToldOnce()
    {
        const QString waiting = QStringLiteral("等待重发 14:36（接收方不在线）");
        for (int round = 0; round < 3; ++round) {
            m_notifier->onOutcome(kSendPage, true, TransferOutcome::Running, "a.bin", kNoStatus);
            m_notifier->onOutcome(kSendPage, true, TransferOutcome::Waiting, "a.bin", waiting);
            m_nowMs += TransferNotifier::kQuietMs;
            m_notifier->flushIfDue();
        }
        QCOMPARE(m_spy->count(), 1);
        m_notifier->onOutcome(kSendPage, true, TransferOutcome::Done, "a.bin", kNoStatus);
        m_notifier->onOutcome(kSendPage, true, TransferOutcome::Waiting, "a.bin", waiting);
        m_nowMs += TransferNotifier::kQuietMs;
        m_notifier->flushIfDue();
        QCOMPARE(m_spy->count(), 2);
    }

private:
    void received(const QString &name)
    {
        m_notifier->onOutcome(kRecvPage, false, TransferOutcome::Done, name, kNoStatus);
    }

    qint64 m_nowMs = 0;
    std::unique_ptr<TransferNotifier> m_notifier;
    std::unique_ptr<QSignalSpy> m_spy;
};

QTEST_GUILESS_MAIN(TestTransferNotifier)
#include "tst_transfernotifier.moc"
