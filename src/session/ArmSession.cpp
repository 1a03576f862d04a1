#include "ArmSession.h"

#include "ArmMotion.h"
#include "ArmOutlet.h"
#include "Gamepad.h"
#include "GuardLink.h"
#include "HidArmLink.h"
#include "KitArmList.h"
#include "ProcessClock.h"
#include "ScriptRunner.h"
#include "NumberReading.h"
#include "StepFunctions.h"

#include <QPointer>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <exception>
#include <utility>

namespace {

// Start-up and closing run every step even when an earlier one fails; a failed step has no effect.
template <typename Step> void runStep(Step &&step)
{
    try {
        step();
    } catch (const std::exception &) {
    }
}

// What Return to start plays: the estimate's plan, as the steps of a script played once.
class PlanScript : public ScriptSource
{
public:
    PlanScript(ArmSession &session, const QList<PlanStep> &plan) : m_session(session), m_plan(plan) {}

    int stepCount() override { return int(m_plan.size()); }
    QString functionText(int row) override { return StepFunctions::name(m_plan.value(row - 1).code); }
    // To the millisecond, as the runner keeps time.
    QString timeText(int row) override { return QString::number(m_plan.value(row - 1).seconds, 'f', 3); }
    QString repetitionsText() override { return QStringLiteral("1"); }
    void sendArmCommand(qint16 code) override
    {
        QString why;
        if (!m_session.send(code, &why) && !why.isEmpty())
            m_session.cutRunAfterFailedSend(why);
    }
    void stepStarting(int row) override { Q_EMIT m_session.returnStepStarting(row); }

private:
    ArmSession &m_session;
    const QList<PlanStep> m_plan;
};

} // namespace

ArmSession::ArmSession(HidTransport *transport, QObject *parent)
    : QObject(parent), m_hid(std::make_unique<HidArmLink>(transport)),
      m_outlet(std::make_unique<ArmOutlet>(QList<ArmLink *>{m_hid.get()})),
      m_gamepad(std::make_unique<Gamepad>(transport)), m_runner(std::make_shared<ScriptRunner>()),
      m_stepTimer(new QTimer(this))
{
    followLink(m_hid.get());

    connect(m_gamepad.get(), &Gamepad::motionChanged, this, &ArmSession::onGamepadMotion);
    connect(m_gamepad.get(), &Gamepad::stopPressed, this, &ArmSession::stopEverything);
    connect(m_gamepad.get(), &Gamepad::openDenied, this,
            [this](const QString &, const QString &reason) { Q_EMIT gamepadDenied(reason); });

    // A step's command should go out on time even while the rest of the machine is busy. The run's
    // timing thread sleeps between steps, so it takes little from anyone; where the system does not
    // allow real-time scheduling the run simply goes on without it.
    m_runner->setRealtimeScheduling(true);

    m_stepTimer->setInterval(250);
    m_stepTimer->setTimerType(Qt::PreciseTimer);
    connect(m_stepTimer, &QTimer::timeout, this, [this] { m_stepTicks += 1; });
    m_runLimitTimer.setSingleShot(true);
    m_runLimitTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_runLimitTimer, &QTimer::timeout, this, &ArmSession::onRunLimit);
    m_endStopTimer.setSingleShot(true);
    m_endStopTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_endStopTimer, &QTimer::timeout, this, &ArmSession::onEndStop);
    m_outlet->setDeadlineHandler([this](quint64 serial) { onDeadline(serial); });
    m_poseStatus = poseStatusText();
}

ArmSession::~ArmSession()
{
    shutDown();
    // Its watch thread may be calling back; it is done once the outlet is gone.
    m_outlet.reset();
    // The links close their arms when they go; nothing here may hear about it then.
    for (ArmLink *link : links())
        link->disconnect(this);
    m_gamepad->disconnect(this);
}

// --- Connection

HIDagentX &ArmSession::agent() const
{
    return m_hid->agent();
}

ArmDeviceList &ArmSession::devices() const
{
    return m_hid->devices();
}

void ArmSession::setDeviceIdentity(const QString &identity)
{
    m_hid->setDeviceIdentity(identity);
}

bool ArmSession::deviceNameMatches(const QString &deviceName) const
{
    return m_hid->deviceNameMatches(deviceName);
}

QList<ArmLink *> ArmSession::links() const
{
    QList<ArmLink *> links{m_hid.get()};
    if (m_kits)
        links << m_kits;
    return links;
}

void ArmSession::start(bool followGamepad)
{
    m_starting = true;
    if (m_guardWanted) {
        m_guard = std::make_unique<GuardLink>();
        if (!m_guard->start(&m_guardError))
            m_guard.reset();
    }
    for (ArmLink *link : links())
        runStep([link] { link->start(); });
    updateConnection();
    m_starting = false;
    if (followGamepad)
        runStep([this] { m_gamepad->start(); });
}

void ArmSession::shutDown(bool sendStop)
{
    if (m_shutDown)
        return;
    m_shutDown = true;
    m_runLimitTimer.stop();
    m_endStopTimer.stop();
    // The run's loop ends as soon as the caller's event is handled; its own stop code is not sent, the
    // one below stands for it. Its timing thread is done with the devices before they close.
    runStep([this] {
        if (m_runActive && m_runEnd == RunEnd::Finished)
            m_runEnd = RunEnd::Stopped;
        m_runner->stopAndWait();
    });
    // A running motor would otherwise keep going, against its end stop, with nothing left to stop it.
    runStep([this, sendStop] {
        if (sendStop)
            send(0);
    });
    // The guard stands down only after a stop that reached every arm; otherwise it tries too.
    if (m_guard && (!m_ready || m_stopConfirmed))
        m_guard->dismiss();
    for (ArmLink *link : links())
        runStep([link] { link->stop(); });
    runStep([this] { m_gamepad->stop(); });
}

bool ArmSession::armInterfaceOpen() const
{
    const QList<ArmLink *> all = links();
    return std::any_of(all.begin(), all.end(), [](const ArmLink *link) { return link->armCount() > 0; });
}

bool ArmSession::lightAttached() const
{
    const QList<ArmLink *> all = links();
    return std::any_of(all.begin(), all.end(),
                       [](const ArmLink *link) { return link->hasLight() && link->armCount() > 0; });
}

QStringList ArmSession::attachedArms() const
{
    QStringList arms;
    for (const ArmLink *link : links())
        arms << link->describeArms();
    return arms;
}

void ArmSession::updateConnection()
{
    updateGuard();
    const bool wasReady = m_ready;
    if (armInterfaceOpen()) {
        m_ready = true;
        Q_EMIT readyChanged(true);
        // Back while the run it cut short winds down: the stop went out to no arm when it was asked
        // for, so this one gets it now.
        if (!wasReady && m_runActive && m_runEnd == RunEnd::Disconnected)
            send(0);
        return;
    }
    m_ready = false;
    // The arm's controller is powered through the cable: whatever ran has stopped, nothing may send it
    // again should the arm come back, and the arm may be moved by hand before it is back, so the pose
    // is forgotten.
    {
        const std::lock_guard<std::mutex> guard(m_sendLock);
        m_pose.apply(0, clockNs());
        m_pose.forget(clockNs());
        m_endStopDueNs = 0;
        m_outlet->forget();
        // An arm that comes back has been without power: nothing runs that a guard would have to stop.
        m_stopConfirmed = true;
    }
    m_endStopTimer.stop();
    Q_EMIT readyChanged(false);
    // Stopped here and now: a replugged arm must not take up a script in the middle.
    if (wasReady && !m_shutDown)
        endRun(RunEnd::Disconnected);
}

bool ArmSession::send(qint16 code, QString *error)
{
    // The Ready state as a flag any thread may read; the links take their locks themselves.
    if (!m_ready) {
        // No arm of ours is open: whatever was in force is over, and must never be sent again.
        if (code == 0) {
            const std::lock_guard<std::mutex> guard(m_sendLock);
            m_outlet->forget();
            m_stopConfirmed = true;
        }
        return false;
    }
    bool sent = false;
    bool heard = false;
    {
        const std::lock_guard<std::mutex> guard(m_sendLock);
        sent = sendLocked(code, error, &heard);
    }
    if (!heard)
        return false;
    // The end stop of the motion that went out, and the pose line, belong to this thread's timers and
    // signals; a run's timing thread hands them over by name, the figures through the lock.
    if (QThread::currentThread() == thread()) {
        armEndStop();
        tellPoseStatus();
    } else {
        QMetaObject::invokeMethod(this, "armEndStop", Qt::QueuedConnection);
        QMetaObject::invokeMethod(this, "tellPoseStatus", Qt::QueuedConnection);
    }
    return sent;
}

bool ArmSession::sendLocked(qint16 code, QString *error, bool *heard)
{
    qint64 now = clockNs();
    qint16 out = code;
    const bool inRun = m_runner->isRunning();
    // The end-stop rule: how long the motion may run before the estimate puts its joint at the end
    // it drives towards; -1 when the joint is not known (the runaway limit alone watches it then). A
    // return plan drives into the stops on purpose, for no longer than the estimate allows.
    double toEnd = -1.0;
    const bool overriding = armCodeMotion(code) && !inRun && code == m_overriding;
    if (armCodeMotion(code) && !m_returning && !m_measuring) {
        // Let past the estimated end, the motion goes on for what is left of its joint's override.
        toEnd = overriding ? double(overrideLeftNs(code)) / 1e9 : m_pose.secondsToEnd(code, now);
    }
    if (code != m_overriding)
        m_overriding = -1;
    // A step towards an end the arm is at already sends a stop in its place: the motion before it
    // ends as the step would have ended it, and the run goes on timed as written.
    std::optional<CutStep> cut;
    const int row = inRun ? m_runner->sendingRow() : 0;
    const int repetition = inRun ? m_runner->sendingRepetition() : 0;
    if (inRun && toEnd == 0.0) {
        out = 0;
        cut = CutStep{row, repetition, code};
    }
    qint64 deadline = motionDeadlineNs(code, now, inRun, overriding, toEnd);
    // A run's motion that has had its time already (steps of the same motion before this one) is
    // over: the step is cut as the end-stop rule would cut it.
    if (inRun && out != 0 && deadline != 0 && deadline <= now) {
        out = 0;
        cut = CutStep{row, repetition, code, CutStep::Why::TimeLimit,
                      double(m_runLimitsMs[size_t(code)]) / 1000.0};
    }
    if (out == 0)
        deadline = 0;
    const ArmOutlet::Delivery delivery = m_outlet->send(out, deadline);
    if (error && !delivery.error.isEmpty())
        *error = delivery.error;
    noteDelivery(out, delivery);
    if (heard)
        *heard = delivery.anyTook;
    // An arm that took the code runs it, whether or not the others did: the estimate hears it.
    if (!delivery.anyTook)
        return false;
    // The code is in the arm's hands from here.
    now = clockNs();
    noteSent(out, now);
    m_lastCode = out;
    m_lastRow = row;
    m_lastRepetition = repetition;
    if (cut)
        m_cutSteps.append(*cut);
    if (out == code && toEnd > 0.0) {
        m_endStopSerial = m_sendSerial;
        m_endStopCode = code;
        m_endStopDueNs = now + qint64(std::ceil(toEnd * 1e9));
        m_endStopRow = row;
        m_endStopRepetition = repetition;
    }
    if (out != 0 && overriding) {
        m_overrideStartNs = now;
        // Past the end the estimate gave, the estimate is no longer to be trusted at that end.
        m_pose.overridden(code, now);
    }
    return delivery.allTook;
}

void ArmSession::noteDelivery(qint16 out, const ArmOutlet::Delivery &delivery)
{
    m_stopConfirmed = out == 0 && delivery.allTook;
    if (out != 0)
        return;
    m_lastStopConfirmed = delivery.stopConfirmed;
    // Told on this object's thread, whichever thread sent.
    if (!delivery.stopConfirmed) {
        m_stopFailure = delivery.error;
        QMetaObject::invokeMethod(this, "tellStopFailed", Qt::QueuedConnection);
    }
}

void ArmSession::noteSent(qint16 out, qint64 nowNs)
{
    m_pose.apply(out, nowNs);
    ++m_sendSerial;
    m_endStopDueNs = 0;
    // The override motion, if one was on, has ended: what it ran past the end is used up.
    if (m_overrideStartNs != 0) {
        if (const auto motion = armCodeMotion(m_lastCode))
            m_overrideUsedNs[size_t(armJointIndex(motion->joint))][motion->direction > 0] += nowNs - m_overrideStartNs;
        m_overrideStartNs = 0;
    }
    // Driven the other way, a joint's overrides of the end it left start afresh.
    if (const auto motion = armCodeMotion(out))
        m_overrideUsedNs[size_t(armJointIndex(motion->joint))][motion->direction < 0] = 0;
}

qint64 ArmSession::motionDeadlineNs(qint16 code, qint64 nowNs, bool inRun, bool overriding, double overrideSeconds)
{
    if (!armCodeMotion(code)) {
        if (inRun)
            m_runMotionCode = -1;
        return 0;
    }
    if (inRun) {
        // Consecutive steps of one motion are one motion, with one time limit.
        if (code != m_runMotionCode) {
            m_runMotionCode = code;
            m_runMotionStartNs = nowNs;
            const int limit = m_runLimitsMs[size_t(code)];
            m_runMotionDeadlineNs = limit > 0 ? nowNs + qint64(limit) * 1'000'000 : 0;
        }
        return m_runMotionDeadlineNs;
    }
    if (overriding)
        return nowNs + qint64(std::ceil(overrideSeconds * 1e9)) + qint64(PanelDeadlineGraceMs) * 1'000'000;
    // The panel's runaway limit tightens this to the time the motion has left once it is armed.
    const int limit = runLimitMs(code);
    return limit > 0 ? nowNs + qint64(limit + PanelDeadlineGraceMs) * 1'000'000 : 0;
}

void ArmSession::onDeadline(quint64 serial)
{
    // The outlet's watch thread: the motion in force has had its time.
    int code = 0;
    bool panel = false;
    {
        const std::lock_guard<std::mutex> guard(m_sendLock);
        if (m_shutDown || serial != m_outlet->serial())
            return;
        code = m_lastCode;
        const bool inRun = m_runner->isRunning();
        const ArmOutlet::Delivery delivery = m_outlet->send(0);
        noteDelivery(0, delivery);
        if (delivery.anyTook) {
            const qint64 now = clockNs();
            if (inRun && armCodeMotion(code))
                m_cutSteps.append(CutStep{m_lastRow, m_lastRepetition, code, CutStep::Why::TimeLimit,
                                          double(now - m_runMotionStartNs) / 1e9});
            noteSent(0, now);
            m_lastCode = 0;
        }
        panel = !inRun;
    }
    QMetaObject::invokeMethod(
        this,
        [this, code, panel] {
            tellPoseStatus();
            if (panel)
                onMotionDeadline(code);
        },
        Qt::QueuedConnection);
}

void ArmSession::onMotionDeadline(int code)
{
    // The panel's own limit would have stopped it first; this thread was held up. The looks and the
    // recording follow as if the limit had fired.
    if (m_shutDown || running() || !armCodeMotion(code))
        return;
    if (m_motionActive && m_activeTag == StepFunctions::name(code))
        onRunLimit();
}

void ArmSession::tellStopFailed()
{
    QString why;
    {
        const std::lock_guard<std::mutex> guard(m_sendLock);
        why = std::exchange(m_stopFailure, QString());
    }
    Q_EMIT stopFailed(why);
}

bool ArmSession::setLight(bool on, QString *error)
{
    ArmOutlet::Delivery delivery;
    {
        const std::lock_guard<std::mutex> guard(m_sendLock);
        delivery = m_outlet->setLight(on);
    }
    if (error && !delivery.error.isEmpty())
        *error = delivery.error;
    return delivery.allTook;
}

bool ArmSession::light() const
{
    // From the links, not through the outlet, whose lock a send holds while a device takes its time.
    const QList<ArmLink *> all = links();
    return std::any_of(all.begin(), all.end(), [](const ArmLink *link) { return link->light(); });
}

void ArmSession::setGuard(bool on, const QString &virtualArmLog)
{
    m_guardWanted = on;
    m_guardLog = virtualArmLog;
}

void ArmSession::updateGuard()
{
    // Once shut down, the set stays as it was: the arms closing then are not arms gone.
    if (!m_guard || m_shutDown)
        return;
    // Each HID arm's output report with code 0 and each kit's stopping transfer, light off; or the
    // virtual arm's log with the bytes it logs for them.
    QList<GuardTarget> targets;
    for (const ArmLink *link : links()) {
        for (GuardTarget target : link->stopTargets(!m_guardLog.isEmpty())) {
            if (!m_guardLog.isEmpty())
                target = GuardTarget{GuardTarget::Kind::Log, m_guardLog, target.stop, ProcessClock::startNs()};
            if (!targets.contains(target))
                targets << target;
        }
    }
    m_guard->setTargets(targets, &m_guardError);
}

void ArmSession::setKits(KitArmList *kits)
{
    if (m_kits)
        m_kits->disconnect(this);
    m_kits = kits;
    m_outlet->setLinks(links());
    if (kits)
        followLink(kits);
}

void ArmSession::followLink(ArmLink *link)
{
    // Every kind of arm alike: its coming and going sets Ready (and may end a run), its refusal and its
    // stall are told. The link has already handed a stalled arm its stop and let it go.
    const auto follow = [this] {
        if (!m_starting)
            updateConnection();
    };
    connect(link, &ArmLink::armOpened, this, follow);
    connect(link, &ArmLink::armClosed, this, follow);
    connect(link, &ArmLink::openDenied, this, [this] { Q_EMIT openDenied(); });
    connect(link, &ArmLink::writeStalled, this, [this] {
        if (!m_shutDown)
            onWriteStalled();
    });
}

void ArmSession::onWriteStalled()
{
    // The arm has been handed its stop and given up; every other arm stops now.
    send(0);
    if (running())
        endRun(RunEnd::Stalled);
    else
        Q_EMIT armStalled();
}

// --- Motion

int ArmSession::activeCode() const
{
    return StepFunctions::code(m_activeTag);
}

void ArmSession::click(int code)
{
    if (code < 0 || code > 10)
        return;
    const QString tag = StepFunctions::name(code);
    // A start towards an end the estimate says is reached is refused; the motion that was on stops,
    // as the switch would have stopped it.
    if ((!m_motionActive || tag != m_activeTag) && endStopRefuses(code)) {
        if (m_motionActive)
            click(activeCode());
        else if (m_panelCode > 0)
            stopPanelMotion();
        return;
    }
    // Whatever the click decides, the code it sends is the motion the limit watches from now on.
    struct LimitAfterClick
    {
        ArmSession &session;
        int code = 0;
        ~LimitAfterClick() { session.armRunLimit(code); }
    } limit{*this};

    if (!m_motionActive) {
        Q_EMIT lookOn(code);
        m_activeTag = tag;
        m_stepTicks = 0;
        m_stepTimer->start();
        if (scriptingMode())
            recordScriptStep();
        m_motionActive = true;
        limit.code = code;
        lightAndSend(code);
    } else if (tag == m_activeTag) {
        m_stepTimer->stop();
        if (scriptingMode())
            recordScriptStep();
        Q_EMIT looksReset();
        m_motionActive = false;
        lightAndSend(0);
    } else {
        m_stepTimer->stop();
        if (scriptingMode())
            recordScriptStep();
        Q_EMIT looksReset();
        Q_EMIT lookOn(code);
        m_motionActive = false;
        limit.code = code;
        lightAndSend(code);
        m_activeTag = tag;
        if (scriptingMode())
            recordScriptStep();
        m_motionActive = true;
    }
}

void ArmSession::lightAndSend(int code)
{
    Q_EMIT codeShown(code);
    m_panelCode = code;
    send(qint16(code));
}

void ArmSession::recordScriptStep()
{
    if (!m_motionActive) {
        m_stepTimer->start();
        Q_EMIT stepBegun(m_activeTag);
        return;
    }
    m_stepTimer->stop();
    const double seconds = double(m_stepTicks) / 4.0;
    m_stepTicks = 0;
    Q_EMIT stepEnded(seconds);
}

void ArmSession::endMotionState()
{
    m_stepTicks = 0;
    m_motionActive = false;
    m_stepTimer->stop();
}

void ArmSession::jogPress(Input input, int code)
{
    if (m_shutDown || running() || code < 0 || code > 10)
        return;
    (input == Input::Key ? m_keyJogCode : m_padJogCode) = code;
    // A press of the motion that is on already takes it over: its release stops it.
    if (m_motionActive && m_activeTag == StepFunctions::name(code))
        return;
    click(code);
}

void ArmSession::jogRelease(Input input, int code)
{
    int &held = input == Input::Key ? m_keyJogCode : m_padJogCode;
    if (m_shutDown || held != code)
        return;
    held = -1;
    // A run has the arm; and a motion switched away meanwhile (another key, a click, the limit, Esc)
    // is no longer this control's to stop.
    if (running() || m_panelCode != code)
        return;
    if (m_motionActive && m_activeTag == StepFunctions::name(code)) {
        click(code);
        return;
    }
    // The motion state was ended under the running motor (a change of mode): stop the motor all the same.
    stopPanelMotion();
}

void ArmSession::onGamepadMotion(int code)
{
    // A pad pushed somewhere else is a press there (a switch, as a click would); let go, it is the
    // release of what it drove.
    const int previous = m_gamepadCode;
    m_gamepadCode = code;
    if (code >= 0)
        jogPress(Input::Pad, code);
    else if (previous >= 0)
        jogRelease(Input::Pad, previous);
}

void ArmSession::stopPanelMotion()
{
    pauseRunLimit();
    Q_EMIT looksReset();
    lightAndSend(0);
}

void ArmSession::stopEverything()
{
    if (m_shutDown)
        return;
    pauseRunLimit();
    if (running()) {
        if (m_runEnd == RunEnd::Finished)
            m_runEnd = RunEnd::Stopped;
        Q_EMIT runStopping();
        m_runner->requestStop();
        return;
    }
    if (m_motionActive) {
        click(activeCode());
        return;
    }
    stopPanelMotion();
}

// --- Runaway limit

void ArmSession::setOptions(const ControlOptions &options)
{
    if (options.travel != m_options.travel) {
        const std::lock_guard<std::mutex> guard(m_sendLock);
        m_pose.setCalibration(options.travel, clockNs());
    }
    m_options = options;
    if (m_kits)
        m_kits->setReversed(options.kitReversed);
    // A motion that is on keeps the limit it started with unless the limit is switched off.
    if (!m_options.runLimit)
        pauseRunLimit();
}

int ArmSession::runLimitMs(int code) const
{
    const ArmJointMotion *joint = armJointOfCode(code);
    if (!joint || !m_options.runLimit)
        return 0;
    if (m_runLimitOverride)
        return *m_runLimitOverride;
    const double ms = joint->fullTravelSeconds * 1000.0 * m_options.runLimitPercent / 100.0;
    return std::max(RunLimitFloorMs, int(std::lround(ms)));
}

void ArmSession::pauseRunLimit()
{
    if (!m_runLimitTimer.isActive())
        return;
    m_runLimitTimer.stop();
    m_runLimitRanMs += m_runLimitClock.elapsed();
    m_runLimitPause.start();
}

void ArmSession::armRunLimit(int code)
{
    pauseRunLimit();
    const int limit = runLimitMs(code);
    if (limit <= 0)
        return;
    // The limit counts how long the motor has run in one go: the same motion started again right after
    // it stopped (a key's auto-repeat, a pad's stick at the edge of its dead zone, quick taps) goes on
    // with the time it had.
    const bool goesOn =
        code == m_runLimitCode && m_runLimitPause.isValid() && m_runLimitPause.elapsed() < RunLimitGapMs;
    if (!goesOn)
        m_runLimitRanMs = 0;
    m_runLimitCode = code;
    m_runLimitClock.start();
    const qint64 left = std::max<qint64>(0, limit - m_runLimitRanMs);
    m_runLimitTimer.start(int(left));
    // The way out stops the motor a little after, should this thread be held up then.
    const std::lock_guard<std::mutex> guard(m_sendLock);
    if (m_outlet->codeInForce() == code && m_overrideStartNs == 0)
        m_outlet->renew(clockNs() + (left + PanelDeadlineGraceMs) * 1'000'000);
}

void ArmSession::onRunLimit()
{
    // A run sends its own codes for the times their author gave them.
    if (running())
        return;
    const int code = m_runLimitCode;
    const double seconds = double(m_runLimitRanMs + m_runLimitClock.elapsed()) / 1000.0;
    if (m_motionActive && m_activeTag == StepFunctions::name(code))
        click(code);
    else
        // The motion state was ended by a change of mode while the motor went on: stop it all the same.
        stopPanelMotion();
    // Stopped by the limit: a new start of the same motion gets its own time.
    m_runLimitPause.invalidate();
    QString joint = QString::fromLatin1(armJointOfCode(code)->name);
    joint[0] = joint[0].toUpper();
    Q_EMIT runLimitReached(
        QStringLiteral("%1 stopped after %2 s: end of travel").arg(joint, QString::number(seconds, 'f', 1)));
}

// --- Run

bool ArmSession::running() const
{
    return m_runActive || m_runner->isRunning();
}

ArmSession::RunEnd ArmSession::runScript(ScriptSource &source, int firstStep)
{
    m_runLimitTimer.stop();
    m_endStopTimer.stop();
    {
        const std::lock_guard<std::mutex> guard(m_sendLock);
        m_cutSteps.clear();
        m_endStopDueNs = 0;
        // Taken now, for the timing thread: each motion of the run may run its joint's limit.
        for (int code = 0; code < int(m_runLimitsMs.size()); ++code)
            m_runLimitsMs[size_t(code)] = runLimitMs(code);
        m_runMotionCode = -1;
    }
    m_runActive = true;
    m_runEnd = RunEnd::Finished;
    m_runFailure.clear();
    // Should the session go while the run services its events, the runner stays until the run is over.
    const std::shared_ptr<ScriptRunner> runner = m_runner;
    QPointer<ArmSession> alive(this);
    runner->RunScript(source, firstStep);
    if (!alive)
        return RunEnd::Stopped;
    m_runActive = false;
    return m_runEnd;
}

void ArmSession::stopRun()
{
    if (running() && m_runEnd == RunEnd::Finished)
        m_runEnd = RunEnd::Stopped;
    // The runner acts on it as soon as the caller's event has been handled.
    m_runner->requestStop();
}

void ArmSession::endRun(RunEnd why, const QString &failure)
{
    if (!running() || m_runEnd != RunEnd::Finished)
        return;
    m_runEnd = why;
    m_runFailure = failure;
    Q_EMIT runStopping();
    m_runner->requestStop();
}

void ArmSession::cutRunAfterFailedSend(const QString &why)
{
    // From the event loop: a write that failed because the arm has gone has already queued that
    // arm's removal, which ends the run itself and says so in its own words. The reason goes through
    // the mutex and the queued call is made by name, carrying no data of its own.
    {
        const std::lock_guard<std::mutex> guard(m_failureLock);
        if (m_failureWaiting.isEmpty())
            m_failureWaiting = why;
    }
    QMetaObject::invokeMethod(this, "takeFailure", Qt::QueuedConnection);
}

void ArmSession::takeFailure()
{
    QString why;
    {
        const std::lock_guard<std::mutex> guard(m_failureLock);
        why = std::exchange(m_failureWaiting, QString());
    }
    if (!why.isEmpty())
        endRun(RunEnd::CommandFailed, why);
}

QList<ArmSession::CutStep> ArmSession::lastRunCutSteps() const
{
    const std::lock_guard<std::mutex> guard(m_sendLock);
    return m_cutSteps;
}

QString ArmSession::CutStep::text() const
{
    QString reason = PoseEstimator::endReachedText(code);
    if (why == Why::TimeLimit) {
        QString joint = QString::fromLatin1(armCodeMotion(code) ? armCodeMotion(code)->motion().name : "motor");
        joint[0] = joint[0].toUpper();
        reason = QStringLiteral("%1 stopped after %2 s: time limit").arg(joint, QString::number(seconds, 'f', 1));
    }
    return QStringLiteral("Step %1 (%2) of repetition %3 cut short: %4")
        .arg(row)
        .arg(StepFunctions::name(code))
        .arg(repetition)
        .arg(reason);
}

QList<ArmSession::OverlongStep> ArmSession::overlongSteps(ScriptSource &source, int firstStep) const
{
    QList<OverlongStep> steps;
    const int count = source.stepCount();
    for (int row = std::max(1, firstStep); row <= count; ++row) {
        const int code = StepFunctions::code(source.functionText(row));
        const auto motion = armCodeMotion(code);
        const double seconds = LeadingNumber(source.timeText(row));
        if (!motion || !(seconds > motion->motion().fullTravelSeconds))
            continue;
        QString joint = QString::fromLatin1(motion->motion().name);
        const int limit = runLimitMs(code);
        const QString fate = limit > 0
                                 ? QStringLiteral("it will be stopped after %1 s").arg(QString::number(limit / 1000.0, 'f', 1))
                                 : QStringLiteral("nothing will stop it, the runaway limit is off");
        steps.append(OverlongStep{row, code, seconds,
                                  QStringLiteral("Step %1 (%2, %3 s) runs longer than the %4's whole travel (%5 s): %6")
                                      .arg(row)
                                      .arg(StepFunctions::name(code), source.timeText(row).trimmed(), joint,
                                           QString::number(motion->motion().fullTravelSeconds), fate)});
    }
    return steps;
}

// --- Pose

qint64 ArmSession::clockNs()
{
    return ScriptRunner::clockNs();
}

PoseEstimate ArmSession::poseEstimate() const
{
    const std::lock_guard<std::mutex> guard(m_sendLock);
    return m_pose.estimateAt(clockNs());
}

PoseEstimator ArmSession::poseEstimator() const
{
    const std::lock_guard<std::mutex> guard(m_sendLock);
    return m_pose;
}

QString ArmSession::poseStatusText() const
{
    return poseEstimate().statusText();
}

void ArmSession::tellPoseStatus()
{
    Q_EMIT poseChanged();
    const QString text = poseStatusText();
    if (text == m_poseStatus)
        return;
    m_poseStatus = text;
    Q_EMIT poseStatusChanged(text);
}

void ArmSession::declareStartPose()
{
    {
        // Where the arm stands, whatever the estimate knew of it: joints not known at their ends are
        // known from here on only relative to it.
        const std::lock_guard<std::mutex> guard(m_sendLock);
        m_pose.declareStart(clockNs());
    }
    armEndStop();
    tellPoseStatus();
}

void ArmSession::markAtEnd(int code)
{
    {
        const std::lock_guard<std::mutex> guard(m_sendLock);
        m_pose.markAtEnd(code, clockNs());
    }
    tellPoseStatus();
}

void ArmSession::setMeasuring(bool measuring)
{
    const std::lock_guard<std::mutex> guard(m_sendLock);
    m_measuring = measuring;
}

void ArmSession::forgetPose()
{
    {
        const std::lock_guard<std::mutex> guard(m_sendLock);
        m_pose.forget(clockNs());
        m_endStopDueNs = 0;
    }
    m_endStopTimer.stop();
    tellPoseStatus();
}

ArmSession::RunEnd ArmSession::returnToStart(QString *refusal)
{
    const auto refuse = [refusal](const QString &why) {
        if (refusal)
            *refusal = why;
        return RunEnd::Finished;
    };
    if (m_shutDown || running())
        return refuse(QStringLiteral("Return to start waits until the run is over"));
    if (!m_ready)
        return refuse(QStringLiteral("No arm to return to its start pose"));
    QList<PlanStep> plan;
    bool known = false;
    {
        const std::lock_guard<std::mutex> guard(m_sendLock);
        const qint64 now = clockNs();
        known = m_pose.started() && m_pose.known(now);
        if (known)
            plan = m_pose.returnToStart(now);
    }
    if (!known)
        return refuse(QStringLiteral("Pose unknown: no way back to the start. Set the start pose first"));
    if (plan.isEmpty())
        return refuse(QStringLiteral("The arm is at its start pose"));
    PlanScript script(*this, plan);
    QPointer<ArmSession> alive(this);
    m_returning = true;
    const RunEnd end = runScript(script);
    if (alive)
        m_returning = false;
    return end;
}

void ArmSession::armEndStop()
{
    qint64 due = 0;
    {
        const std::lock_guard<std::mutex> guard(m_sendLock);
        if (m_endStopSerial == m_sendSerial)
            due = m_endStopDueNs;
    }
    if (due == 0 || m_shutDown) {
        m_endStopTimer.stop();
        return;
    }
    const qint64 left = due - clockNs();
    m_endStopTimer.start(int(std::max<qint64>(0, (left + 999'999) / 1'000'000)));
}

qint64 ArmSession::overrideLeftNs(int code) const
{
    const auto motion = armCodeMotion(code);
    if (!motion)
        return 0;
    const qint64 used = m_overrideUsedNs[size_t(armJointIndex(motion->joint))][motion->direction > 0];
    return std::max<qint64>(0, qint64(EndStopOverrideBudgetMs) * 1'000'000 - used);
}

bool ArmSession::endStopRefuses(int code)
{
    if (!armCodeMotion(code))
        return false;
    {
        const std::lock_guard<std::mutex> guard(m_sendLock);
        // Once let past an end, the joint is no longer known there; until it is driven the other way,
        // it stays at that end as far as overrides go, however often one is asked for.
        if (m_pose.secondsToEnd(code, clockNs()) != 0.0 && overrideLeftNs(code) == EndStopOverrideBudgetMs * 1'000'000LL)
            return false;
        // The same command again, soon after the rule said no: the operator knows better than the
        // estimate, this once, and for no more than what is left of the joint's override.
        if (m_overrideCode == code && m_overrideClock.isValid() && m_overrideClock.elapsed() < EndStopOverrideMs &&
            overrideLeftNs(code) >= 10'000'000) {
            m_overrideCode = -1;
            m_overriding = code;
            return false;
        }
    }
    m_overrideCode = code;
    m_overrideClock.start();
    Q_EMIT endStopReached(PoseEstimator::endReachedText(code));
    return true;
}

void ArmSession::onEndStop()
{
    if (m_shutDown)
        return;
    int code = 0;
    bool overridden = false;
    {
        const std::lock_guard<std::mutex> guard(m_sendLock);
        // Another code went out meanwhile: its own reckoning stands.
        if (m_endStopDueNs == 0 || m_endStopSerial != m_sendSerial)
            return;
        m_endStopDueNs = 0;
        code = m_endStopCode;
        overridden = m_overrideStartNs != 0;
        if (m_runner->isRunning()) {
            // Under the lock, so that the run's next step cannot come between; the run keeps its time.
            const int row = m_endStopRow;
            const int repetition = m_endStopRepetition;
            if (m_ready && sendLocked(0, nullptr))
                m_cutSteps.append(CutStep{row, repetition, code});
            code = -1;
        }
    }
    if (code < 0) {
        tellPoseStatus();
        return;
    }
    // A panel motion: stopped as a second click would stop it, recorded so in Scripting mode.
    if (m_motionActive && m_activeTag == StepFunctions::name(code))
        click(code);
    else
        stopPanelMotion();
    // The end of an override is no refusal: asking again is refused first, and only then may pass.
    if (!overridden) {
        m_overrideCode = code;
        m_overrideClock.start();
    }
    Q_EMIT endStopReached(PoseEstimator::endReachedText(code));
}
