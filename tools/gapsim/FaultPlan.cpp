#include "FaultPlan.h"

#include <QRegularExpression>

FaultPlan::FaultPlan(const QVector<FaultRule> &rules)
    : m_rules(rules)
    , m_fired(rules.size(), 0)
    , m_periodStart(rules.size(), -1)
{
    m_clock.start();
    for (int i = 0; i < m_rules.size(); ++i) {
        if (m_rules.at(i).afterExchange.isEmpty())
            m_periodStart[i] = 0;
    }
}

bool FaultPlan::take(int index, const QString &fileName)
{
    const FaultRule &rule = m_rules.at(index);
    if (!rule.fileGlob.isEmpty()) {
        const QRegularExpression glob(QRegularExpression::anchoredPattern(
            QRegularExpression::wildcardToRegularExpression(rule.fileGlob)));
        if (!glob.match(fileName).hasMatch())
            return false;
    }
    if (rule.count > 0 && m_fired.at(index) >= rule.count)
        return false;
    ++m_fired[index];
    return true;
}

TransferFaults FaultPlan::takeForTransfer(const QString &fileName)
{
    TransferFaults faults;
    for (int i = 0; i < m_rules.size(); ++i) {
        const FaultRule &rule = m_rules.at(i);
        if (!rule.hitsTransfer() || !take(i, fileName))
            continue;
        switch (rule.kind) {
        case FaultRule::Kind::Cut:
            faults.cutAfterBytes = rule.bytes;
            break;
        case FaultRule::Kind::Flip:
            faults.flipOffset = rule.offset;
            break;
        case FaultRule::Kind::Offline:
            faults.offlineAt = rule.answer;
            break;
        case FaultRule::Kind::Delay:
            faults.delayMs.insert(rule.answer, rule.delayMs);
            break;
        default:
            break;
        }
    }
    return faults;
}

ControlFaults FaultPlan::takeForAnswer(const QString &answer)
{
    ControlFaults faults;
    for (int i = 0; i < m_rules.size(); ++i) {
        const FaultRule &rule = m_rules.at(i);
        if (!rule.hitsControlAnswer(answer) || !take(i, QString()))
            continue;
        if (rule.kind == FaultRule::Kind::Cut)
            faults.cutAfterBytes = rule.bytes;
        else
            faults.delayMs = rule.delayMs;
    }
    return faults;
}

qint64 FaultPlan::remainingMs(FaultRule::Kind kind) const
{
    const qint64 now = m_clock.elapsed();
    qint64 remaining = 0;
    for (int i = 0; i < m_rules.size(); ++i) {
        const FaultRule &rule = m_rules.at(i);
        if (rule.kind != kind || m_periodStart.at(i) < 0)
            continue;
        if (rule.forMs == 0)
            return LLONG_MAX;
        remaining = qMax(remaining, m_periodStart.at(i) + rule.forMs - now);
    }
    return remaining;
}

bool FaultPlan::ignoresLogins() const { return remainingMs(FaultRule::Kind::IgnoreLogin) > 0; }

qint64 FaultPlan::refusalRemainingMs() const
{
    return qMax<qint64>(0, remainingMs(FaultRule::Kind::RefuseLogin));
}

bool FaultPlan::noteExchange(const QString &exchange)
{
    const int seen = ++m_exchanges[exchange];
    bool refusalStarts = false;
    for (int i = 0; i < m_rules.size(); ++i) {
        const FaultRule &rule = m_rules.at(i);
        if (rule.afterExchange != exchange || rule.afterCount != seen)
            continue;
        m_periodStart[i] = m_clock.elapsed();
        refusalStarts = refusalStarts || rule.kind == FaultRule::Kind::RefuseLogin;
    }
    return refusalStarts;
}
