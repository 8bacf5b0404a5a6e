#pragma once

#include <QString>
#include <QStringList>

// Three network namespaces, as a site runs the gap and two clients on three machines: the gap in
// the middle, the sender and the receiver each behind a link of its own (a veth pair and a /24).
// The links are made inside the namespaces, so their names never meet those of another run; the
// namespaces carry this process's id. Everything is removed by the destructor, and create() first
// removes what an earlier run of a process that no longer exists left behind.
class NetworkNamespaces
{
public:
    enum Side { Sender, Receiver };

    NetworkNamespaces();
    ~NetworkNamespaces();
    NetworkNamespaces(const NetworkNamespaces &) = delete;
    NetworkNamespaces &operator=(const NetworkNamespaces &) = delete;

    // False when the machine does not allow it (no root, no ip netns); error() says why.
    bool create();
    QString error() const { return m_error; }

    // "ip netns exec NAME": runs a program in the gap's namespace or a client's.
    QStringList gapLauncher() const;
    QStringList clientLauncher(Side side) const;
    // The gap's address on a client's link, and the client's own.
    static QString gapAddress(Side side);
    static QString clientAddress(Side side);

private:
    QString name(const QString &role) const;
    bool ip(const QStringList &arguments);
    void removeStale() const;
    void removeAll();

    QString m_prefix;
    QStringList m_created;
    QString m_error;
};
