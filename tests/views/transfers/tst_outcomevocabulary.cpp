// One vocabulary of outcomes: a status row, the history page and gapaudit's table and CSV give the
// same word and colour for one table of cases.

#include "audit/AuditTestSupport.h"
#include "views/history/HistoryModel.h"
#include "views/transfers/SendStatusView.h"
#include "views/transfers/TransferDelegate.h"
#include "views/transfers/TransferItem.h"

#include <QAbstractButton>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

namespace {

constexpr int kWaitMs = 60000;
const char kEnd[] = "2026-12-10 13:21:21";

// A file's end as a status row says it and as its audit event records it.
struct OutcomeCase {
    const char *name;
    const char *rowStatus;
    const char *endTime;
    const char *category; // null: no event (nothing is recorded while a file runs)
    int flag;
    const char *message;
    TransferOutcome::Kind outcome;
};

const OutcomeCase kCases[] = {
    { "sent", "文件发送成功 ", kEnd, "CLIENT_SEND", 1, "传输完毕", TransferOutcome::Done },
    { "received", "接收完毕", kEnd, "CLIENT_RECV", 1, "接收完毕", TransferOutcome::Done },
    { "keyword", "文件存在过滤关键字", kEnd, "CLIENT_SEND", 0, "文件存在过滤关键字",
        TransferOutcome::Refused },
    { "too large", "文件大小超出文件落地范围", kEnd, "CLIENT_SEND", 0,
        "文件大小超出文件落地范围", TransferOutcome::Refused },
    { "name too long", "文件名太长 ", kEnd, "CLIENT_SEND", 0, "文件名太长",
        TransferOutcome::Refused },
    { "path refused by the receiver", "文件所需路径超出范围|关闭连接", kEnd, "CLIENT_RECV", 0,
        "文件所需路径超出范围", TransferOutcome::Refused },
    { "gave up", "文件多次发送失败/暂停发送", kEnd, "CLIENT_SEND", 0,
        "文件多次发送失败：接收方不在线", TransferOutcome::Failed },
    { "digest wrong", "文件校验错误|稍后重传", kEnd, "CLIENT_RECV", 0, "文件校验错误",
        TransferOutcome::Failed },
    { "waits", "等待重发 14:36（接收方不在线）", kEnd, "CLIENT_SEND", 0,
        "链路故障稍错误代码:type 0", TransferOutcome::Waiting },
    { "running", "正在发送中", "", nullptr, 0, nullptr, TransferOutcome::Running },
};

QString word(TransferOutcome::Kind kind) { return TransferOutcome::label(kind); }

TransferStatusView::Filter filterOf(TransferOutcome::Kind kind)
{
    switch (kind) {
    case TransferOutcome::Done:
        return TransferStatusView::ShowDone;
    case TransferOutcome::Refused:
        return TransferStatusView::ShowRefused;
    case TransferOutcome::Failed:
        return TransferStatusView::ShowFailed;
    default:
        return TransferStatusView::ShowRunning;
    }
}

QByteArray detailOf(const OutcomeCase &c)
{
    return QByteArray("'10.0.0.5', '") + c.name + ".bin', 'bob', '" + c.message + "'";
}

} // namespace

class TestOutcomeVocabulary : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_db = m_dir.filePath("audit.db");
        QVector<AuditTestSupport::StoredEvent> events;
        for (const OutcomeCase &c : kCases) {
            if (c.category)
                events.append({ "2026-12-10T05:21:21.000Z", c.category,
                    QByteArray(c.category) == "CLIENT_SEND" ? "发送" : "接收文件", c.flag,
                    detailOf(c) });
        }
        QString error;
        QVERIFY2(AuditTestSupport::createStore(m_db, events, &error), qPrintable(error));
    }

    // The row's icon, tooltip, bar and filter button.
    void statusRow()
    {
        for (const OutcomeCase &c : kCases) {
            SendStatusView view;
            auto *row = new TransferItem(qintptr(-1));
            view.addRow(row);
            TransferStateInfo info;
            info.setText(TransferStateInfo::FileName, QString::fromUtf8(c.name));
            info.setText(TransferStateInfo::Progress, QStringLiteral("1"));
            info.setText(TransferStateInfo::EndTime, QString::fromUtf8(c.endTime));
            info.setText(TransferStateInfo::Status, QString::fromUtf8(c.rowStatus));
            row->onUpdateRequest(info);
            QCOMPARE(row->outcome(), c.outcome);
            QVERIFY2(row->toolTip(TransferStateInfo::Status).endsWith(word(c.outcome) + "）"),
                c.name);
            const QStyleOptionProgressBar bar
                = TransferDelegate::progressBarOption(QRect(0, 0, 100, 20), "1", row->outcome());
            const bool percent
                = c.outcome == TransferOutcome::Running || c.outcome == TransferOutcome::Done;
            QCOMPARE(bar.text, percent ? QStringLiteral("100%") : word(c.outcome));
            QCOMPARE(TransferDelegate::chunkColour(row->outcome()).rgba(),
                TransferOutcome::barColour(c.outcome));
            view.setFilter(filterOf(c.outcome));
            QVERIFY2(!row->isHidden(), c.name);
            view.updateCounts();
            QVERIFY2(view.filterButton(filterOf(c.outcome))->text().endsWith(" 1"), c.name);
        }
    }

    // The history page's outcome column: the word and its colour.
    void historyRow()
    {
        HistoryModel model;
        model.setDatabase(m_db);
        model.setFilter(AuditFilter());
        QVERIFY(QTest::qWaitFor(
            [&model] { return model.state() == HistoryModel::Loaded && !model.reading(); },
            kWaitMs));
        int checked = 0;
        for (int row = 0; row < model.rowCount(); ++row) {
            const QString file = model.index(row, HistoryModel::File).data().toString();
            for (const OutcomeCase &c : kCases) {
                if (file != QString::fromUtf8(c.name) + ".bin")
                    continue;
                const QModelIndex outcome = model.index(row, HistoryModel::Outcome);
                QCOMPARE(outcome.data().toString(), word(c.outcome));
                QCOMPARE(outcome.data(Qt::ForegroundRole).value<QColor>().rgba(),
                    TransferOutcome::colour(c.outcome));
                ++checked;
            }
        }
        QCOMPARE(checked, int(std::size(kCases)) - 1);
    }

    // gapaudit's CSV and table give the word; --outcome lists the events of each outcome.
    void gapaudit()
    {
        const QList<QByteArray> csv = run({ "--format", "csv" }).split('\n');
        const QList<QByteArray> table = run({}).split('\n');
        for (const OutcomeCase &c : kCases) {
            if (!c.category)
                continue;
            const QByteArray file = QByteArray(c.name) + ".bin";
            const auto line = std::find_if(csv.begin(), csv.end(),
                [&file](const QByteArray &l) { return l.contains(',' + file + ','); });
            QVERIFY2(line != csv.end(), c.name);
            QCOMPARE(QString::fromUtf8(line->split(',').at(5)), word(c.outcome));
            const auto tableLine = std::find_if(table.begin(), table.end(),
                [&file](const QByteArray &l) { return l.contains("'" + file + "'"); });
            QVERIFY2(tableLine != table.end(), c.name);
            QVERIFY2(tableLine->contains("  " + word(c.outcome).toUtf8() + "  "), c.name);
            for (const QString &outcome :
                { TransferOutcome::name(c.outcome), word(c.outcome) }) {
                const QByteArray listed = run({ "--outcome", outcome, "--format", "csv" });
                QVERIFY2(listed.contains(',' + file + ','), qPrintable(outcome));
            }
        }
    }

private:
    QByteArray run(const QStringList &arguments)
    {
        return AuditTestSupport::gapaudit(m_db, arguments, "UTC");
    }

    QTemporaryDir m_dir;
    QString m_db;
};

QTEST_MAIN(TestOutcomeVocabulary)
#include "tst_outcomevocabulary.moc"
