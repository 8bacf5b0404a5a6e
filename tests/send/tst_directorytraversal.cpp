#include "ScanFixture.h"
#include "send/SendLedger.h"
#include "send/UnsendableFile.h"

#include <QThread>
#include <QtTest>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kTimeFormat = QStringLiteral("yyyy-MM-dd hh:mm:ss");
// A creation time is kept to a clock tick of a few milliseconds: files made further apart than
// this differ in it.
constexpr unsigned long kBirthTickMs = 20;

bool hasBirthTimes(const QString &filePath) { return QFileInfo(filePath).birthTime().isValid(); }

bool append(const QString &filePath, const QByteArray &bytes)
{
    QFile file(filePath);
    return file.open(QIODevice::Append) && file.write(bytes) == bytes.size();
}

// Waits for the start of a second, so that what follows happens within it. File times come from
// a clock that may lag a tick behind.
void waitForANewSecond()
{
    const qint64 second = QDateTime::currentMSecsSinceEpoch() / 1000;
    while (QDateTime::currentMSecsSinceEpoch() / 1000 == second)
        QThread::msleep(1);
    QThread::msleep(kBirthTickMs);
}

void replaceByRename(ScanFixture &scan, const QString &name)
{
    const QString fresh = scan.write(QStringLiteral(".new-version"), 12);
    QVERIFY(::rename(QFile::encodeName(fresh).constData(),
                QFile::encodeName(scan.path(name)).constData())
        == 0);
}

_VKGAPIP_CONF *registerGap(_SENDPATH_LISTDATA &rule)
{
    auto *gap = new _VKGAPIP_CONF;
    copyToField(gap->HostIP, kHostIPSize, "192.0.2.7");
    copyToField(rule.GapIP, kHostIPSize, "192.0.2.7");
    rule.gapConf = gap;
    g_GapInfoList.append(gap);
    return gap;
}

} // namespace

// The walk of one rule's directory, called directly in the test's thread.
class TestDirectoryTraversal : public QObject
{
    Q_OBJECT

private slots:
    void handsOverNewFilesOnce()
    {
        ScanFixture scan;
        QVERIFY(!scan.write(QStringLiteral("a.txt"), 1).isEmpty());
        QVERIFY(!scan.write(QStringLiteral("empty.txt"), 0).isEmpty());
        QVERIFY(!scan.write(QStringLiteral(".hidden"), 3).isEmpty());
        QVERIFY(!scan.write(QStringLiteral("noext"), 2).isEmpty());
        QVERIFY(!scan.write(QStringLiteral("sub/c."), 4).isEmpty());
        QVERIFY(!scan.write(QStringLiteral("sub/deep/b.tar.gz"), 5).isEmpty());
        QVERIFY(!scan.write(QStringLiteral(".hiddendir/d.txt"), 6).isEmpty());
        // A pipe would block a reader that opened it: it is never opened, and its row says why.
        QCOMPARE(mkfifo(QFile::encodeName(scan.path(QStringLiteral("pipe"))).constData(), 0600), 0);
        // Another program still writing a readable file holds it back.
        QFile writer(scan.path(QStringLiteral("writing.log")));
        QVERIFY(writer.open(QIODevice::WriteOnly));
        writer.write("partial");
        writer.flush();
        // The modification time is not the creation time.
        QFile old(scan.path(QStringLiteral("noext")));
        QVERIFY(old.open(QIODevice::ReadWrite));
        QVERIFY(old.setFileTime(
            QDateTime(QDate(2001, 2, 3), QTime(4, 5, 6)), QFileDevice::FileModificationTime));
        old.close();

        DirectoryTraversal traversal;
        scan.collect(traversal);
        // Without a settle time a file goes at the first walk once its writer has closed it; one
        // that another program still writes waits until it is closed.
        QCOMPARE(scan.walk(traversal), 1);
        QCOMPARE(scan.handed.size(), 4);
        writer.close();
        QCOMPARE(scan.walk(traversal), 1);

        // Subdirectories first, each level sorted by name.
        const QStringList expected
            = { QStringLiteral("sub/deep/b.tar.gz"), QStringLiteral("sub/c."),
                  QStringLiteral("a.txt"), QStringLiteral("noext"), QStringLiteral("writing.log") };
        const QList<QString> suffixes = { "gz", "", "txt", "", "log" };
        const QList<qint64> sizes = { 5, 4, 1, 2, 7 };
        QCOMPARE(scan.handed.size(), expected.size());
        for (int i = 0; i < expected.size(); ++i) {
            const _FINDFILEINFO *file = scan.handed.at(i);
            QCOMPARE(file->filePath, scan.rule.SendPath + '/' + expected.at(i));
            QCOMPARE(file->suffix, suffixes.at(i));
            QCOMPARE(file->size, sizes.at(i));
            // Known by path, birth time and inode.
            const FileIdentity now = FileIdentity::ofPath(file->filePath);
            QVERIFY(file->identity.sameVersion(now));
            QCOMPARE(file->fileKey(), (FileKey { file->filePath, now.bornNs, now.inode }));
            if (hasBirthTimes(file->filePath))
                QCOMPARE(
                    file->createdTime, QFileInfo(file->filePath).birthTime().toString(kTimeFormat));
            QCOMPARE(scan.rule.pendingFiles.value(file->fileKey()), file);
        }
        QCOMPARE(scan.rule.pendingFiles.size(), expected.size());

        // Files handed over and not finished are not handed over again; the pipe has one row.
        scan.walkTwice(traversal);
        QCOMPARE(scan.handed.size(), expected.size());
        const QPair<QString, QString> pipeRow { scan.path(QStringLiteral("pipe")),
            QString::fromUtf8(UnsendableReason::kNotRegular) };
        QCOMPARE(scan.unsendable, (QList<QPair<QString, QString>> { pipeRow }));
    }

    // A name is sent as its maker saw it: UTF-8 as it is, a name in the legacy encoding of
    // Chinese Windows (GBK) decoded as GB18030; its bytes stay what every file operation uses. A
    // name neither reads whole is never sent under a name of replacement characters: its row says
    // why, once.
    void namesAreSentAsTheirMakerSawThem()
    {
        ScanFixture scan;
        const QByteArray root = QFile::encodeName(scan.rule.SendPath);
        const QByteArray gbkName("\xd6\xd0\xce\xc4\xb1\xa8\xb8\xe6.txt"); // 中文报告.txt
        // "目录" in GBK would also read as UTF-8 ("Ŀ¼"), and UTF-8 comes first.
        const QByteArray gbkDir("\xb1\xa8\xb8\xe6"); // 报告
        const QByteArray unreadable("\x80\xff\xfe.bin");
        QVERIFY(::mkdir((root + '/' + gbkDir).constData(), 0700) == 0);
        for (const QByteArray &name : { gbkName, gbkDir + '/' + gbkName, unreadable }) {
            const int fd = ::open((root + '/' + name).constData(), O_WRONLY | O_CREAT, 0600);
            QVERIFY(fd >= 0 && ::write(fd, "data", 4) == 4 && ::close(fd) == 0);
        }
        DirectoryTraversal traversal;
        scan.collect(traversal);
        scan.walkTwice(traversal);
        scan.walkTwice(traversal);

        const QString chinese = QStringLiteral("中文报告.txt");
        QCOMPARE(scan.handedPaths(),
            QStringList({ scan.path(QStringLiteral("报告/") + chinese), scan.path(chinese) }));
        QCOMPARE(scan.handed.at(0)->nativePath, root + '/' + gbkDir + '/' + gbkName);
        QCOMPARE(scan.handed.at(1)->nativePath, root + '/' + gbkName);
        QCOMPARE(scan.handed.at(1)->suffix, QStringLiteral("txt"));
        QCOMPARE(scan.unsendable.size(), 1);
        QCOMPARE(
            scan.unsendable.first().second, QString::fromUtf8(UnsendableReason::kNameEncoding));
    }

    // A file still being written would be sent cut short, even when its writer closes it between
    // its writes: it waits until it has been left alone for the settle time.
    void growingFileWaitsUntilItStops()
    {
        ScanFixture scan;
        g_sysbaseconf.settleSeconds = 1;
        const QString filePath = scan.write(QStringLiteral("growing.log"), 1);
        DirectoryTraversal traversal;
        scan.collect(traversal);
        for (int walk = 0; walk < 3; ++walk) {
            scan.walk(traversal);
            QVERIFY(append(filePath, "more"));
        }
        QVERIFY(scan.handed.isEmpty());
        QThread::msleep(1100);
        scan.walkTwice(traversal);
        QCOMPARE(scan.handedPaths(), QStringList { filePath });
        QCOMPARE(scan.handed.first()->size, qint64(13));
    }

    // A file renamed into the directory whole goes at once, whatever the settle time; one written
    // in place waits for it, and so does one written to after it was renamed in.
    void renamedInWholeGoesAtOnce_data()
    {
        QTest::addColumn<bool>("renamed");
        QTest::addColumn<bool>("writtenAfter");
        QTest::addColumn<int>("handed");
        QTest::newRow("renamed in whole") << true << false << 1;
        QTest::newRow("written in place") << false << false << 0;
        QTest::newRow("renamed in, then written to") << true << true << 0;
    }

    void renamedInWholeGoesAtOnce()
    {
        QFETCH(bool, renamed);
        QFETCH(bool, writtenAfter);
        QFETCH(int, handed);

        ScanFixture scan;
        g_sysbaseconf.settleSeconds = 600;
        DirectoryTraversal traversal;
        scan.collect(traversal);
        scan.walk(traversal); // the directory is watched from here on
        const QString filePath = scan.path(QStringLiteral("report.pdf"));
        if (renamed) {
            replaceByRename(scan, QStringLiteral("report.pdf"));
            if (writtenAfter)
                QVERIFY(append(filePath, "more"));
        } else {
            QVERIFY(!scan.write(QStringLiteral("report.pdf"), 12).isEmpty());
        }
        scan.walk(traversal);
        QCOMPARE(scan.handed.size(), handed);
    }

    // Every so many walks the tree's names are listed again, as a safety net. A change whose
    // event came just before must still be looked at, and so must an empty or unreadable file,
    // whose content or permissions may have changed through another link without an event here.
    void safetyNetLosesNoChange_data()
    {
        QTest::addColumn<QString>("change");
        QTest::newRow("empty, then filled") << "filled";
        QTest::newRow("unreadable, then made readable") << "readable";
        QTest::newRow("empty, then filled through a hard link elsewhere") << "link";
    }

    void safetyNetLosesNoChange()
    {
        QFETCH(QString, change);
        constexpr int kSafetyNetWalk = 60;

        ScanFixture scan;
        QTemporaryDir elsewhere;
        const bool unreadable = change == "readable";
        const QString filePath = scan.write(QStringLiteral("late.bin"), unreadable ? 4 : 0);
        const QString otherName = elsewhere.filePath(QStringLiteral("other-name"));
        QVERIFY(::link(QFile::encodeName(filePath).constData(),
                    QFile::encodeName(otherName).constData())
            == 0);
        if (unreadable) {
            QVERIFY(QFile::setPermissions(filePath, QFileDevice::Permissions()));
            if (QFile(filePath).open(QIODevice::ReadOnly))
                QSKIP("this user reads files without read permission");
        }
        DirectoryTraversal traversal;
        scan.collect(traversal);
        for (int walk = 1; walk < kSafetyNetWalk; ++walk)
            scan.walk(traversal);
        QVERIFY(scan.handed.isEmpty());

        if (change == "filled")
            QVERIFY(append(filePath, "data"));
        else if (change == "link")
            QVERIFY(append(otherName, "data"));
        else
            QVERIFY(QFile::setPermissions(filePath, QFileDevice::ReadOwner));
        scan.walk(traversal);
        QCOMPARE(scan.handedPaths(), QStringList { filePath });
        QCOMPARE(scan.handed.first()->size, qint64(4));
    }

    // Names under which files are written before they get their own are never sent while they
    // keep them; once renamed, the file goes at once.
    void temporaryNamesWait_data()
    {
        QTest::addColumn<QString>("name");
        for (const char *name : { "video.mp4.part", "REPORT.TMP", "setup.exe.crdownload",
                 "archive.zip.partial", "~$budget.xlsx", ".~lock.budget.xlsx#" })
            QTest::newRow(name) << QString::fromUtf8(name);
    }

    void temporaryNamesWait()
    {
        QFETCH(QString, name);
        ScanFixture scan;
        g_sysbaseconf.settleSeconds = 600;
        DirectoryTraversal traversal;
        scan.collect(traversal);
        scan.walk(traversal);
        const QString filePath = scan.write(name, 9);
        scan.walkTwice(traversal);
        g_sysbaseconf.settleSeconds = 0;
        scan.walkTwice(traversal);
        QVERIFY(scan.handed.isEmpty());
        QVERIFY(scan.unsendable.isEmpty());
        g_sysbaseconf.settleSeconds = 600;
        QVERIFY(QFile::rename(filePath, scan.path(QStringLiteral("final.bin"))));
        scan.walk(traversal);
        QCOMPARE(scan.handedPaths(), QStringList { scan.path(QStringLiteral("final.bin")) });
    }

    // However the files change in between, no walk hands a file over that is pending or sent.
    void noWalkHandsAFileOverTwice()
    {
        ScanFixture scan;
        const QStringList names = { "a", "b", "d1/c", "d1/d2/e", "d3/f" };
        for (const QString &name : names)
            QVERIFY(!scan.write(name, 8).isEmpty());
        DirectoryTraversal traversal;
        scan.collect(traversal);
        scan.walkTwice(traversal);
        QCOMPARE(scan.handed.size(), names.size());
        scan.finishSending(scan.handed.at(0));
        scan.finishSending(scan.handed.at(3));

        for (int round = 0; round < 4; ++round) {
            for (const QString &name : names) {
                QVERIFY(append(scan.path(name), "x"));
                QFile::setPermissions(scan.path(name),
                    round % 2 ? QFileDevice::ReadOwner | QFileDevice::WriteOwner
                              : QFileDevice::ReadOwner | QFileDevice::WriteOwner
                            | QFileDevice::ReadGroup);
            }
            scan.walkTwice(traversal);
        }
        QStringList paths = scan.handedPaths();
        QCOMPARE(paths.size(), names.size());
        paths.removeDuplicates();
        QCOMPARE(paths.size(), names.size());
    }

    void knownFilesAreNotHandedOverAgain_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<int>("handedAgain");

        QTest::newRow("sent and kept") << "none" << 0;
        // A file being written changes its modification and metadata times, never its key.
        QTest::newRow("sent, then appended to") << "append" << 0;
        QTest::newRow("sent, then replaced by a renamed new version") << "rename" << 1;
    }

    void knownFilesAreNotHandedOverAgain()
    {
        QFETCH(QString, change);
        QFETCH(int, handedAgain);

        ScanFixture scan;
        const QString name = QStringLiteral("report.csv");
        const QString filePath = scan.write(name, 10);
        DirectoryTraversal traversal;
        scan.collect(traversal);
        scan.walkTwice(traversal);
        QCOMPARE(scan.handed.size(), 1);
        _FINDFILEINFO *sent = scan.handed.first();
        scan.finishSending(sent);

        if (change == "append") {
            QVERIFY(append(filePath, "more"));
        } else if (change == "rename") {
            replaceByRename(scan, name);
        }
        scan.walkTwice(traversal);
        scan.walkTwice(traversal);
        QCOMPARE(scan.handed.size(), 1 + handedAgain);
    }

    // The creation time the status shows is kept to the second; the key tells the two apart.
    void recreatedWithinTheSecondIsSentAgain()
    {
        const QString name = QStringLiteral("report.csv");
        bool withinTheSecond = false;
        // A loaded machine may let the second turn before the file is created again: try anew.
        for (int attempt = 0; attempt < 5 && !withinTheSecond; ++attempt) {
            ScanFixture scan;
            waitForANewSecond();
            const QString filePath = scan.write(name, 10);
            if (!hasBirthTimes(filePath))
                QSKIP("this file system keeps no creation times");
            DirectoryTraversal traversal;
            scan.collect(traversal);
            scan.walkTwice(traversal);
            QCOMPARE(scan.handed.size(), 1);
            scan.finishSending(scan.handed.first());
            QVERIFY(QFile::remove(filePath));
            // Past the file system's clock tick, so that the birth times differ.
            QThread::msleep(kBirthTickMs);
            QCOMPARE(scan.write(name, 10), filePath);
            withinTheSecond = QFileInfo(filePath).birthTime().toString(kTimeFormat)
                == scan.handed.first()->createdTime;
            scan.walkTwice(traversal);
            QCOMPARE(scan.handed.size(), 2);
            QCOMPARE(scan.handed.last()->filePath, filePath);
        }
        QVERIFY(withinTheSecond);
    }

    // The path below the send directory goes on the wire, where the receiver takes up to 254
    // bytes: that is what is measured, not the local path, which may be long on its own.
    void pathLengthLimit_data()
    {
        QTest::addColumn<int>("rootLength");
        QTest::addColumn<QString>("relative");
        QTest::addColumn<int>("handed");
        QTest::newRow("a 250-byte name under a 60-character directory")
            << 60 << QString(250, 'n') << 1;
        QTest::newRow("254 bytes below the directory") << 0 << "sub/" + QString(250, 'n') << 1;
        QTest::newRow("255 bytes below the directory") << 0 << QString(255, 'n') << 0;
        QTest::newRow("255 bytes of UTF-8 in 85 characters")
            << 0 << QString(85, QChar(0x4E2D)) << 0;
    }

    void pathLengthLimit()
    {
        QFETCH(int, rootLength);
        QFETCH(QString, relative);
        QFETCH(int, handed);

        ScanFixture scan;
        QString written = relative;
        if (rootLength > 0) {
            const QString padding(rootLength - scan.dir.path().size() - 1, 'd');
            scan.rule.SendPath = scan.path(padding);
            QCOMPARE(scan.rule.SendPath.size(), rootLength);
            written = padding + '/' + relative;
        }
        QVERIFY(!scan.write(written, 1).isEmpty());

        DirectoryTraversal traversal;
        scan.collect(traversal);
        QCOMPARE(scan.walkTwice(traversal), 1);
        scan.walkTwice(traversal);
        QCOMPARE(scan.handed.size(), handed);
        // One row for a file that stays, however many walks see it.
        QCOMPARE(scan.unsendable.size(), 1 - handed);
        if (!handed)
            QCOMPARE(
                scan.unsendable.first().second, QString::fromUtf8(UnsendableReason::kPathTooLong));
    }

    // A link back up the tree would hand the same file over under ever longer paths.
    void linkedDirectoryIsNotEntered()
    {
        ScanFixture scan;
        const QString filePath = scan.write(QStringLiteral("a"), 1);
        QVERIFY(QFile::link(scan.rule.SendPath, scan.path(QStringLiteral("loop"))));

        DirectoryTraversal traversal;
        scan.collect(traversal);
        QCOMPARE(scan.walkTwice(traversal), 1);
        QCOMPARE(scan.handedPaths(), QStringList { filePath });
    }

    void emptyListingPurgesGoneSentFiles_data()
    {
        QTest::addColumn<int>("recorded");
        QTest::addColumn<int>("gone");
        QTest::addColumn<bool>("firstStillPending");
        QTest::addColumn<bool>("stopped");
        QTest::addColumn<int>("left");

        QTest::newRow("5 recorded, all gone") << 5 << 5 << false << false << 0;
        QTest::newRow("4 recorded, all gone") << 4 << 4 << false << false << 4;
        QTest::newRow("6 recorded, 2 gone") << 6 << 2 << false << false << 4;
        // Its worker has put it into sentFiles and still has to take it out of pendingFiles.
        QTest::newRow("5 gone, one still pending") << 5 << 5 << true << false << 1;
        // After a stop such a record is no longer in pendingFiles, yet its worker may run on.
        QTest::newRow("5 gone, rule stopped") << 5 << 5 << false << true << 5;
    }

    void emptyListingPurgesGoneSentFiles()
    {
        QFETCH(int, recorded);
        QFETCH(int, gone);
        QFETCH(bool, firstStillPending);
        QFETCH(bool, stopped);
        QFETCH(int, left);

        ScanFixture scan;
        QTemporaryDir elsewhere;
        for (int i = 0; i < recorded; ++i) {
            auto *file = new _FINDFILEINFO;
            file->filePath = elsewhere.filePath(QString::number(i));
            file->createdTime = QStringLiteral("2026-01-01 00:00:00");
            if (i >= gone)
                QFile(file->filePath).open(QIODevice::WriteOnly);
            scan.rule.sentFiles.insert(file->fileKey(), file);
            if (i == 0 && firstStillPending)
                scan.rule.pendingFiles.insert(file->fileKey(), file);
        }
        scan.rule.stopFlag = stopped;

        DirectoryTraversal traversal;
        QCOMPARE(scan.walk(traversal), stopped ? 0 : 1);
        QCOMPARE(scan.rule.sentFiles.size(), left);
        for (const _FINDFILEINFO *file : qAsConst(scan.rule.sentFiles))
            QVERIFY(!file->filePath.isEmpty()); // still allocated
    }

    // No directory of the tree is ever empty: the purge runs all the same.
    void purgeForgetsDeletedFiles_data()
    {
        QTest::addColumn<bool>("whileWalked");
        QTest::newRow("deleted while the scanner watches") << true;
        QTest::newRow("deleted while sending was off") << false;
    }

    void purgeForgetsDeletedFiles()
    {
        QFETCH(bool, whileWalked);

        ScanFixture scan;
        const QStringList names = { "a/1", "a/2", "b/3", "4", "5", "6" };
        for (const QString &name : names)
            QVERIFY(!scan.write(name, 3).isEmpty());
        {
            DirectoryTraversal traversal;
            scan.collect(traversal);
            scan.walkTwice(traversal);
            QCOMPARE(scan.handed.size(), names.size());
            for (_FINDFILEINFO *file : qAsConst(scan.handed))
                scan.finishSending(file);
            if (whileWalked) {
                for (const char *name : { "a/1", "b/3", "4" })
                    QVERIFY(QFile::remove(scan.path(QLatin1String(name))));
                scan.walk(traversal);
            }
        }
        if (!whileWalked) {
            for (const char *name : { "a/1", "b/3", "4" })
                QVERIFY(QFile::remove(scan.path(QLatin1String(name))));
            DirectoryTraversal restarted;
            scan.walk(restarted);
        }
        QVERIFY(!scan.isSent(scan.path(QStringLiteral("a/1"))));
        QVERIFY(!scan.isSent(scan.path(QStringLiteral("b/3"))));
        QVERIFY(!scan.isSent(scan.path(QStringLiteral("4"))));
        QCOMPARE(scan.rule.sentFiles.size(), 3);
    }

    void stopCutsTheWalkShort_data()
    {
        QTest::addColumn<bool>("stopFirst");
        QTest::addColumn<int>("handed");
        QTest::newRow("stopped before the walk") << true << 0;
        QTest::newRow("stopped at the first hand-over") << false << 1;
    }

    void stopCutsTheWalkShort()
    {
        QFETCH(bool, stopFirst);
        QFETCH(int, handed);

        ScanFixture scan;
        for (const char *name : { "d1/x", "d1/y", "d2/x", "d2/y", "d2/e/x", "x", "y" })
            QVERIFY(!scan.write(QLatin1String(name), 1).isEmpty());
        DirectoryTraversal traversal;
        // The first walk only notes the files, which have not settled; the second hands them
        // over.
        g_sysbaseconf.settleSeconds = 600;
        scan.walk(traversal);
        g_sysbaseconf.settleSeconds = 0;
        scan.rule.stopFlag = stopFirst;
        scan.collect(traversal);
        QObject::connect(
            &traversal, &DirectoryTraversal::insertItem, [&scan] { scan.rule.stopFlag = true; });

        QCOMPARE(scan.walk(traversal), 0);
        QCOMPARE(scan.handed.size(), handed);
        QCOMPARE(scan.rule.pendingFiles.size(), handed);
    }

    void unreadableFileWaitsUntilReadable()
    {
        ScanFixture scan;
        const QString filePath = scan.write(QStringLiteral("locked"), 3);
        QVERIFY(QFile::setPermissions(filePath, QFileDevice::Permissions()));
        if (QFile(filePath).open(QIODevice::ReadOnly))
            QSKIP("this user reads files without read permission");

        DirectoryTraversal traversal;
        scan.collect(traversal);
        scan.walkTwice(traversal);
        QVERIFY(scan.handed.isEmpty());
        QVERIFY(scan.rule.pendingFiles.isEmpty());

        QVERIFY(QFile::setPermissions(filePath, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
        scan.walkTwice(traversal);
        QCOMPARE(scan.handedPaths(), QStringList { filePath });
    }

    // A file a worker gives back is offered again: at once when it changed or was empty when
    // opened, once the gap has been reached again when it could not be reached, after its
    // back-off when a round of attempts failed, at once when the user asks.
    void givenBackFileIsOfferedAgain_data()
    {
        QTest::addColumn<QString>("gapReached");
        QTest::newRow("released") << QString();
        QTest::newRow("gap unreachable, then answers a heartbeat") << "heartbeat";
        QTest::newRow("gap unreachable, then another file goes through it") << "delivery";
        QTest::newRow("round failed, back-off ends") << "back-off";
        QTest::newRow("round failed, the user asks") << "retry now";
    }

    void givenBackFileIsOfferedAgain()
    {
        QFETCH(QString, gapReached);

        ScanFixture scan;
        _VKGAPIP_CONF *gap = registerGap(scan.rule);
        const QString filePath = scan.write(QStringLiteral("report.bin"), 5);
        DirectoryTraversal traversal;
        scan.collect(traversal);
        scan.walkTwice(traversal);
        QCOMPARE(scan.handed.size(), 1);

        const _FINDFILEINFO copy = *scan.handed.first();
        const bool backOff = gapReached == "back-off" || gapReached == "retry now";
        if (gapReached.isEmpty()) {
            SendLedger::release(&scan.rule, copy);
        } else {
            SendLedger::setRetryMinute(gapReached == "back-off" ? 300 : 60000);
            SendLedger::awaitRetry(&scan.rule, copy, !backOff);
            scan.walkTwice(traversal);
            scan.walkTwice(traversal);
            QCOMPARE(scan.handed.size(), 1);
            if (gapReached == "heartbeat")
                ++gap->heartbeatAnswers;
            else if (gapReached == "delivery")
                ++gap->sendFileNum;
            else if (gapReached == "back-off")
                QThread::msleep(400);
            else
                QCOMPARE(
                    SendLedger::retryNow(&scan.rule, copy.fileKey()), SendLedger::Request::Offered);
        }
        scan.walkTwice(traversal);
        // The first record was freed when the worker gave the file back.
        QCOMPARE(scan.handed.size(), 2);
        QCOMPARE(scan.handed.last()->filePath, filePath);
        // The rounds that failed go with the file, so that the next back-off is longer.
        QCOMPARE(scan.handed.last()->failedRounds, gapReached.isEmpty() ? 0 : 1);
        QVERIFY(scan.rule.waiting.isEmpty());
        SendLedger::setRetryMinute(60000);

        g_GapInfoList.removeOne(gap);
        delete gap;
    }

    // The user's stop of a file, whether its worker runs or it waits to be offered again: it is
    // not offered again until it changes or the user asks for it.
    void stoppedFileWaitsForAChangeOrTheUser_data()
    {
        QTest::addColumn<bool>("running");
        QTest::addColumn<bool>("changed");
        QTest::newRow("running, then changed") << true << true;
        QTest::newRow("running, then asked for") << true << false;
        QTest::newRow("waiting, then changed") << false << true;
        QTest::newRow("waiting, then asked for") << false << false;
    }

    void stoppedFileWaitsForAChangeOrTheUser()
    {
        QFETCH(bool, running);
        QFETCH(bool, changed);

        ScanFixture scan;
        const QString filePath = scan.write(QStringLiteral("report.bin"), 5);
        DirectoryTraversal traversal;
        scan.collect(traversal);
        scan.walkTwice(traversal);
        QCOMPARE(scan.handed.size(), 1);
        const _FINDFILEINFO copy = *scan.handed.first();
        const FileKey key = copy.fileKey();
        SendLedger::setRetryMinute(1);
        if (running) {
            QCOMPARE(SendLedger::cancel(&scan.rule, key), SendLedger::Request::Stopping);
            // The worker's copy shares the flag it stops at.
            QVERIFY(copy.cancelled && *copy.cancelled);
            SendLedger::stopped(&scan.rule, copy);
        } else {
            SendLedger::awaitRetry(&scan.rule, copy, false);
            QCOMPARE(SendLedger::cancel(&scan.rule, key), SendLedger::Request::Dropped);
        }
        QThread::msleep(20); // the back-off would have ended
        scan.walkTwice(traversal);
        scan.walkTwice(traversal);
        QCOMPARE(scan.handed.size(), 1);
        QVERIFY(QFile::exists(filePath));

        if (changed)
            QVERIFY(append(filePath, "more"));
        else
            QCOMPARE(SendLedger::retryNow(&scan.rule, key), SendLedger::Request::Offered);
        scan.walkTwice(traversal);
        scan.walkTwice(traversal);
        QCOMPARE(scan.handed.size(), 2);
        QCOMPARE(scan.handed.last()->size, changed ? 9 : 5);
        QVERIFY(scan.rule.held.isEmpty());
        SendLedger::setRetryMinute(60000);
    }

    // A send directory on a mount that goes (a network share, a disk) is not a directory that was
    // emptied or replaced: with sent files kept, no key is forgotten and nothing is sent again
    // when the mount is back, whether it went while the client ran or was not up at its start.
    void mountThatGoesKeepsItsSentFiles_data()
    {
        QTest::addColumn<bool>("restarted");
        QTest::newRow("mount gone while scanning") << false;
        QTest::newRow("client started while the mount is down") << true;
    }

    void mountThatGoesKeepsItsSentFiles()
    {
        QFETCH(bool, restarted);
        ScanFixture scan;
        const QByteArray share = QFile::encodeName(scan.storeDir.filePath(QStringLiteral("share")));
        const QByteArray sendDir = QFile::encodeName(scan.rule.SendPath);
        QVERIFY(QDir().mkpath(QFile::decodeName(share)));
        if (::mount("tmpfs", share.constData(), "tmpfs", 0, "size=1m") != 0)
            QSKIP("mounting needs root");
        const auto bind = [&] {
            return ::mount(share.constData(), sendDir.constData(), nullptr, MS_BIND, nullptr) == 0;
        };
        QVERIFY(bind());
        g_sysbaseconf.ifDelSendFile = true;
        const QString filePath = scan.write(QStringLiteral("kept.bin"), 7);
        {
            DirectoryTraversal traversal;
            scan.collect(traversal);
            scan.walkTwice(traversal);
            QCOMPARE(scan.handedPaths(), QStringList { filePath });
            SendLedger::markSent(&scan.rule, *scan.handed.first());

            QCOMPARE(::umount2(sendDir.constData(), 0), 0);
            if (!restarted) {
                scan.walkTwice(traversal);
                QCOMPARE(int(scan.rule.sendState), 5);
                QVERIFY(scan.isSent(filePath));
                QVERIFY(bind());
                scan.walkTwice(traversal);
            }
        }
        if (restarted) {
            ScanFixture::Restarted again(scan.rule.SendPath);
            DirectoryTraversal traversal;
            scan.collect(traversal);
            traversal.findFile(again.rule.SendPath, &again.rule);
            traversal.findFile(again.rule.SendPath, &again.rule);
            QVERIFY(bind());
            traversal.findFile(again.rule.SendPath, &again.rule);
            traversal.findFile(again.rule.SendPath, &again.rule);
            QCOMPARE(again.rule.sentFiles.size(), 1);
        }
        QCOMPARE(scan.handed.size(), 1);
        QCOMPARE(SentFileStore::instance().load(scan.rule.SendPath).size(), 1);
        ::umount2(sendDir.constData(), 0);
        ::umount2(share.constData(), 0);
        g_sysbaseconf.ifDelSendFile = false;
    }

    // With the keep setting on, the keys of sent files survive a restart of the client and a
    // change of the rule that keeps its directory; the keys of files that are gone do not.
    void keptFilesAreNotSentAgain_data()
    {
        QTest::addColumn<QString>("directorySuffix");
        QTest::newRow("client restarted") << QString();
        QTest::newRow("rule changed, same directory written with a trailing /") << "/";
    }

    void keptFilesAreNotSentAgain()
    {
        QFETCH(QString, directorySuffix);

        ScanFixture scan;
        const QStringList names = { "a", "b", "sub/c", "sub/d", "e" };
        for (const QString &name : names)
            QVERIFY(!scan.write(name, 4).isEmpty());
        g_sysbaseconf.ifDelSendFile = true;
        {
            DirectoryTraversal traversal;
            scan.collect(traversal);
            scan.walkTwice(traversal);
            QCOMPARE(scan.handed.size(), names.size());
            for (_FINDFILEINFO *file : qAsConst(scan.handed))
                SendLedger::markSent(&scan.rule, *file);
        }
        g_sysbaseconf.ifDelSendFile = false;
        QVERIFY(QFile::remove(scan.path(QStringLiteral("sub/c"))));
        const QString added = scan.write(QStringLiteral("f"), 4);

        // A fresh rule record over the same directory, as after a restart.
        ScanFixture::Restarted restarted(scan.rule.SendPath + directorySuffix);
        DirectoryTraversal traversal;
        QList<_FINDFILEINFO *> handed;
        QObject::connect(&traversal, &DirectoryTraversal::insertItem,
            [&handed](_FINDFILEINFO *file, _SENDPATH_LISTDATA *) {
                handed.append(file);
                SendSlots::giveBack();
            });
        traversal.findFile(restarted.rule.SendPath, &restarted.rule);
        traversal.findFile(restarted.rule.SendPath, &restarted.rule);
        QCOMPARE(handed.size(), 1);
        QCOMPARE(handed.first()->filePath, added);

        // The key of the deleted file is forgotten, in memory and in the store.
        const QVector<FileKey> stored = SentFileStore::instance().load(scan.rule.SendPath);
        QCOMPARE(stored.size(), names.size() - 1);
        for (const FileKey &key : stored)
            QVERIFY(!key.path.endsWith(QLatin1String("sub/c")));
        QCOMPARE(restarted.rule.sentFiles.size(), names.size() - 1);
    }

    void storeIsOwnerOnly()
    {
        ScanFixture scan;
        QVERIFY(!scan.write(QStringLiteral("a"), 1).isEmpty());
        g_sysbaseconf.ifDelSendFile = true;
        DirectoryTraversal traversal;
        scan.collect(traversal);
        scan.walkTwice(traversal);
        QCOMPARE(scan.handed.size(), 1);
        SendLedger::markSent(&scan.rule, *scan.handed.first());
        g_sysbaseconf.ifDelSendFile = false;

        const QStringList files = QDir(scan.storeDir.path()).entryList(QDir::Files);
        QVERIFY(files.contains(QStringLiteral("sentfiles.db")));
        for (const QString &name : files) {
            struct stat status;
            QCOMPARE(
                ::stat(QFile::encodeName(scan.storeDir.filePath(name)).constData(), &status), 0);
            QCOMPARE(status.st_mode & 0777, mode_t(0600));
        }
    }

    // A store of sent keys that cannot be read whole is set aside and the user is told, once; no
    // partial set of keys holds files back, and a fresh store takes the keys from then on.
    void damagedStoreIsSetAsideAndTold_data()
    {
        QTest::addColumn<bool>("inTheMiddle");
        QTest::newRow("not a database") << false;
        QTest::newRow("damaged in the middle") << true;
    }

    void damagedStoreIsSetAsideAndTold()
    {
        QFETCH(bool, inTheMiddle);
        ScanFixture scan;
        const QString database = scan.storeDir.filePath(QStringLiteral("sentfiles.db"));
        if (inTheMiddle) {
            for (int i = 0; i < 3000; ++i)
                SentFileStore::instance().add(
                    { scan.path(QStringLiteral("old-%1").arg(i)), 1, quint64(i) + 1 });
            SentFileStore::instance().setLocation(database); // closes it
        }
        QFile file(database);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.seek(inTheMiddle ? 16384 : 0));
        QVERIFY(file.write(QByteArray(inTheMiddle ? 32768 : 4096, '\x5a')) > 0);
        file.close();
        QStringList told;
        SentFileStore::instance().setReporter([&told](const QString &text) { told << text; });
        g_sysbaseconf.ifDelSendFile = true;
        QVERIFY(!scan.write(QStringLiteral("a.bin"), 3).isEmpty());

        DirectoryTraversal traversal;
        scan.collect(traversal);
        scan.walkTwice(traversal);
        QCOMPARE(scan.handed.size(), 1);
        QVERIFY(QFile::exists(database + QStringLiteral(".damaged")));
        QCOMPARE(told.size(), 1);
        QVERIFY(told.first().contains(database + QStringLiteral(".damaged")));
        SendLedger::markSent(&scan.rule, *scan.handed.first());
        QCOMPARE(SentFileStore::instance().load(scan.rule.SendPath).size(), 1);
        QCOMPARE(told.size(), 1);

        SentFileStore::instance().setReporter({});
        g_sysbaseconf.ifDelSendFile = false;
    }

    void scanEndsWithoutWork()
    {
        DirectoryTraversal traversal;
        _SENDPATH_LISTDATA rule;
        rule.SendPath = QStringLiteral("/nonexistent/send/dir");
        QCOMPARE(traversal.findFile(rule.SendPath, &rule), 0);
        // No send rules: the scan loop returns at once.
        QVERIFY(g_SendPathList.isEmpty());
        traversal.checkSendPath();
    }
};

QTEST_GUILESS_MAIN(TestDirectoryTraversal)
#include "tst_directorytraversal.moc"
