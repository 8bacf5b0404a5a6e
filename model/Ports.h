#pragma once

#include <QtGlobal>

// The three service ports, named once. VARKO_GAP_PORT, VARKO_FILE_PORT and VARKO_CONF_PORT
// override them for the whole process (read once, on first use); a value that is not a port
// 1-65535 is ignored with a warning in the log.
namespace Ports {

constexpr quint16 kDefaultGapPort = 5188;    // the gap's control and transfer port
constexpr quint16 kDefaultFilePort = 5188;   // this client's file listener
constexpr quint16 kDefaultConfPort = 5189;   // this client's configuration-push listener

quint16 gapPort();
quint16 filePort();
quint16 confPort();

} // namespace Ports
