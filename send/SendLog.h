#pragma once

#include "model/GlobalData.h"

#include <cstddef>

// The audit record of one transfer, shared by the sending and the receiving worker: 400 bytes,
// zero-filled, every text NUL-terminated (UTF-8 where it comes from the system, Latin-1 for names).
struct _SEND_LOG {
    char touser[kUserNameSize];
    char fromuser[kUserNameSize];
    char host[kHostIPSize]; // the gap's address as seen from the connection
    char localip[kHostIPSize]; // the local address of the connection
    char filename[268]; // the file name without directory
};

static_assert(sizeof(_SEND_LOG) == 400, "audit record size");
static_assert(offsetof(_SEND_LOG, fromuser) == 20, "audit record layout");
static_assert(offsetof(_SEND_LOG, host) == 40, "audit record layout");
static_assert(offsetof(_SEND_LOG, localip) == 86, "audit record layout");
static_assert(offsetof(_SEND_LOG, filename) == 132, "audit record layout");
