// The scanner, the sending workers and the heartbeat together, against gapsim and a scripted
// receiving client over loopback: files dropped while the gap is down are delivered once the
// heartbeat finds the gap again, without sending being restarted.

#include "ScriptedTransferPeer.h"
#include "SenderFixture.h"
#include "SenderTestSupport.h"
#include "gap/SocketTools.h"
#include "model/HandOver.h"
#include "send/Controller.h"
#include "send/SendSlots.h"
#include "send/SendWorkThread.h"
#include "send/SentFileStore.h"
#include "tools/gapsim/GapsimProcess.h"

#include <QFile>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QtTest>
#include <algorithm>
#include <memory>

using namespace SenderTestSupport;

namespace {

constexpr int kDeliveryWaitMs = 120000;

int waitingFiles(_SENDPATH_LISTDATA &rule)
{
    QMutexLocker lock(&sendTaskMutex);
    return rule.waiting.size();
}

} // namespace

class tst_GapReturn : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        qRegisterMetaType<TransferStateInfo>();
        QVERIFY(claimGapPort() != 0);
        useAuditDatabase(m_storeDir.path());
        SentFileStore::instance().setLocation(m_storeDir.filePath(QStringLiteral("sent.db")));
    }

    void filesWaitingForTheGapAreSentOnceItIsBack()
    {
        QTemporaryDir dir;
        ScriptedTransferPeer receiver(PeerScript::receiver());
        QVERIFY(receiver.startListening());
        SenderFixture fixture(dir.path());
        copyToField(fixture.gap.LoginPswd, kUserNameSize, "alice-pass");
        const QByteArray first = patternedContent(3000, 1);
        const QByteArray second = patternedContent(5000, 2);
        for (const auto &file : { qMakePair(QStringLiteral("a.bin"), first),
                 qMakePair(QStringLiteral("b.bin"), second) }) {
            QFile out(fixture.pathOf(file.first));
            QVERIFY(out.open(QIODevice::WriteOnly) && out.write(file.second) == file.second.size());
        }

        // Each file handed over starts a worker, as its transfer item does.
        std::unique_ptr<Controller> controller(new Controller);
        connect(controller.get(), &Controller::insertItem,
            [](_FINDFILEINFO *file, _SENDPATH_LISTDATA *rule) {
                auto *worker = new SendWorkThread(rule, file);
                QObject::connect(worker, &QObject::destroyed, [] { SendSlots::giveBack(); });
                HandOver::release(worker);
                QThreadPool::globalInstance()->start(worker);
            });
        controller->start();

        // Nothing listens on the gap's port: both files are given up for the gap.
        QTRY_COMPARE_WITH_TIMEOUT(waitingFiles(fixture.rule), 2, kDeliveryWaitMs);
        QVERIFY(receiver.transfers().isEmpty());

        GapsimProcess gapsim(dir.path());
        QVERIFY(startGapsim(gapsim, gapsimConfig(receiver.port())));
        SocketTools().gapHeartBeat();
        QVERIFY(fixture.gap.heartbeatAnswers > 0);

        QTRY_COMPARE_WITH_TIMEOUT(receiver.transfers().size(), 2, kDeliveryWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(fixture.pathOf(QStringLiteral("b.bin"))), 30000);
        // Two workers send at once: the files may arrive in either order.
        QList<QByteArray> arrived;
        for (const PeerTransfer &transfer : receiver.transfers())
            arrived << transfer.content;
        std::sort(arrived.begin(), arrived.end(),
            [](const QByteArray &a, const QByteArray &b) { return a.size() < b.size(); });
        QCOMPARE(arrived, (QList<QByteArray> { first, second }));
        QCOMPARE(waitingFiles(fixture.rule), 0);

        Controller::stopRule(&fixture.rule);
        controller->stop();
        controller.reset();
        QThreadPool::globalInstance()->waitForDone();
        Controller::releaseRetiredFiles();
    }

private:
    QTemporaryDir m_storeDir;
};

QTEST_GUILESS_MAIN(tst_GapReturn)
#include "tst_gapreturn.moc"
