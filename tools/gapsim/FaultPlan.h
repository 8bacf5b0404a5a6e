#pragma once

#include "FaultRule.h"

#include <QElapsedTimer>
#include <QHash>
#include <QVector>

// The faults that hit one transfer, decided when its descriptor arrives.
struct TransferFaults {
    qint64 cutAfterBytes = -1; // -1: no cut
    qint64 flipOffset = -1; // -1: no flip
    QString offlineAt; // empty, "type-check" or "descriptor-response"
    QHash<QString, int> delayMs; // answer name -> delay
};

// The faults that hit one control answer.
struct ControlFaults {
    qint64 cutAfterBytes = -1;
    int delayMs = 0;
};

// The run-time state of the configured faults: how often each has fired, which exchanges have
// happened, and which login periods are active. Taking the faults for a transfer or an answer
// counts them against their limits.
class FaultPlan
{
public:
    explicit FaultPlan(const QVector<FaultRule> &rules);

    TransferFaults takeForTransfer(const QString &fileName);
    ControlFaults takeForAnswer(const QString &answer);

    bool ignoresLogins() const;
    // Milliseconds the listener must stay closed from now; 0 when it may listen.
    qint64 refusalRemainingMs() const;
    // Records an answered control exchange; true when that starts a refusal period.
    bool noteExchange(const QString &exchange);

private:
    bool take(int index, const QString &fileName);
    qint64 remainingMs(FaultRule::Kind kind) const;

    QVector<FaultRule> m_rules;
    QVector<int> m_fired;
    QVector<qint64> m_periodStart; // ms since m_clock started; -1: not started
    QHash<QString, int> m_exchanges;
    QElapsedTimer m_clock;
};
