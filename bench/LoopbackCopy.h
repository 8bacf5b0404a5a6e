#pragma once

#include <QString>

// The copy of the serial floor, done as a careful hand would: the file read and sent over one
// loopback TCP connection, the receiving end writing what arrives into a new file and syncing it
// (fdatasync), both ends with buffers of 128 KiB, the size cp and cat use.
namespace LoopbackCopy {

// Wall-clock seconds from the connection to the end of the sync; negative when a step failed.
double seconds(const QString &from, const QString &to);

} // namespace LoopbackCopy
