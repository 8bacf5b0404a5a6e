#include "AuditTestSupport.h"
#include "model/AuditLog.h"

#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>
#include <sys/stat.h>
#include <unistd.h>

// The client's loader with the real library, in this process: what the client passes is what an
// auditor reads back.
class TestAuditLog : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        // With no umask at all SQLite alone would make the files world-readable.
        umask(0);
        QVERIFY(m_dir.isValid());
        m_db = m_dir.filePath("audit.db");
        qputenv("VARKO_DLOG_LIBRARY", AuditTestSupport::builtFile("libdlog.so").toLocal8Bit());
        qputenv("DLOG_DB", m_db.toLocal8Bit());
        QVERIFY(AuditLog::available());
    }

    void storesTextsExactly_data()
    {
        QTest::addColumn<QByteArray>("gap");
        QTest::addColumn<QByteArray>("category");
        QTest::addColumn<QByteArray>("user");
        QTest::addColumn<QByteArray>("operation");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QByteArray>("detail");

        QTest::newRow("login") << QByteArray("192.168.10.20") << QByteArray("CLIENT_LOGIN")
                               << QByteArray("张三") << QByteArray("登录") << 1
                               << QByteArray("'192.168.10.5','登录成功'");
        QTest::newRow("refused send over IPv6")
            << QByteArray("fd00::1:2") << QByteArray("CLIENT_SEND") << QByteArray("user_a")
            << QByteArray("发送") << 0
            << QByteArray("'10.0.0.1', '报告,2026 \"终稿\".docx', '李四', '文件类型被禁止'");
        // A file name is not a format: a library that formatted the detail would crash here.
        QTest::newRow("percent signs stay text")
            << QByteArray("10.0.0.1") << QByteArray("CLIENT_RECV") << QByteArray("李四")
            << QByteArray("接收文件") << 1
            << QByteArray("'10.0.0.6', '%s%n%x 100%.txt', 'u', 'ok'");
        // The caller's fixed buffer can cut a character in half; the store keeps the bytes.
        QTest::newRow("bytes that are not UTF-8")
            << QByteArray("10.0.0.1") << QByteArray("CLIENT_LOGIN") << QByteArray("u\xff")
            << QByteArray("登录") << 0 << QByteArray("'10.0.0.5','\xe7\x99");
        QTest::newRow("line breaks and a full detail buffer")
            << QByteArray("10.0.0.1") << QByteArray("CLIENT_SEND") << QByteArray("u")
            << QByteArray("发送") << 1 << (QByteArray("a\nb\r\tc ") + QByteArray(1016, 'x'));
        QTest::newRow("empty texts stay empty")
            << QByteArray("") << QByteArray("") << QByteArray("") << QByteArray("") << 0
            << QByteArray("");
    }

    void storesTextsExactly()
    {
        QFETCH(QByteArray, gap);
        QFETCH(QByteArray, category);
        QFETCH(QByteArray, user);
        QFETCH(QByteArray, operation);
        QFETCH(int, outcome);
        QFETCH(QByteArray, detail);

        const QByteArray before = utcNow();
        AuditLog::record(gap, category.constData(), user, operation.constData(), outcome, detail);
        const QByteArray after = utcNow();

        AUDIT_QUERY(rows, m_db,
            "SELECT gap, category, user, operation, outcome, detail, pid, time_utc, "
            "time_local FROM events ORDER BY id DESC LIMIT 1");
        QCOMPARE(rows.size(), 1);
        const AuditTestSupport::Row &row = rows.first();
        const AuditTestSupport::Row expected = { gap, category, user, operation,
            QByteArray::number(outcome), detail, QByteArray::number(getpid()) };
        QCOMPARE(row.mid(0, expected.size()), expected);
        QVERIFY2(before <= row[7] && row[7] <= after, row[7]);
        const QRegularExpression utc("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z$");
        QVERIFY2(utc.match(QString::fromLatin1(row[7])).hasMatch(), row[7]);
        const QRegularExpression local(
            "^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}[+-]\\d\\d:\\d\\d$");
        QVERIFY2(local.match(QString::fromLatin1(row[8])).hasMatch(), row[8]);
    }

    void addressLastsOneTripleAndNullsAreHarmless()
    {
        AuditLog::record("10.9.9.9", "CLIENT_LOGIN", "a", "登录", 1, "first");
        AuditLog::dlog("CLIENT_LOGIN", "b", "登录", 1, "outside a triple");
        AuditLog::dlog_init(nullptr);
        AuditLog::dlog(nullptr, nullptr, nullptr, 0, nullptr);
        AuditLog::dlog_destroy();

        AUDIT_QUERY(rows, m_db,
            "SELECT gap, category, user, operation, detail FROM events "
            "ORDER BY id DESC LIMIT 3");
        QCOMPARE(rows.size(), 3);
        QCOMPARE(
            rows[2], AuditTestSupport::Row({ "10.9.9.9", "CLIENT_LOGIN", "a", "登录", "first" }));
        QCOMPARE(rows[1][0], QByteArray());
        QCOMPARE(rows[1][4], QByteArray("outside a triple"));
        for (const QByteArray &value : rows[0])
            QVERIFY(value.isNull());
    }

    // A sending and a receiving worker may run their triples at the same time, each under its own
    // mutex only: every event must be stored, with its own thread's gap.
    void overlappingTriplesKeepTheirOwnAddress()
    {
        constexpr int kThreads = 8;
        constexpr int kTriples = 200;
        QVector<QThread *> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.append(QThread::create([t] {
                const QByteArray gap = gapOfWorker(t);
                const QByteArray user = "worker" + QByteArray::number(t);
                for (int n = 0; n < kTriples; ++n) {
                    const QByteArray detail = QByteArray::number(t) + ':' + QByteArray::number(n);
                    AuditLog::dlog_init(gap.constData());
                    QThread::yieldCurrentThread();
                    AuditLog::dlog("OVERLAP", user.constData(), "发送", 1, detail.constData());
                    AuditLog::dlog_destroy();
                }
            }));
        }
        for (QThread *thread : threads)
            thread->start();
        for (QThread *thread : threads) {
            QVERIFY(thread->wait(120000));
            delete thread;
        }

        AUDIT_QUERY(rows, m_db, "SELECT gap, user, detail FROM events WHERE category = 'OVERLAP'");
        QCOMPARE(rows.size(), kThreads * kTriples);
        QSet<QByteArray> details;
        for (const AuditTestSupport::Row &row : rows) {
            const int worker = row[1].mid(qstrlen("worker")).toInt();
            QCOMPARE(row[0], gapOfWorker(worker));
            QVERIFY(row[2].startsWith(QByteArray::number(worker) + ':'));
            details.insert(row[2]);
        }
        QCOMPARE(details.size(), kThreads * kTriples);
    }

    void databaseIsOwnerOnly()
    {
        AuditLog::record("10.0.0.1", "CLIENT_LOGIN", "u", "登录", 1, "mode");
        for (const char *suffix : { "", "-wal", "-shm" }) {
            const QByteArray path = (m_db + suffix).toLocal8Bit();
            struct stat info {
            };
            QVERIFY2(stat(path.constData(), &info) == 0, path);
            QCOMPARE(info.st_mode & 0777, mode_t(0600));
        }
    }

private:
    static QByteArray gapOfWorker(int worker)
    {
        return worker % 2 ? "fd00::" + QByteArray::number(worker)
                          : "10.1.0." + QByteArray::number(worker);
    }

    static QByteArray utcNow()
    {
        return QDateTime::currentDateTimeUtc()
            .toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss.zzz'Z'"))
            .toLatin1();
    }

    QTemporaryDir m_dir;
    QString m_db;
};

QTEST_GUILESS_MAIN(TestAuditLog)
#include "tst_auditlog.moc"
