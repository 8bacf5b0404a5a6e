// A file is removed from its send directory only if it is the version that was sent: one written
// anew in place with its old size and times restored, or one renamed over the path, stays.

#include "send/SentFileRemoval.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

FileIdentity identityOf(const QString &path) { return FileIdentity::ofPath(path); }

// What "cp -p" or "rsync --inplace -t" leave: new content of the old size, the old times restored.
bool rewriteKeepingTimes(const QString &path, const QByteArray &content)
{
    struct stat before;
    const QByteArray native = QFile::encodeName(path);
    if (::stat(native.constData(), &before) != 0 || !writeFile(path, content))
        return false;
    const struct timespec times[2] = { before.st_atim, before.st_mtim };
    return ::utimensat(AT_FDCWD, native.constData(), times, 0) == 0;
}

QStringList entries(const QString &dir)
{
    return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
}

} // namespace

class tst_SentFileRemoval : public QObject
{
    Q_OBJECT

private slots:
    void removesOnlyTheSentVersion_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QByteArray>("left"); // the content that stays, empty: none
        QTest::newRow("unchanged") << "" << int(SentFileRemoval::Removed) << QByteArray();
        QTest::newRow("rewritten in place, times restored")
            << "in place" << int(SentFileRemoval::OtherVersion) << QByteArray("second");
        QTest::newRow("replaced by a rename")
            << "rename" << int(SentFileRemoval::OtherVersion) << QByteArray("renamed");
        QTest::newRow("gone") << "remove" << int(SentFileRemoval::OtherVersion) << QByteArray();
    }

    void removesOnlyTheSentVersion()
    {
        QFETCH(QString, change);
        QFETCH(int, outcome);
        QFETCH(QByteArray, left);

        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("report.bin"));
        QVERIFY(writeFile(path, "first!"));
        const FileIdentity sent = identityOf(path);
        QThread::msleep(20); // past the clock tick of the change time
        if (change == "in place") {
            QVERIFY(rewriteKeepingTimes(path, "second"));
            QCOMPARE(identityOf(path).modifiedNs, sent.modifiedNs);
        } else if (change == "rename") {
            const QString fresh = dir.filePath(QStringLiteral(".upload"));
            QVERIFY(writeFile(fresh, "renamed"));
            QVERIFY(
                ::rename(QFile::encodeName(fresh).constData(), QFile::encodeName(path).constData())
                == 0);
        } else if (change == "remove") {
            QVERIFY(QFile::remove(path));
        }

        QCOMPARE(int(SentFileRemoval::remove(QFile::encodeName(path), sent)), outcome);
        // Nothing is left under a name of the removal's own.
        if (left.isEmpty()) {
            QCOMPARE(entries(dir.path()), QStringList());
        } else {
            QCOMPARE(entries(dir.path()), QStringList { QStringLiteral("report.bin") });
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), left);
        }
    }

    // A directory that refuses the removal leaves the file where it is.
    void refusedRemovalLeavesTheFile()
    {
        if (::geteuid() == 0)
            QSKIP("the superuser writes into any directory");
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("kept.bin"));
        QVERIFY(writeFile(path, "data"));
        const FileIdentity sent = identityOf(path);
        QVERIFY(QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        QCOMPARE(SentFileRemoval::remove(QFile::encodeName(path), sent), SentFileRemoval::Failed);
        QVERIFY(QFile::setPermissions(
            dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
        QCOMPARE(entries(dir.path()), QStringList { QStringLiteral("kept.bin") });
    }
};

QTEST_GUILESS_MAIN(tst_SentFileRemoval)
#include "tst_sentfileremoval.moc"
