#include "SignalWatcher.h"

#include <QSocketNotifier>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

int SignalWatcher::s_fds[2] = { -1, -1 };

SignalWatcher::SignalWatcher(QObject *parent)
    : QObject(parent)
{
}

SignalWatcher::~SignalWatcher()
{
    delete m_notifier;
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    for (int &fd : s_fds) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

bool SignalWatcher::install()
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, s_fds) != 0)
        return false;
    m_notifier = new QSocketNotifier(s_fds[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SignalWatcher::onReadable);
    struct sigaction action = {};
    action.sa_handler = &SignalWatcher::handle;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(SIGINT, &action, nullptr) == 0
        && ::sigaction(SIGTERM, &action, nullptr) == 0;
}

void SignalWatcher::handle(int signalNumber)
{
    const char byte = char(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(s_fds[0], &byte, 1);
}

void SignalWatcher::onReadable()
{
    char byte = 0;
    if (::read(s_fds[1], &byte, 1) != 1)
        return;
    emit stopRequested(byte == SIGINT ? QStringLiteral("SIGINT") : QStringLiteral("SIGTERM"));
}
