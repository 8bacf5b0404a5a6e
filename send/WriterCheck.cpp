#include "send/WriterCheck.h"

#include "model/UniqueFd.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>

namespace {

// A writer that opens the file while the lease is held makes the kernel signal the holder with
// SIGIO, whose default action ends the process. The lease is given up at once, so the signal
// carries nothing to act on.
void ignoreLeaseBreaks()
{
    static std::once_flag once;
    std::call_once(once, [] { std::signal(SIGIO, SIG_IGN); });
}

} // namespace

WriterCheck::Result WriterCheck::check(const QByteArray &path)
{
    ignoreLeaseBreaks();
    const UniqueFd fd(::open(path.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd.isValid())
        return Unreadable;
    struct stat status;
    if (::fstat(fd.get(), &status) != 0)
        return Unreadable;
    if (!S_ISREG(status.st_mode))
        return NotRegular;
    if (::fcntl(fd.get(), F_SETLEASE, F_RDLCK) == 0) {
        ::fcntl(fd.get(), F_SETLEASE, F_UNLCK);
        return NoWriter;
    }
    return errno == EAGAIN ? Writing : Unknown;
}
