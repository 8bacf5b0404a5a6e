#pragma once

#include <QByteArray>

// When a transfer reached which phase, for measuring where its time goes. With VARKO_TRACE naming
// a file (read once, on first use), each mark appends one line to it:
//
//     <CLOCK_MONOTONIC in ns> <pid> <side> <phase> <file name>
//
// so that a benchmark lays the marks of both clients beside its own clock. Without it a mark
// costs one test of a flag. The line is written in one append: marks of several threads and
// processes interleave whole.
namespace TransferTrace {

void mark(const char *side, const char *phase, const QByteArray &fileName);

} // namespace TransferTrace
