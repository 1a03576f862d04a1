#include "EndStopGuard.h"

#include <algorithm>
#include <cmath>

qint64 &EndStopGuard::overrideUsedNs(const ArmCodeMotion &motion, bool towardsMax)
{
    return m_overrideUsedNs[size_t(armJointIndex(motion.joint))][towardsMax];
}

EndStopGuard::Reckoning EndStopGuard::reckon(int code, qint64 nowNs, bool inRun, bool returning)
{
    Reckoning reckoning;
    const bool motion = armCodeMoves(code);
    reckoning.overriding = motion && !inRun && code == m_overriding;
    reckoning.endCode = code;
    if (motion && !returning && !m_measuring) {
        // Let past the estimated end, the motion goes on for what is left of its joint's override.
        reckoning.toEnd = reckoning.overriding ? double(overrideLeftNs(code)) / 1e9
                                               : m_pose.secondsToEnd(code, nowNs, &reckoning.endCode);
    }
    if (code != m_overriding)
        m_overriding = -1;
    return reckoning;
}

void EndStopGuard::sent(int out, int asked, const Reckoning &reckoning, int row, int repetition, qint64 nowNs)
{
    m_pose.apply(out, nowNs);
    ++m_serial;
    m_dueNs = 0;
    // The override motion, if one was on, has ended: what it ran past the end is used up.
    if (m_overrideStartNs != 0) {
        if (const auto motion = armCodeMotion(m_lastCode))
            overrideUsedNs(*motion, motion->direction > 0) += nowNs - m_overrideStartNs;
        m_overrideStartNs = 0;
    }
    m_lastCode = out;
    if (!armCodeMoves(out))
        return;
    // Driven the other way, a joint's overrides of the end it left start afresh.
    for (const int part : armCodeParts(out)) {
        const ArmCodeMotion motion = *armCodeMotion(part);
        overrideUsedNs(motion, motion.direction < 0) = 0;
    }
    if (out != asked)
        return;
    if (reckoning.toEnd > 0.0) {
        m_dueSerial = m_serial;
        m_dueNs = nowNs + qint64(std::ceil(reckoning.toEnd * 1e9));
        m_due = Due{asked, row, repetition, reckoning.overriding, reckoning.endCode};
    }
    if (reckoning.overriding) {
        m_overrideStartNs = nowNs;
        // Past the end the estimate gave, the estimate is no longer to be trusted at that end.
        m_pose.overridden(asked, nowNs);
    }
}

void EndStopGuard::lost(qint64 nowNs)
{
    m_pose.apply(0, nowNs);
    forget(nowNs);
}

void EndStopGuard::forget(qint64 nowNs)
{
    m_pose.forget(nowNs);
    m_dueNs = 0;
}

std::optional<EndStopGuard::Due> EndStopGuard::takeDue()
{
    if (dueNs() == 0)
        return std::nullopt;
    m_dueNs = 0;
    return m_due;
}

qint64 EndStopGuard::overrideLeftNs(int code) const
{
    const auto motion = armCodeMotion(code);
    if (!motion)
        return 0;
    const qint64 used = m_overrideUsedNs[size_t(armJointIndex(motion->joint))][motion->direction > 0];
    return std::max<qint64>(0, qint64(OverrideBudgetMs) * 1'000'000 - used);
}

bool EndStopGuard::refuses(int code, qint64 nowNs, int *endCode)
{
    if (endCode)
        *endCode = code;
    if (armCodeCombined(code))
        return m_pose.secondsToEnd(code, nowNs, endCode) == 0.0;
    if (!armCodeMotion(code))
        return false;
    // Once let past an end, the joint is no longer known there; until it is driven the other way, it
    // stays at that end as far as overrides go, however often one is asked for.
    const qint64 budgetNs = qint64(OverrideBudgetMs) * 1'000'000;
    if (m_pose.secondsToEnd(code, nowNs) != 0.0 && overrideLeftNs(code) == budgetNs)
        return false;
    // The same command again, soon after the rule said no: the operator knows better than the
    // estimate, this once, and for no more than what is left of the joint's override.
    if (m_refusedCode == code && nowNs - m_refusedNs < qint64(OverrideMs) * 1'000'000 &&
        overrideLeftNs(code) >= 10'000'000) {
        m_refusedCode = -1;
        m_overriding = code;
        return false;
    }
    noteStopped(code, nowNs);
    return true;
}

void EndStopGuard::noteStopped(int code, qint64 nowNs)
{
    m_refusedCode = code;
    m_refusedNs = nowNs;
}
