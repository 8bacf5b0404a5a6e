#include "model/TransferTrace.h"

#include "model/UniqueFd.h"

#include <QtGlobal>
#include <cstdio>
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

namespace {

constexpr int kLineMax = 512;

int traceFd()
{
    static const UniqueFd fd([] {
        const QByteArray path = qgetenv("VARKO_TRACE");
        return path.isEmpty()
            ? -1
            : ::open(path.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    }());
    return fd.get();
}

} // namespace

void TransferTrace::mark(const char *side, const char *phase, const QByteArray &fileName)
{
    const int fd = traceFd();
    if (fd < 0)
        return;
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    char line[kLineMax];
    const int length = std::snprintf(line, sizeof line, "%lld %d %s %s %s\n",
        qint64(now.tv_sec) * 1000000000 + now.tv_nsec, int(::getpid()), side, phase,
        fileName.constData());
    if (length > 0 && length < kLineMax)
        (void)!::write(fd, line, size_t(length));
}
