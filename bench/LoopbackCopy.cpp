#include "bench/LoopbackCopy.h"

#include "bench/BenchSupport.h"
#include "model/UniqueFd.h"

#include <QFile>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr size_t kBufferSize = 128 * 1024;

bool writeAll(int fd, const char *data, ssize_t length)
{
    while (length > 0) {
        const ssize_t written = ::write(fd, data, size_t(length));
        if (written <= 0)
            return false;
        data += written;
        length -= written;
    }
    return true;
}

// Copies everything readable from one descriptor to the other; false on an error.
bool pump(int from, int to)
{
    std::vector<char> buffer(kBufferSize);
    for (;;) {
        const ssize_t got = ::read(from, buffer.data(), buffer.size());
        if (got == 0)
            return true;
        if (got < 0 || !writeAll(to, buffer.data(), got))
            return false;
    }
}

// A listening socket on 127.0.0.1 and a free port, which it fills in.
UniqueFd listenOnLoopback(sockaddr_in *address)
{
    UniqueFd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    *address = sockaddr_in {};
    address->sin_family = AF_INET;
    address->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof *address;
    auto *generic = reinterpret_cast<sockaddr *>(address);
    if (!listener.isValid() || ::bind(listener.get(), generic, length) != 0
        || ::listen(listener.get(), 1) != 0 || ::getsockname(listener.get(), generic, &length) != 0)
        return UniqueFd();
    return listener;
}

bool receiveInto(int listener, const QString &to)
{
    const UniqueFd connection(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
    const UniqueFd file(
        ::open(QFile::encodeName(to).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    return connection.isValid() && file.isValid() && pump(connection.get(), file.get())
        && ::fdatasync(file.get()) == 0;
}

bool sendFrom(const sockaddr_in &address, const QString &from)
{
    const UniqueFd connection(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const UniqueFd file(::open(QFile::encodeName(from).constData(), O_RDONLY | O_CLOEXEC));
    if (!connection.isValid() || !file.isValid()
        || ::connect(connection.get(), reinterpret_cast<const sockaddr *>(&address), sizeof address)
            != 0)
        return false;
    const bool sent = pump(file.get(), connection.get());
    ::shutdown(connection.get(), SHUT_WR);
    return sent;
}

} // namespace

double LoopbackCopy::seconds(const QString &from, const QString &to)
{
    sockaddr_in address;
    const UniqueFd listener = listenOnLoopback(&address);
    if (!listener.isValid())
        return -1;
    bool received = false;
    bool sent = false;
    const double took = BenchSupport::secondsOf([&] {
        std::thread receiver([&] { received = receiveInto(listener.get(), to); });
        sent = sendFrom(address, from);
        if (!sent)
            ::shutdown(listener.get(), SHUT_RDWR); // wakes the accept that may still wait
        receiver.join();
    });
    return received && sent ? took : -1;
}
