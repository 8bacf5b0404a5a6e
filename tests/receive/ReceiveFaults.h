#pragma once

// Faults of file systems and of the system that the receiving tests inject: a file system without
// unnamed files (O_TMPFILE refused, as NFS, vfat or CIFS refuse it), one that cannot sync a
// directory (fsync refused with EINVAL, as CIFS before Linux 4.17, Ceph or some FUSE ones do), one
// without file locks (flock refused with ENOLCK, as NFS without its lock service), a disk that
// fails a write (fdatasync with EIO), and a thread that cannot be created.
//
// It also records, when asked, the calls that put a received file on disk, in their order.
//
// The library interposes openat, fsync, fdatasync, linkat, renameat2, flock and pthread_create for
// the whole process it is part of: a test linked with it sets the faults below; a client started
// with it in LD_PRELOAD takes them from the environment variable GAP_FAULTS, a comma-separated list
// of "no-tmpfile", "dir-fsync-einval" and "no-locks".
#include <string>

namespace ReceiveFaults {

void setNoUnnamedFiles(bool on);
void setDirectorySyncRefused(bool on);
void setLocksRefused(bool on);
// The next count thread creations fail with EAGAIN.
void failThreadStarts(int count);
// The next count calls of fdatasync fail with EIO, as after a write error of the disk.
void failDataSyncs(int count);

// Starts a new record of the calls that sync or name files: "fdatasync", "fsync" of a file,
// "fsync dir", "linkat", "renameat2", and the marks the test adds itself.
void startTrace();
void mark(const char *what);
// The record so far, comma-separated.
std::string trace();

} // namespace ReceiveFaults
