#pragma once

#include "bench/PatternFile.h"

#include <QString>

// Sends one file through gapsim to a receiving client as a sending client does, from raw packets:
// descriptor, type check, descriptor response, data packets in bursts of 100, file end,
// confirmation. Any thread may send; each send has a connection of its own.
namespace ScriptedSender {

constexpr int kConfirmed = 5;

// The gap's or the receiver's last answer: 5 when the file was confirmed, a refusal's type, or -1
// when the connection failed (error says why).
int send(quint16 gapPort, const PatternFile &file, QString *error);

} // namespace ScriptedSender
