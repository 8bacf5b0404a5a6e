#pragma once

#include "EventLog.h"
#include "FaultPlan.h"
#include "GapConfig.h"

#include <QHash>
#include <QHostAddress>

// What every session of one simulator run shares. All sessions live in the one event-loop thread,
// so none of this needs a lock.
struct GapContext {
    const GapConfig &config;
    EventLog &log;
    FaultPlan &faults;
    // The address each user last logged in or asked for rules from: where that user's client
    // receives files unless the configuration names an address.
    QHash<QByteArray, QHostAddress> lastAddress;
    quint64 nextTransferId = 1;
};
