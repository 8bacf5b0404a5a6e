// The site as it is deployed: the gap, the sender and the receiver each in a network namespace of
// its own, every party on the default ports (5188, 5189), the sender and the receiver on different
// links of the gap. Needs root for the namespaces; skipped where the machine does not allow them.
// The namespaces are removed whatever the outcome.

#include "GapSite.h"
#include "NetworkNamespaces.h"
#include "TestFiles.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

namespace {

constexpr int kDeliveryWaitMs = 180000;

} // namespace

class TestTwoClientsNetns : public QObject
{
    Q_OBJECT

private slots:
    void deliversAcrossNamespacesOnDefaultPorts();
};

void TestTwoClientsNetns::deliversAcrossNamespacesOnDefaultPorts()
{
    NetworkNamespaces net;
    if (!net.create())
        QSKIP(qPrintable(QStringLiteral("network namespaces unavailable: ") + net.error()));
    QTemporaryDir root;
    QVERIFY(root.isValid());
    // Declared after the namespaces, so that its processes end before the namespaces go.
    GapSite site(root.path(), { QStringLiteral("SITE") });
    GapSite::Layout layout;
    layout.aliceGapAddress = NetworkNamespaces::gapAddress(NetworkNamespaces::Sender);
    layout.bobGapAddress = NetworkNamespaces::gapAddress(NetworkNamespaces::Receiver);
    layout.bobAddress.clear(); // the gap reaches bob where he logged in from
    layout.freePorts = false;
    layout.gapLauncher = net.gapLauncher();
    layout.aliceLauncher = net.clientLauncher(NetworkNamespaces::Sender);
    layout.bobLauncher = net.clientLauncher(NetworkNamespaces::Receiver);
    QVERIFY2(site.start(layout, QString(), { "--listen", "any", "--port", "5188" }),
        qPrintable(site.error()));
    const auto dumpEvents = qScopeGuard([&site] {
        if (QTest::currentTestFailed())
            qWarning().noquote() << site.gap().events().join(QLatin1Char('\n'));
    });

    const QMap<QString, QByteArray> sent {
        { QStringLiteral("one.bin"), TestFiles::contentOfSize(1, 1) },
        { QStringLiteral("子目录/报告.doc"), TestFiles::contentOfSize(3 * 144400 + 5, 2) },
    };
    for (auto it = sent.cbegin(); it != sent.cend(); ++it)
        QVERIFY(site.drop(QStringLiteral("SITE"), it.key(), it.value()));

    const QString recv = site.recvDir(QStringLiteral("SITE"));
    QTRY_COMPARE_WITH_TIMEOUT(TestFiles::filesUnder(recv), sent, kDeliveryWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(
        TestFiles::filesUnder(site.sendDir(QStringLiteral("SITE"))).isEmpty(), kDeliveryWaitMs);
    for (const QString &path : sent.keys())
        QTRY_COMPARE(site.deliveries(QFileInfo(path).fileName()), 1);
    // The gap reached bob on his own link, at his address there.
    const QString reached = site.gap().events().filter(QStringLiteral("receiver-connect")).value(0);
    QVERIFY2(reached.contains(NetworkNamespaces::clientAddress(NetworkNamespaces::Receiver)),
        qPrintable(reached));
    for (ClientProcess *client : { &site.alice(), &site.bob() })
        QVERIFY2(client->sanitizerReports().isEmpty(), qPrintable(client->sanitizerReports()));
    site.alice().stop();
    site.bob().stop();
    QCOMPARE(site.gap().stop(), 0);
}

QTEST_GUILESS_MAIN(TestTwoClientsNetns)
#include "tst_twoclients_netns.moc"
