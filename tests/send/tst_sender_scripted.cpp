// One attempt against a scripted gap: answers a real gap seldom gives, and the security filter
// in front of the connection.

#include "ScriptedTransferPeer.h"
#include "SenderFixture.h"
#include "SenderTestSupport.h"
#include "model/BaseFunction.h"
#include "model/Ports.h"
#include "send/SendWorkThread.h"
#include "tools/gapsim/GapWire.h"

#include <QFile>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QtTest>

using SenderTestSupport::auditDetail;
using SenderTestSupport::auditEvents;

Q_DECLARE_METATYPE(PeerScript)

namespace {

QByteArray acceptanceFor(const QByteArray &pathKey, quint64 type = 9)
{
    QByteArray answer = GapWire::packet(type);
    GapWire::putText(answer, 100, pathKey);
    return answer;
}

} // namespace

class tst_SenderScripted : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void oddAnswers_data();
    void oddAnswers();
    void securityFilterGatesSending_data();
    void securityFilterGatesSending();
    void stopEndsRetryPause();
    void aRetriedRowStartsClean();

private:
    QTemporaryDir m_auditDir;
};

void tst_SenderScripted::initTestCase()
{
    QVERIFY(SenderTestSupport::claimGapPort() != 0);
    SenderTestSupport::useAuditDatabase(m_auditDir.path());
}

void tst_SenderScripted::init()
{
    g_sysbaseconf.ifDelSendFile = false;
    g_sysbaseconf.isForceVisit = false;
    g_sysbaseconf.keyFlag = false;
}

void tst_SenderScripted::oddAnswers_data()
{
    QTest::addColumn<PeerScript>("script");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("audit"); // empty: no audit event
    QTest::addColumn<int>("sendState");
    QTest::addColumn<bool>("flagged"); // the digest is recorded in the gap's flaggedDigests

    const QByteArray typeOk = ScriptedTransferPeer::reply(3);
    PeerScript script = PeerScript::gap();

    script.afterDescriptor = { ScriptedTransferPeer::reply(7), QByteArray() };
    QTest::newRow("type check answered 7") << script << 1 << "文件类型判断出错"
                                           << "文件类型判断出错" << 0 << false;

    QByteArray wideNine = acceptanceFor("docs");
    wideNine[3] = 1;
    script.afterDescriptor = { typeOk, wideNine };
    QTest::newRow("9 with upper bytes set")
        << script << 1 << "未知的接收文件描述符/稍后重传" << QString() << 1 << false;

    script.afterDescriptor = { typeOk, ScriptedTransferPeer::reply(404) };
    QTest::newRow("descriptor response 404")
        << script << 1 << "设备掉线请检查网络 " << QString() << 0 << false;

    script.afterDescriptor = { typeOk, acceptanceFor("other") };
    QTest::newRow("acceptance for another rule") << script << 1 << "校验文件元数据：发送路径不一致"
                                                 << "校验发送路径不一致" << 1 << false;

    script = PeerScript::gap();
    script.closeAfterEnd = true;
    QTest::newRow("closed instead of confirming")
        << script << 1 << "确认报文接收失败/稍后重发(错误代码:05)"
        << "链路故障稍错误代码:type 5" << 1 << false;

    script = PeerScript::gap();
    script.afterEnd = { typeOk, acceptanceFor("docs"), ScriptedTransferPeer::reply(5) };
    QTest::newRow("unlisted answers before 5") << script << 2 << "文件发送成功 "
                                               << "传输完毕" << 0 << false;

    script = PeerScript::gap();
    script.afterDescriptor << ScriptedTransferPeer::reply(11);
    QTest::newRow("virus verdict during the data") << script << 3 << "文件存在病毒"
                                                   << "文件存在病毒" << 0 << true;

    script = PeerScript::gap();
    script.afterEnd = { ScriptedTransferPeer::reply(11) };
    QTest::newRow("virus verdict as confirmation") << script << 3 << "文件存在病毒"
                                                   << "文件存在病毒" << 0 << false;
}

void tst_SenderScripted::oddAnswers()
{
    QFETCH(PeerScript, script);
    QFETCH(int, code);
    QFETCH(QString, status);
    QFETCH(QString, audit);
    QFETCH(int, sendState);
    QFETCH(bool, flagged);

    ScriptedTransferPeer gap(script, Ports::gapPort());
    QVERIFY(gap.startListening());
    QTemporaryDir dir;
    SenderFixture fixture(dir.path());
    const QString name
        = QStringLiteral("odd-%1.bin").arg(QTest::currentDataTag()).replace(' ', '-');
    const QByteArray content = patternedContent(3000);
    _FINDFILEINFO *record = fixture.addFile(name, content);
    QVERIFY(record);
    SendWorkThread worker(&fixture.rule, record);
    worker.setAutoDelete(false);
    TransferStateInfo info;

    QCOMPARE(worker.sendThisFile(*record, &fixture.rule, info), code);
    QCOMPARE(info.at(7), status);
    QCOMPARE(int(fixture.rule.sendState), sendState);
    // Only a confirmed send removes the file within the attempt; refusals are the loop's to delete.
    QCOMPARE(QFile::exists(record->filePath), code != 2);
    QCOMPARE(fixture.isSent(record), code == 2);
    QCOMPARE(fixture.gap.flaggedDigests.size(), flagged ? 1 : 0);

    const QList<QPair<int, QString>> events = auditEvents(name);
    if (audit.isEmpty()) {
        QVERIFY(events.isEmpty());
    } else {
        QCOMPARE(events.size(), 1);
        QCOMPARE(events.first().first, code == 2 ? 1 : 0);
        QCOMPARE(events.first().second, auditDetail(name, audit));
    }
    gap.stop();
    QCOMPARE(gap.transfers().size(), 1);
}

void tst_SenderScripted::securityFilterGatesSending_data()
{
    QTest::addColumn<bool>("forceVisit");
    QTest::newRow("mandatory access control on") << true;
    QTest::newRow("mandatory access control off") << false;
}

// A label stricter than the sending user: refused before connecting when the filter is on,
// sent like any other file when it is off.
void tst_SenderScripted::securityFilterGatesSending()
{
    QFETCH(bool, forceVisit);
    g_sysbaseconf.isForceVisit = forceVisit;

    ScriptedTransferPeer gap(PeerScript::gap(), Ports::gapPort());
    QVERIFY(gap.startListening());
    QTemporaryDir dir;
    SenderFixture fixture(dir.path());
    fixture.gap.rightLevel = 2;
    char mark[BaseFunction::kCodecBufferSize] = "hello";
    char word[BaseFunction::kCodecBufferSize] = "high";
    const QByteArray content = patternedContent(5000) + QByteArray(BaseFunction::crypPasswd(mark))
        + QByteArray(BaseFunction::crypPasswd(word));
    _FINDFILEINFO *record = fixture.addFile(QStringLiteral("labelled.doc"), content);
    QVERIFY(record);
    SendWorkThread worker(&fixture.rule, record);
    worker.setAutoDelete(false);
    fixture.watch(&worker);

    worker.sendFileProc(&fixture.rule);
    gap.stop();
    QVERIFY(!fixture.rows.isEmpty());
    if (forceVisit) {
        QCOMPARE(fixture.rows.last().at(7),
            QStringLiteral("传输失败,发送方没有权限发送该文件，已从发送目录删除"));
        QCOMPARE(gap.descriptorsSeen(), 0);
        QVERIFY(!QFile::exists(record->filePath));
        // Refused and removed: the bookkeeping keeps nothing of it.
        QVERIFY(!fixture.isPending(record));
    } else {
        QCOMPARE(fixture.rows.last().at(7), QStringLiteral("文件发送成功 "));
        QCOMPARE(gap.transfers().size(), 1);
        QCOMPARE(gap.transfers().first().content, content);
        QVERIFY(fixture.isSent(record));
    }
}

// A stop during the pause before the next attempt ends the worker without another attempt.
void tst_SenderScripted::stopEndsRetryPause()
{
    qRegisterMetaType<TransferStateInfo>();
    PeerScript script = PeerScript::gap();
    script.afterDescriptor = { ScriptedTransferPeer::reply(7) };
    ScriptedTransferPeer gap(script, Ports::gapPort());
    QVERIFY(gap.startListening());
    QTemporaryDir dir;
    SenderFixture fixture(dir.path());
    _FINDFILEINFO *record = fixture.addFile(QStringLiteral("paused.bin"), patternedContent(2000));
    QVERIFY(record);
    QThreadPool pool;
    fixture.startWorker(record, pool);

    QTRY_VERIFY_WITH_TIMEOUT(
        !fixture.rows.isEmpty() && fixture.rows.last().at(7) == QStringLiteral("文件类型判断出错"),
        60000);
    fixture.rule.stopFlag = true;
    QTRY_VERIFY_WITH_TIMEOUT(pool.waitForDone(10), 60000);
    QTRY_COMPARE(fixture.rows.last().at(7), QStringLiteral("用户停止发送"));
    gap.stop();
    QCOMPARE(gap.descriptorsSeen(), 1);
    QVERIFY(QFile::exists(record->filePath));
    QVERIFY(fixture.isPending(record));
}

// The row of a new attempt shows no end time and no progress of the attempt before it.
void tst_SenderScripted::aRetriedRowStartsClean()
{
    qRegisterMetaType<TransferStateInfo>();
    PeerScript script = PeerScript::gap();
    script.closeAfterEnd = true;
    ScriptedTransferPeer gap(script, Ports::gapPort());
    QVERIFY(gap.startListening());
    QTemporaryDir dir;
    SenderFixture fixture(dir.path());
    _FINDFILEINFO *record = fixture.addFile(QStringLiteral("again.bin"), patternedContent(5000));
    QVERIFY(record);
    QThreadPool pool;
    fixture.startWorker(record, pool);

    const QString checking = QStringLiteral("文件正在校验中,请稍候 ");
    const auto secondAttempt = [&] {
        int attempts = 0;
        for (int i = 0; i < fixture.rows.size(); ++i) {
            if (fixture.rows.at(i).at(7) == checking && ++attempts == 2)
                return i;
        }
        return -1;
    };
    QTRY_VERIFY_WITH_TIMEOUT(secondAttempt() > 0, 60000);
    fixture.rule.stopFlag = true;
    QTRY_VERIFY_WITH_TIMEOUT(pool.waitForDone(10), 60000);
    gap.stop();
    const TransferStateInfo failed = fixture.rows.at(secondAttempt() - 1);
    QCOMPARE(failed.at(7), QStringLiteral("确认报文接收失败/稍后重发(错误代码:05)"));
    QVERIFY(!failed.at(6).isEmpty());
    QCOMPARE(failed.at(2), QStringLiteral("1"));
    const TransferStateInfo retried = fixture.rows.at(secondAttempt());
    QCOMPARE(retried.at(6), QString());
    QCOMPARE(retried.at(2), QString());
}

QTEST_GUILESS_MAIN(tst_SenderScripted)
#include "tst_sender_scripted.moc"
