#include "NetworkNamespaces.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>

namespace {

const char *const kPrefix = "gaptest-";
const char *const kGapRole = "gap";
constexpr int kIpWaitMs = 30000;

// The role of a client's namespace, its link's name on the gap's side, and the /24 of the link.
struct SideNet {
    const char *role;
    const char *gapLink;
    const char *subnet;
};

const SideNet &sideNet(NetworkNamespaces::Side side)
{
    static const SideNet sender { "sender", "tosender", "10.77.1." };
    static const SideNet receiver { "receiver", "toreceiver", "10.77.2." };
    return side == NetworkNamespaces::Sender ? sender : receiver;
}

QString runIp(const QStringList &arguments, bool *ok)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("ip"), arguments);
    *ok = process.waitForFinished(kIpWaitMs) && process.exitStatus() == QProcess::NormalExit
        && process.exitCode() == 0;
    return QString::fromLocal8Bit(process.readAll()).trimmed();
}

bool processExists(qint64 pid) { return QDir(QStringLiteral("/proc/%1").arg(pid)).exists(); }

} // namespace

NetworkNamespaces::NetworkNamespaces()
    : m_prefix(QLatin1String(kPrefix) + QString::number(QCoreApplication::applicationPid()) + '-')
{
}

NetworkNamespaces::~NetworkNamespaces() { removeAll(); }

QString NetworkNamespaces::name(const QString &role) const { return m_prefix + role; }

bool NetworkNamespaces::ip(const QStringList &arguments)
{
    bool ok = false;
    const QString output = runIp(arguments, &ok);
    if (!ok && m_error.isEmpty())
        m_error = QStringLiteral("ip %1: %2").arg(arguments.join(QLatin1Char(' ')), output);
    return ok;
}

void NetworkNamespaces::removeStale() const
{
    bool ok = false;
    const QString list = runIp({ QStringLiteral("netns"), QStringLiteral("list") }, &ok);
    static const QRegularExpression ours(
        QStringLiteral("^%1(\\d+)-\\S+").arg(QLatin1String(kPrefix)));
    for (const QString &line : list.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch match = ours.match(line);
        if (!match.hasMatch())
            continue;
        const qint64 pid = match.captured(1).toLongLong();
        if (pid == QCoreApplication::applicationPid() || !processExists(pid)) {
            const QString stale = line.section(QLatin1Char(' '), 0, 0);
            runIp({ QStringLiteral("netns"), QStringLiteral("delete"), stale }, &ok);
        }
    }
}

bool NetworkNamespaces::create()
{
    removeStale();
    for (const QString &role :
        { QString::fromLatin1(kGapRole), QString::fromLatin1(sideNet(Sender).role),
            QString::fromLatin1(sideNet(Receiver).role) }) {
        if (!ip({ QStringLiteral("netns"), QStringLiteral("add"), name(role) }))
            return false;
        m_created << name(role);
        if (!ip({ QStringLiteral("-n"), name(role), QStringLiteral("link"), QStringLiteral("set"),
                QStringLiteral("lo"), QStringLiteral("up") }))
            return false;
    }
    const QString gap = name(QLatin1String(kGapRole));
    for (Side side : { Sender, Receiver }) {
        const SideNet &net = sideNet(side);
        const QString client = name(QLatin1String(net.role));
        const QString gapLink = QLatin1String(net.gapLink);
        const QString clientLink = QStringLiteral("togap");
        const bool linked = ip({ "-n", gap, "link", "add", gapLink, "type", "veth", "peer", "name",
                                clientLink, "netns", client })
            && ip({ "-n", gap, "addr", "add", gapAddress(side) + "/24", "dev", gapLink })
            && ip({ "-n", client, "addr", "add", clientAddress(side) + "/24", "dev", clientLink })
            && ip({ "-n", gap, "link", "set", gapLink, "up" })
            && ip({ "-n", client, "link", "set", clientLink, "up" });
        if (!linked)
            return false;
    }
    return true;
}

void NetworkNamespaces::removeAll()
{
    // Deleting a namespace deletes the veth ends inside it, and with them their peers.
    bool ok = false;
    for (const QString &created : qAsConst(m_created))
        runIp({ QStringLiteral("netns"), QStringLiteral("delete"), created }, &ok);
    m_created.clear();
}

QStringList NetworkNamespaces::gapLauncher() const
{
    return { QStringLiteral("ip"), QStringLiteral("netns"), QStringLiteral("exec"),
        name(QLatin1String(kGapRole)) };
}

QStringList NetworkNamespaces::clientLauncher(Side side) const
{
    return { QStringLiteral("ip"), QStringLiteral("netns"), QStringLiteral("exec"),
        name(QLatin1String(sideNet(side).role)) };
}

QString NetworkNamespaces::gapAddress(Side side)
{
    return QLatin1String(sideNet(side).subnet) + QLatin1Char('1');
}

QString NetworkNamespaces::clientAddress(Side side)
{
    return QLatin1String(sideNet(side).subnet) + QLatin1Char('2');
}
