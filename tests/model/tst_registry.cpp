#include "model/GlobalData.h"

#include <QThread>
#include <QtTest>

class TestRegistry : public QObject
{
    Q_OBJECT
private slots:
    void fieldsHoldFullIpv6Text()
    {
        _VKGAPIP_CONF gap;
        const QByteArray ipv6 = "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff";
        QCOMPARE(ipv6.size(), 39);
        QVERIFY(copyToField(gap.HostIP, kHostIPSize, ipv6));
        QCOMPARE(QByteArray(gap.HostIP), ipv6);
        QVERIFY(!copyToField(gap.LoginUserName, kUserNameSize, QByteArray(25, 'u')));
        QCOMPARE(qstrlen(gap.LoginUserName), 19u);
    }

    void unlistedRecordStaysValid()
    {
        Registry<_SENDPATH_LISTDATA> list;
        auto *rule = new _SENDPATH_LISTDATA;
        list.append(rule);
        const QList<_SENDPATH_LISTDATA *> walk = list.snapshot();
        QVERIFY(list.removeOne(rule));
        QCOMPARE(list.size(), 0);
        QCOMPARE(walk.first()->statusText, QStringLiteral("发送未启动"));
        delete rule;
    }

    // Contended registry mutexes must be visible to ThreadSanitizer (this runs under it in CI).
    void contendedLockOrdersWrites()
    {
        long counter = 0;
        auto work = [&] {
            for (int i = 0; i < 200000; ++i) {
                QMutexLocker lock(&g_Mutex);
                ++counter;
            }
        };
        QThread *a = QThread::create(work);
        QThread *b = QThread::create(work);
        a->start();
        b->start();
        QVERIFY(a->wait(60000));
        QVERIFY(b->wait(60000));
        delete a;
        delete b;
        // Read under the lock the writers took: QThread::wait() orders nothing ThreadSanitizer
        // sees.
        QMutexLocker lock(&g_Mutex);
        QCOMPARE(counter, 400000L);
    }

    void walksRaceFreeAgainstChanges()
    {
        Registry<_RECVPATH_LISTDATA> list;
        QList<_RECVPATH_LISTDATA *> owned;
        for (int i = 0; i < 64; ++i)
            owned.append(new _RECVPATH_LISTDATA);
        std::atomic<bool> done { false };
        QThread *walker = QThread::create([&] {
            while (!done) {
                for (_RECVPATH_LISTDATA *r : list.snapshot())
                    r->useCount.fetch_add(1);
            }
        });
        walker->start();
        for (int round = 0; round < 200; ++round) {
            for (auto *r : owned)
                list.append(r);
            while (!list.isEmpty())
                list.removeAt(0);
        }
        done = true;
        walker->wait();
        delete walker;
        qDeleteAll(owned);
    }
};

QTEST_GUILESS_MAIN(TestRegistry)
#include "tst_registry.moc"
