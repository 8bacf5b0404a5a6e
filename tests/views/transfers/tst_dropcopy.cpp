// Copying dropped files and folders into a send directory: whole or not at all under their
// names, never over a file that is there, never a part the scanner could take.

#include "receive/RecvPathResolver.h"
#include "views/transfers/DropCopy.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QTemporaryDir>
#include <QtTest>
#include <thread>

namespace {

bool writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Every entry under a directory, hidden ones included, by path relative to it.
QStringList entriesUnder(const QString &directory)
{
    QStringList entries;
    QDirIterator it(directory, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System,
        QDirIterator::Subdirectories);
    while (it.hasNext())
        entries.append(QDir(directory).relativeFilePath(it.next()));
    entries.sort();
    return entries;
}

} // namespace

class TestDropCopy : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_sources = std::make_unique<QTemporaryDir>();
        m_send = std::make_unique<QTemporaryDir>();
    }

    // Files and a folder with its tree arrive under their names, the folder's hidden and empty
    // entries included; a name already there takes the receiver's stamped name; the sources
    // stay as they were.
    void copiesFilesAndFolders()
    {
        QVERIFY(writeFile(source("a.txt"), "alpha"));
        QVERIFY(writeFile(source("报告.doc"), QByteArray(3 * 1024 * 1024 + 5, 'r')));
        QVERIFY(writeFile(source("folder/sub/deep.bin"), "deep"));
        QVERIFY(writeFile(source("folder/.hidden"), "h"));
        QVERIFY(QDir().mkpath(source("folder/empty")));
        QVERIFY(writeFile(m_send->filePath("a.txt"), "older"));

        DropCopy copy({ source("a.txt"), source("报告.doc"), source("folder") }, m_send->path());
        const QDateTime before = QDateTime::currentDateTime();
        const DropCopy::Result result = copy.run();
        const QDateTime after = QDateTime::currentDateTime();

        QVERIFY2(result.error.isEmpty(), qPrintable(result.error));
        QCOMPARE(result.files, 4);
        QVERIFY(result.skipped.isEmpty());
        QCOMPARE(result.placed.size(), 3);
        const QString stamped = result.placed.first();
        QVERIFY2(stamped == stampedA(before) || stamped == stampedA(after), qPrintable(stamped));
        QCOMPARE(result.placed.mid(1), QStringList({ "报告.doc", "folder" }));
        QCOMPARE(entriesUnder(m_send->path()),
            QStringList({ stamped, "a.txt", "folder", "folder/.hidden", "folder/empty",
                "folder/sub", "folder/sub/deep.bin", "报告.doc" }));
        QCOMPARE(readFile(m_send->filePath("a.txt")), QByteArray("older"));
        QCOMPARE(readFile(m_send->filePath(stamped)), QByteArray("alpha"));
        QCOMPARE(readFile(m_send->filePath("folder/sub/deep.bin")), QByteArray("deep"));
        QCOMPARE(readFile(m_send->filePath("报告.doc")), readFile(source("报告.doc")));
        QCOMPARE(copy.bytesDone(), copy.bytesTotal());
        QCOMPARE(readFile(source("a.txt")), QByteArray("alpha"));
    }

    // Links and what is already in the directory, or holds it, are left out and said so.
    void leavesOutWhatItMustNot()
    {
        QVERIFY(writeFile(source("real.txt"), "real"));
        QVERIFY(QFile::link(source("real.txt"), source("link.txt")));
        QVERIFY(writeFile(m_send->filePath("inside.txt"), "in"));
        const QString holder = m_sources->filePath("holder");
        const QString send = holder + "/send";
        QVERIFY(QDir().mkpath(send));

        DropCopy copy({ source("link.txt"), m_send->filePath("inside.txt"), m_send->path(),
                          source("missing.txt") },
            m_send->path());
        const DropCopy::Result result = copy.run();
        QCOMPARE(result.skipped.size(), 4);
        QVERIFY(result.placed.isEmpty());
        QCOMPARE(entriesUnder(m_send->path()), QStringList { "inside.txt" });

        // A folder that holds the send directory would copy itself without end.
        const DropCopy::Result nested = DropCopy({ holder }, send).run();
        QCOMPARE(nested.skipped.size(), 1);
        QVERIFY(entriesUnder(send).isEmpty());
    }

    // While a large file is copied, nothing but a hidden name is in the directory; a cancel
    // removes what was begun.
    void neverShowsAPart()
    {
        QFile large(source("large.img"));
        QVERIFY(large.open(QIODevice::WriteOnly) && large.resize(qint64(256) << 20));
        large.close();
        DropCopy copy({ source("large.img") }, m_send->path());
        std::atomic<bool> done { false };
        std::thread worker([&] {
            copy.run();
            done = true;
        });
        bool sawTemporary = false;
        bool sawPart = false;
        while (!done) {
            for (const QString &entry : entriesUnder(m_send->path())) {
                if (entry.startsWith(QLatin1String(DropCopy::kTemporaryPrefix)))
                    sawTemporary = true;
                else if (QFileInfo(m_send->filePath(entry)).size() != large.size())
                    sawPart = true;
            }
            if (sawTemporary)
                copy.cancel();
        }
        worker.join();
        // A visible name is only ever the whole file.
        QVERIFY(!sawPart);
        if (sawTemporary)
            QVERIFY(entriesUnder(m_send->path()).isEmpty());
    }

    // A long name that is taken gets the stamped name the receiver would give it, shortened to
    // fit the file system, and the file there stays as it was.
    void longTakenNameIsStampedToFit()
    {
        const QString name = QString(250, QLatin1Char('n')) + QStringLiteral(".txt");
        QVERIFY(writeFile(source(name), "new"));
        QVERIFY(writeFile(m_send->filePath(name), "old"));
        const DropCopy::Result result = DropCopy({ source(name) }, m_send->path()).run();
        QVERIFY2(result.error.isEmpty(), qPrintable(result.error));
        QCOMPARE(result.placed.size(), 1);
        const QString placed = result.placed.first();
        QVERIFY(placed != name);
        QVERIFY(placed.endsWith(QStringLiteral(".txt")));
        QVERIFY(QFile::encodeName(placed).size() <= 255);
        QCOMPARE(readFile(m_send->filePath(placed)), QByteArray("new"));
        QCOMPARE(readFile(m_send->filePath(name)), QByteArray("old"));
    }

    // A copy into a directory that is gone stops, leaves nothing of itself, and says why.
    void failureLeavesNothing()
    {
        QVERIFY(writeFile(source("folder/a.txt"), "a"));
        const QString gone = m_send->filePath("gone");
        const DropCopy::Result result = DropCopy({ source("folder") }, gone).run();
        QVERIFY(result.error.contains(QStringLiteral("不存在")));
        QVERIFY(result.placed.isEmpty());
        QVERIFY(!QFileInfo::exists(gone));
    }

private:
    QString source(const QString &name) const { return m_sources->filePath(name); }

    static QString stampedA(const QDateTime &now)
    {
        return QString::fromUtf8(RecvPathResolver::stampedName("a.txt", now, 1));
    }

    std::unique_ptr<QTemporaryDir> m_sources;
    std::unique_ptr<QTemporaryDir> m_send;
};

QTEST_GUILESS_MAIN(TestDropCopy)
#include "tst_dropcopy.moc"
