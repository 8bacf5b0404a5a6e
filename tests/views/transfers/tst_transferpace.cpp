// The figures of a status row: rates and sizes as the workers write them, read back and shown in
// one family of units, the time left of a running transfer and the average of a finished one.

#include "model/BaseFunction.h"
#include "views/transfers/RateText.h"
#include "views/transfers/TransferPace.h"

#include <QtTest>

namespace {

constexpr double kMiB = 1024.0 * 1024.0;

TransferStateInfo report(const QString &rate, const QString &progress, const QString &size,
    const QString &status, const QString &endTime = QString())
{
    TransferStateInfo info;
    info.setText(TransferStateInfo::Rate, rate);
    info.setText(TransferStateInfo::Progress, progress);
    info.setText(TransferStateInfo::Size, size);
    info.setText(TransferStateInfo::Status, status);
    info.setText(TransferStateInfo::EndTime, endTime);
    return info;
}

} // namespace

class TestTransferPace : public QObject
{
    Q_OBJECT

private slots:
    void rateTextIsRead_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("bytesPerSecond");
        QTest::newRow("bytes") << "512 byte/s" << 512.0;
        QTest::newRow("kilobytes") << "1.5 KB/s" << 1536.0;
        QTest::newRow("megabytes") << "108.516 MB/s" << 108.516 * kMiB;
        QTest::newRow("gigabytes") << "2 GB/s" << 2048.0 * kMiB;
        QTest::newRow("idle sender") << "0 Mbps" << -1.0;
        QTest::newRow("idle receiver") << "0/Kbps" << -1.0;
        QTest::newRow("empty") << "" << -1.0;
        QTest::newRow("no number") << "fast MB/s" << -1.0;
    }

    void rateTextIsRead()
    {
        QFETCH(QString, text);
        QFETCH(double, bytesPerSecond);
        QCOMPARE(RateText::bytesPerSecond(text), bytesPerSecond);
    }

    // Whatever a worker's rate, a running row shows it with two decimals in the same units.
    void runningRateHasFixedPrecision_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        QTest::newRow("six digits") << "108.516 MB/s"
                                    << "108.52 MB/s";
        QTest::newRow("two digits") << "142.53 MB/s"
                                    << "142.53 MB/s";
        QTest::newRow("whole") << "1 KB/s"
                               << "1.00 KB/s";
        QTest::newRow("bytes") << "900 byte/s"
                               << "900 byte/s";
        QTest::newRow("gigabytes") << "1.25 GB/s"
                                   << "1.25 GB/s";
        QTest::newRow("idle") << "0 Mbps"
                              << "0 byte/s";
        QTest::newRow("receiver starting") << "0/Kbps"
                                           << "0 byte/s";
    }

    void runningRateHasFixedPrecision()
    {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        QCOMPARE(RateText::whileRunning(text), shown);
    }

    // Reading what readableRate and calcSize write gives back the figure they were given, to
    // the precision they show: the two stay in step.
    void workersTextsReadBack()
    {
        for (const quint64 rate : { 0ULL, 1023ULL, 1024ULL, 1536ULL, 1048575ULL, 113792614ULL,
                 1073741823ULL, 5368709120ULL }) {
            const double read = RateText::bytesPerSecond(BaseFunction::readableRate(rate));
            QVERIFY2(qAbs(read - double(rate)) <= 1e-5 * double(rate) + 1e-9,
                qPrintable(BaseFunction::readableRate(rate)));
        }
        for (const qint64 size : { 23LL, 1024LL, 1025LL, 3000000LL, 4294967296LL }) {
            const double read = RateText::bytesOfSize(BaseFunction::calcSize(size));
            QVERIFY2(qAbs(read - double(size)) <= 0.005 * double(size),
                qPrintable(BaseFunction::calcSize(size)));
        }
    }

    void timeLeftWhileRunning_data()
    {
        QTest::addColumn<QString>("rate");
        QTest::addColumn<QString>("progress");
        QTest::addColumn<QString>("tip");
        QTest::newRow("half of 10 MB at 1 MB/s") << "1 MB/s"
                                                 << "0.5"
                                                 << "预计剩余 5.0秒";
        QTest::newRow("minutes") << "100 KB/s"
                                 << "0"
                                 << "预计剩余 1分42秒";
        QTest::newRow("rate not known yet") << "0 Mbps"
                                            << "0.25"
                                            << "";
        QTest::newRow("all sent, awaiting confirmation") << "0 Mbps"
                                                         << "1"
                                                         << "";
    }

    void timeLeftWhileRunning()
    {
        QFETCH(QString, rate);
        QFETCH(QString, progress);
        QFETCH(QString, tip);
        TransferPace pace;
        pace.onReport(
            report(rate, progress, QStringLiteral("10.00MB"), QStringLiteral("正在发送中")), 700);
        QCOMPARE(pace.outcome(), TransferOutcome::Running);
        QCOMPARE(pace.rateToolTip(), tip);
    }

    // The average covers the whole transfer, from the row's start to the report that ended it;
    // later reports of the same end do not stretch it.
    void averageOnceDone()
    {
        TransferPace pace;
        pace.onReport(report("0 Mbps", "0", "8.00MB", "文件正在校验中,请稍候 "), 10);
        pace.onReport(report("2 MB/s", "0.5", "8.00MB", "正在发送中"), 2000);
        QVERIFY(pace.rateToolTip().startsWith(QStringLiteral("预计剩余")));
        const QString end = QStringLiteral("2026-12-10 13:21:21");
        pace.onReport(report("0 Mbps", "1", "8.00MB", "文件发送成功 ", end), 4000);
        pace.onReport(report("0 Mbps", "1", "8.00MB", "文件发送成功 ", end), 9000);
        QCOMPARE(pace.outcome(), TransferOutcome::Done);
        QCOMPARE(pace.rateToolTip(), QStringLiteral("平均速率 2.00 MB/s，用时 4.0秒"));
        QCOMPARE(pace.shownRate(), QStringLiteral("2.00 MB/s"));

        TransferPace quick;
        quick.onReport(report("0 Mbps", "1", "1.00MB", "接收完毕", end), 0);
        QCOMPARE(quick.rateToolTip(), QStringLiteral("平均速率 1000.00 MB/s，用时 0.0秒"));
    }

    void noAverageForRowsThatDidNotArrive_data()
    {
        QTest::addColumn<QString>("status");
        QTest::newRow("refused") << "文件存在过滤关键字";
        QTest::newRow("failed") << "文件多次发送失败/暂停发送";
    }

    void noAverageForRowsThatDidNotArrive()
    {
        QFETCH(QString, status);
        TransferPace pace;
        pace.onReport(report("0 Mbps", "1", "8.00MB", status, "2026-12-10 13:21:21"), 3000);
        QVERIFY(pace.outcome() != TransferOutcome::Running);
        QCOMPARE(pace.rateToolTip(), QString());
        QCOMPARE(pace.shownRate(), QStringLiteral("0 byte/s"));
    }

    void durationReads_data()
    {
        QTest::addColumn<qint64>("ms");
        QTest::addColumn<QString>("text");
        QTest::newRow("under a second") << qint64(400) << "0.4秒";
        QTest::newRow("seconds with tenths") << qint64(9549) << "9.5秒";
        QTest::newRow("seconds") << qint64(42000) << "42秒";
        QTest::newRow("just under a minute") << qint64(59999) << "59秒";
        QTest::newRow("minutes") << qint64(185000) << "3分05秒";
        QTest::newRow("hours") << qint64(3720000) << "1小时02分";
    }

    void durationReads()
    {
        QFETCH(qint64, ms);
        QFETCH(QString, text);
        QCOMPARE(TransferPace::duration(ms), text);
    }
};

QTEST_GUILESS_MAIN(TestTransferPace)
#include "tst_transferpace.moc"
