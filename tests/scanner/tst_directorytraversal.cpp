#include "ScanFixture.h"

#include <QtTest>
#include <sys/stat.h>

namespace {

const QString kTimeFormat = QStringLiteral("yyyy-MM-dd hh:mm:ss");

bool hasBirthTimes(const QString &filePath) { return QFileInfo(filePath).birthTime().isValid(); }

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
        // A pipe would block the probe that opens each file: it must not be listed at all.
        QCOMPARE(mkfifo(QFile::encodeName(scan.path(QStringLiteral("pipe"))).constData(), 0600), 0);
        // Another program still writing a readable file does not hold it back.
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
        // A file is handed over once a second walk found it unchanged.
        QCOMPARE(traversal.findFile(scan.rule.SendPath, &scan.rule), 1);
        QVERIFY(scan.handed.isEmpty());
        QCOMPARE(traversal.findFile(scan.rule.SendPath, &scan.rule), 1);

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
            const QFileInfo info(file->filePath);
            const QDateTime created
                = info.birthTime().isValid() ? info.birthTime() : info.metadataChangeTime();
            QCOMPARE(file->createdTime, created.toString(kTimeFormat));
            QCOMPARE(scan.rule.pendingFiles.value(file->filePath + file->createdTime), file);
        }
        QCOMPARE(scan.rule.pendingFiles.size(), expected.size());
        QCOMPARE(scan.rule.sendState.load(), 2);

        // Files handed over and not finished are not handed over again.
        QCOMPARE(traversal.findFile(scan.rule.SendPath, &scan.rule), 1);
        QCOMPARE(scan.handed.size(), expected.size());
    }

    // A file still being written would be sent cut short.
    void growingFileWaitsUntilItStops()
    {
        ScanFixture scan;
        const QString filePath = scan.write(QStringLiteral("growing.log"), 1);
        DirectoryTraversal traversal;
        scan.collect(traversal);
        for (int walk = 0; walk < 3; ++walk) {
            traversal.findFile(scan.rule.SendPath, &scan.rule);
            QFile file(filePath);
            QVERIFY(file.open(QIODevice::Append));
            QCOMPARE(file.write("more"), qint64(4));
        }
        QVERIFY(scan.handed.isEmpty());
        scan.walkTwice(traversal);
        QCOMPARE(scan.handedPaths(), QStringList { filePath });
        QCOMPARE(scan.handed.first()->size, qint64(13));
    }

    void knownFilesAreNotHandedOverAgain_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<int>("handedAgain");

        QTest::newRow("sent and kept") << "none" << 0;
        // A file being written changes its modification and metadata times, never its identity.
        QTest::newRow("sent, then appended to") << "append" << 0;
        QTest::newRow("sent, deleted and created again") << "recreate" << 1;
    }

    void knownFilesAreNotHandedOverAgain()
    {
        QFETCH(QString, change);
        QFETCH(int, handedAgain);

        ScanFixture scan;
        const QString name = QStringLiteral("report.csv");
        const QString filePath = scan.write(name, 10);
        if (!hasBirthTimes(filePath) && change != "none")
            QSKIP("this file system keeps no creation times");
        DirectoryTraversal traversal;
        scan.collect(traversal);
        scan.walkTwice(traversal);
        QCOMPARE(scan.handed.size(), 1);
        _FINDFILEINFO *sent = scan.handed.first();
        scan.finishSending(sent);

        const QString createdTime = sent->createdTime;
        if (change == "append") {
            QTRY_VERIFY_WITH_TIMEOUT(
                QDateTime::currentDateTime().toString(kTimeFormat) != createdTime, 10000);
            QFile file(filePath);
            QVERIFY(file.open(QIODevice::Append));
            file.write("more");
        } else if (change == "recreate") {
            QTRY_VERIFY_WITH_TIMEOUT(scan.recreate(name, 10, createdTime), 10000);
        }
        traversal.findFile(scan.rule.SendPath, &scan.rule);
        traversal.findFile(scan.rule.SendPath, &scan.rule);
        QCOMPARE(scan.handed.size(), 1 + handedAgain);
    }

    void pathLengthLimit_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("handed");
        QTest::newRow("259 characters") << 259 << 1;
        QTest::newRow("260 characters") << 260 << 0;
    }

    void pathLengthLimit()
    {
        QFETCH(int, length);
        QFETCH(int, handed);

        ScanFixture scan;
        const int nameLength = length - scan.rule.SendPath.size() - 1;
        QVERIFY(nameLength > 0 && nameLength <= 255);
        QCOMPARE(scan.write(QString(nameLength, 'n'), 1).size(), length);

        DirectoryTraversal traversal;
        scan.collect(traversal);
        QCOMPARE(scan.walkTwice(traversal), 1);
        QCOMPARE(scan.handed.size(), handed);
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
        QCOMPARE(traversal.findFile(scan.rule.SendPath, &scan.rule), 1);
        QCOMPARE(scan.rule.sentFiles.size(), left);
        for (const _FINDFILEINFO *file : qAsConst(scan.rule.sentFiles))
            QVERIFY(!file->filePath.isEmpty()); // still allocated
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
        // The first walk only notes the files; the second hands them over.
        traversal.findFile(scan.rule.SendPath, &scan.rule);
        scan.rule.stopFlag = stopFirst;
        scan.collect(traversal);
        QObject::connect(
            &traversal, &DirectoryTraversal::insertItem, [&scan] { scan.rule.stopFlag = true; });

        QCOMPARE(traversal.findFile(scan.rule.SendPath, &scan.rule), 0);
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
        traversal.findFile(scan.rule.SendPath, &scan.rule);
        QVERIFY(scan.handed.isEmpty());
        QVERIFY(scan.rule.pendingFiles.isEmpty());

        QVERIFY(QFile::setPermissions(filePath, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
        traversal.findFile(scan.rule.SendPath, &scan.rule);
        QCOMPARE(scan.handedPaths(), QStringList { filePath });
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
