#include "GapSite.h"

#include "audit/AuditTestSupport.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>
#include <algorithm>
#include <iterator>

namespace {

// A client under a sanitizer takes its time to start, and logs in three seconds after it started.
constexpr int kLoginWaitMs = 120000;
constexpr int kSetupWaitMs = 60000;
constexpr int kPollMs = 50;
const char *const kAlice = "alice";
const char *const kBob = "bob";
// Every process of the site is killed when the test process ends, even by a crash or a time-out,
// so that none is left holding ports or a mounted directory.
const QStringList kEndWithTest { QStringLiteral("setpriv"), QStringLiteral("--pdeathsig"),
    QStringLiteral("KILL"), QStringLiteral("--") };

QString userSection(const char *user, const QString &extra)
{
    return QStringLiteral("[user.%1]\npassword = %1-pass\nlevel = 1\n%2")
        .arg(QLatin1String(user), extra);
}

QString portLines(quint16 filePort, quint16 confPort)
{
    return filePort == 0
        ? QString()
        : QStringLiteral("file_port = %1\nconf_port = %2\n").arg(filePort).arg(confPort);
}

} // namespace

GapSite::GapSite(const QString &root, const QStringList &pathKeys)
    : m_root(root)
    , m_keys(pathKeys)
    , m_gapsim(std::make_unique<GapsimProcess>(root))
    , m_alice(std::make_unique<ClientProcess>(QLatin1String(kAlice), QDir(root).filePath(kAlice)))
    , m_bob(std::make_unique<ClientProcess>(QLatin1String(kBob), QDir(root).filePath(kBob)))
{
}

QString GapSite::configText(const Layout &layout, const QString &policy) const
{
    QString text = userSection(kAlice, portLines(m_ports[0], m_ports[1]));
    const QString bobAddress = layout.bobAddress.isEmpty()
        ? QString()
        : QStringLiteral("address = %1\n").arg(layout.bobAddress);
    text += userSection(kBob, bobAddress + portLines(m_ports[2], m_ports[3]));
    for (const QString &key : m_keys)
        text += QStringLiteral("[path.%1]\nfrom = alice\nto = bob\n").arg(key);
    return text + policy;
}

bool GapSite::start(const Layout &layout, const QString &policy, const QStringList &gapArguments)
{
    m_layout = layout;
    if (layout.freePorts) {
        for (quint16 &port : m_ports) {
            do
                port = TestSupport::pickFreePort();
            while (std::count(std::begin(m_ports), std::end(m_ports), port) > 1);
        }
    }
    m_gapsim->setLauncher(kEndWithTest + layout.gapLauncher);
    if (!m_gapsim->start(configText(layout, policy), gapArguments)) {
        m_error = QStringLiteral("gapsim did not start");
        return false;
    }
    if (!setUpClient(QLatin1String(kAlice), layout.aliceGapAddress, true)
        || !setUpClient(QLatin1String(kBob), layout.bobGapAddress, false))
        return false;
    m_alice->setLauncher(kEndWithTest + layout.aliceLauncher);
    m_bob->setLauncher(kEndWithTest + layout.bobLauncher);
    if (layout.freePorts) {
        m_alice->usePorts(m_gapsim->port(), m_ports[0], m_ports[1]);
        m_bob->usePorts(m_gapsim->port(), m_ports[2], m_ports[3]);
    }
    // The receiver first: a file that reached a client without its receive rules would be
    // refused for good.
    return startClient(*m_bob, false) && startClient(*m_alice, true);
}

bool GapSite::setUpClient(const QString &user, const QString &gapAddress, bool sends)
{
    const QString directory = QDir(m_root).filePath(user);
    QStringList arguments { QStringLiteral("client-setup"), QStringLiteral("--config"),
        QDir(m_root).filePath(QStringLiteral("gapsim.ini")), QStringLiteral("--user"), user,
        QStringLiteral("--dir"), directory, QStringLiteral("--gap-address"), gapAddress };
    arguments << (sends ? QStringLiteral("--send-dir") : QStringLiteral("--recv-dir"))
              << QDir(directory).filePath(sends ? QStringLiteral("send") : QStringLiteral("recv"));
    QProcess setup;
    setup.setProcessChannelMode(QProcess::MergedChannels);
    setup.start(GapsimProcess::binary(QStringLiteral("gapsim")), arguments);
    if (!setup.waitForFinished(kSetupWaitMs) || setup.exitStatus() != QProcess::NormalExit
        || setup.exitCode() != 0) {
        m_error = QStringLiteral("client-setup for %1: %2")
                      .arg(user, QString::fromUtf8(setup.readAll()));
        return false;
    }
    return true;
}

bool GapSite::startClient(ClientProcess &client, bool sends)
{
    const QRegularExpression login(
        QStringLiteral("^login user=%1 .*result=101").arg(client.name()));
    const int loginsBefore = m_gapsim->events().filter(login).size();
    if (!client.start(sends)) {
        m_error = QStringLiteral("%1 did not start").arg(client.name());
        return false;
    }
    QElapsedTimer clock;
    clock.start();
    while (m_gapsim->events().filter(login).size() <= loginsBefore) {
        if (!client.isRunning() || clock.elapsed() > kLoginWaitMs) {
            m_error = QStringLiteral("%1 did not log in:\n%2")
                          .arg(client.name(), client.sanitizerReports());
            return false;
        }
        QThread::msleep(kPollMs);
    }
    return true;
}

bool GapSite::restart(ClientProcess &client)
{
    return startClient(client, &client == m_alice.get());
}

QString GapSite::sendDir(const QString &key) const
{
    const QString dir = m_alice->filePath(QStringLiteral("send"));
    return m_keys.size() == 1 ? dir : QDir(dir).filePath(key);
}

QString GapSite::recvDir(const QString &key) const
{
    const QString dir = m_bob->filePath(QStringLiteral("recv"));
    return m_keys.size() == 1 ? dir : QDir(dir).filePath(key);
}

bool GapSite::drop(const QString &key, const QString &relativePath, const QByteArray &content) const
{
    const QString staging = QDir(m_root).filePath(QStringLiteral("staging"));
    QDir().mkpath(staging);
    const QString staged = QDir(staging).filePath(QString::number(qHash(relativePath)));
    QFile file(staged);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        return false;
    file.close();
    const QString target = QDir(sendDir(key)).filePath(relativePath);
    return QDir().mkpath(QFileInfo(target).path()) && QFile::rename(staged, target);
}

int GapSite::deliveries(const QString &fileName)
{
    QSet<QString> ids;
    int delivered = 0;
    for (const QString &event : m_gapsim->events()) {
        const QString id = GapsimProcess::field(event, QStringLiteral("id"));
        if (event.startsWith(QLatin1String("relay-start "))
            && GapsimProcess::field(event, QStringLiteral("file")) == fileName)
            ids.insert(id);
        else if (event.startsWith(QLatin1String("relay-end ")) && ids.contains(id)
            && GapsimProcess::field(event, QStringLiteral("result")) == QLatin1String("delivered"))
            ++delivered;
    }
    return delivered;
}

QStringList GapSite::auditEvents(const ClientProcess &client, const QByteArray &category)
{
    QString error;
    const QVector<AuditTestSupport::Row> rows
        = AuditTestSupport::query(client.filePath(QStringLiteral("audit.db")),
            "SELECT outcome, detail FROM events WHERE category = '" + category + "' ORDER BY id",
            &error);
    QStringList events;
    for (const AuditTestSupport::Row &row : rows)
        events << QString::fromUtf8(row.value(0) + ' ' + row.value(1));
    if (!error.isEmpty())
        events << QStringLiteral("audit store unreadable: ") + error;
    return events;
}
