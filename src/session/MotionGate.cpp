#include "MotionGate.h"

#include "ArmMotion.h"
#include "ScriptRunner.h"

#include <cmath>
#include <utility>

namespace {

qint64 nowNs()
{
    return ScriptRunner::clockNs();
}

} // namespace

MotionGate::MotionGate(ArmOutlet &outlet, const RunawayLimit &limit, RunStateSource run)
    : m_outlet(outlet), m_limit(limit), m_run(std::move(run))
{
}

MotionGate::Sent MotionGate::send(qint16 code, QString *error)
{
    const std::lock_guard<std::mutex> guard(m_lock);
    return sendLocked(code, error);
}

MotionGate::Sent MotionGate::sendLocked(qint16 code, QString *error)
{
    const RunState run = m_run();
    const bool inRun = run.playing;
    const qint64 now = nowNs();
    const EndStopGuard::Reckoning reckoning = m_endStops.reckon(code, now, inRun, run.returning);
    const int row = inRun ? run.row : 0;
    const int repetition = inRun ? run.repetition : 0;
    // A step towards an end the arm is at already sends a stop in its place: the motion before it
    // ends as the step would have ended it, and the run goes on timed as written.
    qint16 out = code;
    std::optional<CutStep> cut;
    if (inRun && reckoning.toEnd == 0.0) {
        out = 0;
        cut = CutStep{row, repetition, code};
    }
    qint64 deadline = motionDeadlineNs(code, now, inRun, reckoning);
    // A run's motion that has had its time already (steps of the same motion before this one) is
    // over: the step is cut as the end-stop rule would cut it.
    if (inRun && out != 0 && deadline != 0 && deadline <= now) {
        out = 0;
        cut = CutStep{row, repetition, code, CutStep::Why::TimeLimit, double(m_runLimits.limitMs(code)) / 1000.0};
    }
    if (out == 0)
        deadline = 0;
    const ArmOutlet::Delivery delivery = m_outlet.send(out, deadline);
    if (error && !delivery.error.isEmpty())
        *error = delivery.error;
    noteDelivery(out, delivery);
    // An arm that took the code runs it, whether or not the others did: the estimate hears it.
    if (!delivery.anyTook)
        return {};
    // The code is in the arm's hands from here.
    m_endStops.sent(out, code, reckoning, row, repetition, nowNs());
    m_lastCode = out;
    m_lastRow = row;
    m_lastRepetition = repetition;
    if (cut)
        m_cutSteps.append(*cut);
    return {true, delivery.allTook};
}

void MotionGate::noteDelivery(qint16 out, const ArmOutlet::Delivery &delivery)
{
    m_stopConfirmed = out == 0 && delivery.allTook;
    if (out != 0)
        return;
    m_lastStopConfirmed = delivery.stopConfirmed;
    if (!delivery.stopConfirmed) {
        m_stopFailure = delivery.error;
        if (m_stopFailed)
            m_stopFailed();
    }
}

qint64 MotionGate::motionDeadlineNs(qint16 code, qint64 nowNs, bool inRun, const EndStopGuard::Reckoning &reckoning)
{
    if (inRun)
        return m_runLimits.deadlineFor(code, nowNs);
    if (!armCodeMoves(code))
        return 0;
    if (reckoning.overriding)
        return nowNs + qint64(std::ceil(reckoning.toEnd * 1e9)) + qint64(PanelDeadlineGraceMs) * 1'000'000;
    // The panel's runaway limit tightens this to the time the motion has left once it is armed.
    const int limit = m_limit.limitMs(code);
    return limit > 0 ? nowNs + qint64(limit + PanelDeadlineGraceMs) * 1'000'000 : 0;
}

void MotionGate::noArm()
{
    const std::lock_guard<std::mutex> guard(m_lock);
    m_outlet.forget();
    m_stopConfirmed = true;
}

void MotionGate::armLost()
{
    const std::lock_guard<std::mutex> guard(m_lock);
    m_endStops.lost(nowNs());
    m_outlet.forget();
    // An arm that comes back has been without power: nothing runs that a guard would have to stop.
    m_stopConfirmed = true;
}

ArmOutlet::Delivery MotionGate::setLight(bool on)
{
    const std::lock_guard<std::mutex> guard(m_lock);
    return m_outlet.setLight(on);
}

std::optional<MotionGate::DeadlineStop> MotionGate::stopAtDeadline(quint64 serial)
{
    const std::lock_guard<std::mutex> guard(m_lock);
    if (serial != m_outlet.serial())
        return std::nullopt;
    const int code = m_lastCode;
    const bool inRun = m_run().playing;
    const ArmOutlet::Delivery delivery = m_outlet.send(0);
    noteDelivery(0, delivery);
    if (delivery.anyTook) {
        const qint64 now = nowNs();
        if (inRun && armCodeMotion(code))
            m_cutSteps.append(CutStep{m_lastRow, m_lastRepetition, code, CutStep::Why::TimeLimit,
                                      double(now - m_runLimits.motionStartNs()) / 1e9});
        m_endStops.sent(0, 0, {}, 0, 0, now);
        m_lastCode = 0;
    }
    return DeadlineStop{code, !inRun};
}

void MotionGate::renewPanelMotion(int code, qint64 leftMs)
{
    const std::lock_guard<std::mutex> guard(m_lock);
    if (m_outlet.codeInForce() == code && !m_endStops.overrideOn())
        m_outlet.renew(nowNs() + (leftMs + PanelDeadlineGraceMs) * 1'000'000);
}

qint64 MotionGate::endStopDueNs() const
{
    const std::lock_guard<std::mutex> guard(m_lock);
    return m_endStops.dueNs();
}

std::optional<MotionGate::EndStop> MotionGate::stopAtEnd(bool ready)
{
    const std::lock_guard<std::mutex> guard(m_lock);
    // Another code went out meanwhile: its own reckoning stands.
    const std::optional<EndStopGuard::Due> due = m_endStops.takeDue();
    if (!due)
        return std::nullopt;
    const bool inRun = m_run().playing;
    // Under the lock, so that the run's next step cannot come between; the run keeps its time.
    if (inRun && ready && sendLocked(0, nullptr).allTook)
        m_cutSteps.append(CutStep{due->row, due->repetition, due->code});
    return EndStop{*due, inRun};
}

bool MotionGate::refusesStart(int code, int *endCode)
{
    const std::lock_guard<std::mutex> guard(m_lock);
    return m_endStops.refuses(code, nowNs(), endCode);
}

void MotionGate::noteEndStopped(int code)
{
    const std::lock_guard<std::mutex> guard(m_lock);
    m_endStops.noteStopped(code, nowNs());
}

void MotionGate::runStarts()
{
    const std::lock_guard<std::mutex> guard(m_lock);
    m_cutSteps.clear();
    m_endStops.takeDue();
    // Taken now, for the timing thread: each motion of the run may run its joint's limit.
    m_runLimits.take(m_limit);
}

QList<CutStep> MotionGate::cutSteps() const
{
    const std::lock_guard<std::mutex> guard(m_lock);
    return m_cutSteps;
}

PoseEstimate MotionGate::estimate() const
{
    const std::lock_guard<std::mutex> guard(m_lock);
    return m_endStops.pose().estimateAt(nowNs());
}

PoseEstimator MotionGate::estimator() const
{
    const std::lock_guard<std::mutex> guard(m_lock);
    return m_endStops.pose();
}

void MotionGate::changePose(const std::function<void(PoseEstimator &pose, qint64 nowNs)> &change)
{
    const std::lock_guard<std::mutex> guard(m_lock);
    change(m_endStops.pose(), nowNs());
}

void MotionGate::setMeasuring(bool measuring)
{
    const std::lock_guard<std::mutex> guard(m_lock);
    m_endStops.setMeasuring(measuring);
}

void MotionGate::forgetPose()
{
    const std::lock_guard<std::mutex> guard(m_lock);
    m_endStops.forget(nowNs());
}

QString MotionGate::takeStopFailure()
{
    const std::lock_guard<std::mutex> guard(m_lock);
    return std::exchange(m_stopFailure, QString());
}
