// What real producers do to a send directory, against the real scanner (in its thread) and the
// real sending workers (on the pool), through gapsim to a scripted receiving client: every file
// arrives whole, once, under the name its producer gave it, or stays with its reason; none is
// sent cut, sent twice, deleted unsent or stranded.

#include "ScriptedTransferPeer.h"
#include "SenderFixture.h"
#include "SenderTestSupport.h"
#include "model/HandOver.h"
#include "send/Controller.h"
#include "send/SendLedger.h"
#include "send/SendSlots.h"
#include "send/SendWorkThread.h"
#include "send/SentFileStore.h"
#include "support/TestSupport.h"
#include "tools/gapsim/GapsimProcess.h"
#include "views/rules/ConfigurationFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QtTest>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace SenderTestSupport;

namespace {

constexpr int kArrivalWaitMs = 90000;
// Where the descriptor carries the path below the send directory and the path key.
constexpr int kRelativePathOffset = 102;
constexpr int kRelativePathSize = 1024;
constexpr int kPathKeyOffset = 62;
constexpr int kPathKeySize = 40;

QByteArray textAt(const QByteArray &packet, int offset, int size)
{
    const QByteArray field = packet.mid(offset, size);
    const int end = field.indexOf('\0');
    return end < 0 ? field : field.left(end);
}

bool writeAll(const QByteArray &path, const QByteArray &content, int flags = O_TRUNC)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | flags, 0600);
    const bool written = fd >= 0
        && ::write(fd, content.constData(), size_t(content.size())) == ssize_t(content.size());
    return ::close(fd) == 0 && written;
}

// New content of the same size with the old times put back, as "cp -p" (truncating) or
// "rsync --inplace -t" (writing over) leave a file.
bool rewriteKeepingTimes(const QByteArray &path, const QByteArray &content, bool truncate)
{
    struct stat before;
    if (::stat(path.constData(), &before) != 0 || !writeAll(path, content, truncate ? O_TRUNC : 0))
        return false;
    const struct timespec times[2] = { before.st_atim, before.st_mtim };
    return ::utimensat(AT_FDCWD, path.constData(), times, 0) == 0;
}

// The transfers the receiving client confirmed, by path below the send directory.
QMultiMap<QString, QByteArray> arrived(const ScriptedTransferPeer &receiver)
{
    QMultiMap<QString, QByteArray> files;
    for (const PeerTransfer &transfer : receiver.transfers()) {
        if (transfer.ended && transfer.digestMatches)
            files.insert(QString::fromUtf8(
                             textAt(transfer.descriptor, kRelativePathOffset, kRelativePathSize)),
                transfer.content);
    }
    return files;
}

// The scanner and the workers as the main window runs them.
class Sending
{
public:
    Sending()
        : m_controller(new Controller)
    {
        QObject::connect(m_controller.get(), &Controller::insertItem,
            [](_FINDFILEINFO *file, _SENDPATH_LISTDATA *rule) {
                auto *worker = new SendWorkThread(rule, file);
                QObject::connect(worker, &QObject::destroyed, [] { SendSlots::giveBack(); });
                HandOver::release(worker);
                QThreadPool::globalInstance()->start(worker);
            });
        QObject::connect(m_controller.get(), &Controller::unsendable,
            [this](_SENDPATH_LISTDATA *, const QString &filePath, qint64, const QString &reason) {
                unsendable << filePath + QStringLiteral(": ") + reason;
            });
        m_controller->start();
    }
    ~Sending()
    {
        for (_SENDPATH_LISTDATA *rule : g_SendPathList.snapshot())
            Controller::stopRule(rule);
        m_controller->stop();
        m_controller.reset();
        QThreadPool::globalInstance()->waitForDone();
        Controller::releaseRetiredFiles();
    }

    QStringList unsendable;

private:
    std::unique_ptr<Controller> m_controller;
};

// Rules imported as a start brings back the remembered ones, in place of the fixture's rule.
QList<_SENDPATH_LISTDATA *> restoreRules(SenderFixture &fixture, const QString &file,
    const QList<QPair<QString, QByteArray>> &dirsAndKeys)
{
    QList<_SENDPATH_LISTDATA *> written;
    for (const auto &rule : dirsAndKeys) {
        auto *record = new _SENDPATH_LISTDATA;
        record->SendPath = rule.first;
        copyToField(record->SendPathID, kPathIDSize, rule.second);
        copyToField(record->GapIP, kHostIPSize, "127.0.0.1");
        copyToField(record->FromUser, kUserNameSize, "alice");
        copyToField(record->ToUser, kUserNameSize, "bob");
        written << record;
    }
    ConfigurationFile::saveConf(file, { &fixture.gap }, written, {});
    qDeleteAll(written);
    g_SendPathList.removeOne(&fixture.rule);
    ConfigurationFile::reStoreConf(file, ConfigurationFile::Remembered);
    return g_SendPathList.snapshot();
}

} // namespace

class tst_Producers : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        qRegisterMetaType<TransferStateInfo>();
        QVERIFY(claimGapPort() != 0);
        useAuditDatabase(m_storeDir.path());
        SentFileStore::instance().setLocation(m_storeDir.filePath(QStringLiteral("sent.db")));
        g_sysbaseconf.ifDelSendFile = false;
        SendLedger::setRetryMinute(1000);
    }

    void cleanupTestCase() { SendLedger::setRetryMinute(60000); }

    void init() { g_sysbaseconf.settleSeconds = 2; }

    void arriveWholeOnce_data()
    {
        QTest::addColumn<QString>("producer");
        for (const char *producer : { "a writer that pauses 5 s mid-file",
                 "cp -p over it while it is sent", "rsync --inplace -t over it while it is sent",
                 "renamed in whole", "a tree moved in with mv", "a GBK name",
                 "an event lost: filled through a hard link", "the far side offline for a while",
                 "a rule restored while its directory is missing", "a FIFO beside a file",
                 "nested rules of an old rules file",
                 "a 250-byte name in a 60-character send directory" })
            QTest::newRow(producer) << QString::fromLatin1(producer);
    }

    void arriveWholeOnce()
    {
        QFETCH(QString, producer);
        QTemporaryDir dir;
        // A producer that writes over the file while its first transfer is under way does so
        // from the receiving client's thread, at the first data it receives.
        const bool rewrite = producer.contains(QLatin1String("over it while it is sent"));
        const bool truncate = producer.startsWith(QLatin1String("cp"));
        const QByteArray ledger = QFile::encodeName(dir.path()) + "/send/ledger.db";
        const QByteArray second = patternedContent(3 << 20, 3);
        PeerScript script = PeerScript::receiver();
        script.onMoment = [=](int transfer, PeerMoment moment) {
            if (rewrite && transfer == 0 && moment == PeerMoment::FirstData)
                rewriteKeepingTimes(ledger, second, truncate);
        };
        auto receiver = std::make_unique<ScriptedTransferPeer>(script);
        const bool offline = producer.startsWith(QLatin1String("the far side offline"));
        quint16 receiverPort = TestSupport::pickFreePort(QHostAddress(QHostAddress::LocalHost));
        if (!offline) {
            QVERIFY(receiver->startListening());
            receiverPort = receiver->port();
        }
        GapsimProcess gapsim(dir.path());
        QVERIFY(startGapsim(gapsim,
            gapsimConfig(receiverPort, QStringLiteral("\n[path.inner]\nfrom = alice\nto = bob"))));
        SenderFixture fixture(dir.path());
        const QString send = fixture.rule.SendPath;
        const QByteArray sendBytes = QFile::encodeName(send);
        QMultiMap<QString, QByteArray> expected;
        std::unique_ptr<Sending> sending;
        std::thread writer;

        if (producer.startsWith(QLatin1String("a writer that pauses"))) {
            const QByteArray content = patternedContent(600000, 1);
            expected.insert(QStringLiteral("report.dat"), content);
            sending = std::make_unique<Sending>();
            writer = std::thread([path = sendBytes + "/report.dat", content] {
                const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
                const int half = content.size() / 2;
                [[maybe_unused]] ssize_t written = ::write(fd, content.constData(), half);
                std::this_thread::sleep_for(std::chrono::seconds(5));
                written = ::write(fd, content.constData() + half, content.size() - half);
                ::close(fd);
            });
        } else if (rewrite) {
            QCOMPARE(sendBytes + "/ledger.db", ledger);
            QVERIFY(writeAll(ledger, patternedContent(3 << 20, 2)));
            expected.insert(QStringLiteral("ledger.db"), second);
            sending = std::make_unique<Sending>();
        } else if (producer == QLatin1String("renamed in whole")) {
            // Long enough that only the rename can have sent it on its way.
            g_sysbaseconf.settleSeconds = 600;
            sending = std::make_unique<Sending>();
            QTest::qWait(1000);
            const QByteArray content = patternedContent(70000, 4);
            QVERIFY(writeAll(sendBytes + "/.report.pdf.part", content));
            QCOMPARE(::rename(sendBytes + "/.report.pdf.part", sendBytes + "/report.pdf"), 0);
            expected.insert(QStringLiteral("report.pdf"), content);
        } else if (producer == QLatin1String("a tree moved in with mv")) {
            const QByteArray tree = QFile::encodeName(dir.filePath(QStringLiteral("incoming")));
            QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("incoming/sub"))));
            QVERIFY(writeAll(tree + "/a.txt", "alpha"));
            QVERIFY(writeAll(tree + "/sub/b.txt", "beta"));
            sending = std::make_unique<Sending>();
            QTest::qWait(1000);
            QCOMPARE(::rename(tree.constData(), (sendBytes + "/incoming").constData()), 0);
            expected.insert(QStringLiteral("incoming/a.txt"), "alpha");
            expected.insert(QStringLiteral("incoming/sub/b.txt"), "beta");
        } else if (producer == QLatin1String("a GBK name")) {
            QVERIFY(writeAll(sendBytes + "/\xd6\xd0\xce\xc4\xb1\xa8\xb8\xe6.txt", "gbk"));
            expected.insert(QStringLiteral("中文报告.txt"), "gbk");
            sending = std::make_unique<Sending>();
        } else if (producer.startsWith(QLatin1String("an event lost"))) {
            const QByteArray other = QFile::encodeName(dir.filePath(QStringLiteral("other")));
            QVERIFY(writeAll(sendBytes + "/late.bin", QByteArray()));
            QCOMPARE(::link((sendBytes + "/late.bin").constData(), other.constData()), 0);
            sending = std::make_unique<Sending>();
            QTest::qWait(2000); // seen empty
            // No event reaches the send directory: the safety-net listing finds it.
            QVERIFY(writeAll(other, "filled elsewhere", 0));
            expected.insert(QStringLiteral("late.bin"), "filled elsewhere");
        } else if (offline) {
            QVERIFY(writeAll(sendBytes + "/waiting.bin", "for bob"));
            expected.insert(QStringLiteral("waiting.bin"), "for bob");
            sending = std::make_unique<Sending>();
            // A round of attempts ends on 404; the file waits for its back-off.
            QTRY_VERIFY_WITH_TIMEOUT(hasWaitingFiles(fixture.rule), kArrivalWaitMs);
            receiver = std::make_unique<ScriptedTransferPeer>(script, receiverPort);
            QVERIFY(receiver->startListening());
        } else if (producer.startsWith(QLatin1String("a rule restored"))) {
            const QString later = dir.filePath(QStringLiteral("later"));
            const QString rules = dir.filePath(QStringLiteral("rules.vkg"));
            const QList<_SENDPATH_LISTDATA *> restored
                = restoreRules(fixture, rules, { { later, "docs" } });
            QCOMPARE(restored.size(), 1);
            sending = std::make_unique<Sending>();
            QTest::qWait(1500);
            QCOMPARE(int(restored.first()->sendState), 4); // "发送目录不存在"
            // Written again as the remembered rules are, it still holds the rule.
            QVERIFY(ConfigurationFile::saveConf(rules));
            QFile file(rules);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QVERIFY(file.readAll().contains(QFile::encodeName(later)));
            QVERIFY(QDir().mkpath(later));
            QVERIFY(writeAll(QFile::encodeName(later) + "/mounted.txt", "at last"));
            expected.insert(QStringLiteral("mounted.txt"), "at last");
        } else if (producer.startsWith(QLatin1String("a FIFO"))) {
            QCOMPARE(::mkfifo((sendBytes + "/pipe").constData(), 0600), 0);
            QVERIFY(writeAll(sendBytes + "/plain.txt", "plain"));
            expected.insert(QStringLiteral("plain.txt"), "plain");
            sending = std::make_unique<Sending>();
        } else if (producer.startsWith(QLatin1String("nested rules"))) {
            QVERIFY(QDir().mkpath(send + QStringLiteral("/inner/deep")));
            QVERIFY(writeAll(sendBytes + "/a.bin", "outer file"));
            QVERIFY(writeAll(sendBytes + "/inner/b.bin", "inner file"));
            QVERIFY(writeAll(sendBytes + "/inner/deep/c.bin", "deep file"));
            restoreRules(fixture, dir.filePath(QStringLiteral("old.vkg")),
                { { send, "docs" }, { send + QStringLiteral("/inner"), "inner" } });
            QCOMPARE(g_SendPathList.size(), 2);
            expected.insert(QStringLiteral("a.bin"), "outer file");
            expected.insert(QStringLiteral("b.bin"), "inner file");
            expected.insert(QStringLiteral("deep/c.bin"), "deep file");
            sending = std::make_unique<Sending>();
        } else {
            const QString root = dir.path() + '/';
            fixture.rule.SendPath = root + QString(60 - root.size(), 'd');
            QCOMPARE(fixture.rule.SendPath.size(), 60);
            QVERIFY(QDir().mkpath(fixture.rule.SendPath));
            const QString name = QString(246, 'n') + QStringLiteral(".txt");
            QVERIFY(writeAll(QFile::encodeName(fixture.rule.SendPath + '/' + name), "long"));
            expected.insert(name, "long");
            sending = std::make_unique<Sending>();
        }

        QTRY_COMPARE_WITH_TIMEOUT(arrived(*receiver).size(), expected.size(), kArrivalWaitMs);
        QTest::qWait(1500); // nothing more comes
        if (writer.joinable())
            writer.join();
        QCOMPARE(arrived(*receiver), expected);
        if (producer.startsWith(QLatin1String("nested rules"))) {
            for (const PeerTransfer &transfer : receiver->transfers()) {
                const QByteArray path
                    = textAt(transfer.descriptor, kRelativePathOffset, kRelativePathSize);
                QCOMPARE(textAt(transfer.descriptor, kPathKeyOffset, kPathKeySize),
                    QByteArray(path == "a.bin" ? "docs" : "inner"));
            }
        }
        // A FIFO has one row that says why it stays; no other file stays unsent.
        const QStringList unsendable = sending->unsendable;
        sending.reset();
        QCOMPARE(unsendable,
            producer.startsWith(QLatin1String("a FIFO")) ? QStringList { send
                + QStringLiteral("/pipe: 不是普通文件（管道或设备），不能发送") }
                                                         : QStringList());
        receiver->stop();
        for (_SENDPATH_LISTDATA *rule : g_SendPathList.snapshot()) {
            if (rule != &fixture.rule) {
                g_SendPathList.removeOne(rule);
                qDeleteAll(rule->sentFiles);
                delete rule;
            }
        }
    }

private:
    static bool hasWaitingFiles(_SENDPATH_LISTDATA &rule)
    {
        QMutexLocker lock(&sendTaskMutex);
        return !rule.waiting.isEmpty();
    }

    QTemporaryDir m_storeDir;
};

QTEST_GUILESS_MAIN(tst_Producers)
#include "tst_producers.moc"
