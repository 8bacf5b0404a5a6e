#pragma once

#include <QByteArray>

// Whether another program still holds a file open for writing, asked of the kernel with a read
// lease: one is granted only while no descriptor of the file is open for writing, anywhere. Where
// leases do not work (a network file system, a file of another user without CAP_LEASE) it cannot
// tell. The file is opened without blocking and must be a regular file, so that a FIFO or a device
// put in place of a file never hangs the caller.
class WriterCheck
{
public:
    enum Result {
        NoWriter,
        Writing,
        Unknown, // leases do not work here
        Unreadable, // the file cannot be opened for reading
        NotRegular, // a FIFO, a device or a socket
    };

    static Result check(const QByteArray &path);
};
