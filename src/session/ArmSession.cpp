#include "ArmSession.h"

#include "ArmMotion.h"
#include "ArmOutlet.h"
#include "Gamepad.h"
#include "GuardLink.h"
#include "HidArmLink.h"
#include "KitArmList.h"
#include "ProcessClock.h"
#include "ScriptRunner.h"
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

} // namespace

ArmSession::ArmSession(HidTransport *transport, QObject *parent)
    : QObject(parent), m_hid(std::make_unique<HidArmLink>(transport)),
      m_outlet(std::make_unique<ArmOutlet>(QList<ArmLink *>{m_hid.get()})),
      m_gamepad(std::make_unique<Gamepad>(transport)),
      // Once the session shuts down, its own stop stands for the run's.
      m_run([this](qint16 code, QString *why) { return !m_shutDown && send(code, why); }), m_panel(*this),
      m_gate(*m_outlet, m_limit, [this] {
                 return MotionGate::RunState{m_run.playing(), m_run.sendingRow(), m_run.sendingRepetition(),
                                             m_run.returning()};
             })
{
    followLink(m_hid.get());

    connect(m_gamepad.get(), &Gamepad::motionChanged, this, [this](int code) {
        // A pad let go still ends what it drove.
        if (!m_jogLocked || code < 0)
            m_panel.padMoved(code);
    });
    connect(m_gamepad.get(), &Gamepad::stopPressed, this, &ArmSession::stopEverything);
    connect(m_gamepad.get(), &Gamepad::openDenied, this,
            [this](const QString &, const QString &reason) { Q_EMIT gamepadDenied(reason); });

    // A step's command should go out on time even while the rest of the machine is busy. The run's
    // timing thread sleeps between steps, so it takes little from anyone; where the system does not
    // allow real-time scheduling the run simply goes on without it.
    m_run.setRealtimeScheduling(true);
    connect(&m_run, &RunController::stopping, this, &ArmSession::runStopping);

    connect(&m_panel, &PanelMotion::lookOn, this, &ArmSession::lookOn);
    connect(&m_panel, &PanelMotion::looksReset, this, &ArmSession::looksReset);
    connect(&m_panel, &PanelMotion::codeShown, this, &ArmSession::codeShown);
    connect(&m_panel, &PanelMotion::stepBegun, this, &ArmSession::stepBegun);
    connect(&m_panel, &PanelMotion::stepEnded, this, &ArmSession::stepEnded);
    connect(&m_limit, &RunawayLimit::reached, this, &ArmSession::onRunLimit);
    m_endStopTimer.setSingleShot(true);
    m_endStopTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_endStopTimer, &QTimer::timeout, this, &ArmSession::onEndStop);
    m_outlet->setDeadlineHandler([this](quint64 serial) { onDeadline(serial); });
    // Told on this object's thread, whichever thread sent.
    m_gate.setStopFailedHandler([this] { QMetaObject::invokeMethod(this, "tellStopFailed", Qt::QueuedConnection); });
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
    m_limit.stop();
    m_endStopTimer.stop();
    // The run's own stop code is not sent, the one below stands for it. Its timing thread is done with
    // the devices before they close.
    runStep([this] { m_run.stopAndWait(); });
    // A running motor would otherwise keep going, against its end stop, with nothing left to stop it.
    runStep([this, sendStop] {
        if (sendStop)
            send(0);
    });
    // The guard stands down only after a stop that reached every arm; otherwise it tries too.
    if (m_guard && (!m_ready || m_gate.stopConfirmed()))
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
        if (!wasReady || !std::exchange(m_readyTold, true))
            Q_EMIT readyChanged(true);
        Q_EMIT armsChanged();
        // Back while the run it cut short winds down: the stop went out to no arm when it was asked
        // for, so this one gets it now.
        if (!wasReady && m_run.running() && m_run.lastEnd() == RunEnd::Disconnected)
            send(0);
        return;
    }
    m_ready = false;
    // The arm's controller is powered through the cable: whatever ran has stopped, nothing may send it
    // again should the arm come back, and the arm may be moved by hand before it is back, so the pose
    // is forgotten.
    m_gate.armLost();
    m_endStopTimer.stop();
    if (wasReady || !std::exchange(m_readyTold, true))
        Q_EMIT readyChanged(false);
    Q_EMIT armsChanged();
    // Stopped here and now: a replugged arm must not take up a script in the middle.
    if (wasReady && !m_shutDown)
        endRun(RunEnd::Disconnected);
}

bool ArmSession::send(qint16 code, QString *error)
{
    // The Ready state as a flag any thread may read.
    if (!m_ready) {
        if (code == 0)
            m_gate.noArm();
        return false;
    }
    const MotionGate::Sent sent = m_gate.send(code, error);
    if (!sent.heard)
        return false;
    // The end stop of the motion that went out, and the pose line, belong to this thread's timers and
    // signals; a run's timing thread hands them over by name, the figures through the gate.
    if (QThread::currentThread() == thread()) {
        armEndStop();
        tellPoseStatus();
    } else {
        QMetaObject::invokeMethod(this, "armEndStop", Qt::QueuedConnection);
        QMetaObject::invokeMethod(this, "tellPoseStatus", Qt::QueuedConnection);
    }
    return sent.allTook;
}

void ArmSession::onDeadline(quint64 serial)
{
    // The outlet's watch thread: the motion in force has had its time.
    if (m_shutDown)
        return;
    const std::optional<MotionGate::DeadlineStop> stop = m_gate.stopAtDeadline(serial);
    if (!stop)
        return;
    QMetaObject::invokeMethod(
        this,
        [this, stop] {
            tellPoseStatus();
            if (stop->panel)
                onMotionDeadline(stop->code);
        },
        Qt::QueuedConnection);
}

void ArmSession::onMotionDeadline(int code)
{
    // The panel's own limit would have stopped it first; this thread was held up. The looks and the
    // recording follow as if the limit had fired.
    if (m_shutDown || running() || !armCodeMoves(code))
        return;
    if (m_panel.active() && m_panel.activeCode() == code)
        onRunLimit();
}

void ArmSession::tellStopFailed()
{
    Q_EMIT stopFailed(m_gate.takeStopFailure());
}

bool ArmSession::setLight(bool on, QString *error)
{
    const ArmOutlet::Delivery delivery = m_gate.setLight(on);
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

bool ArmSession::boundMotion(int code, int ms)
{
    if (m_shutDown || running() || !m_panel.active() || m_panel.activeCode() != code)
        return false;
    qint64 leftMs = ms;
    if (m_limit.armed() && m_limit.code() == code)
        leftMs = std::min<qint64>(leftMs, m_limit.leftMs());
    m_gate.renewPanelMotion(code, leftMs);
    return true;
}

void ArmSession::stopEverything()
{
    if (m_shutDown)
        return;
    m_limit.pause();
    if (running())
        m_run.interrupt();
    else
        m_panel.stop();
}

QString ArmSession::refusesSeveral() const
{
    return m_outlet->refusesSeveral();
}

bool ArmSession::refusesStart(int code)
{
    // Whoever asked for several joints at once has been told why not (SessionArm asks first).
    if (armCodeCombined(code) && !refusesSeveral().isEmpty())
        return true;
    int endCode = code;
    if (!m_gate.refusesStart(code, &endCode))
        return false;
    Q_EMIT endStopReached(PoseEstimator::endReachedText(endCode));
    return true;
}

// --- Runaway limit

void ArmSession::setOptions(const ControlOptions &options)
{
    if (options.travel != m_options.travel)
        m_gate.changePose([&](PoseEstimator &pose, qint64 now) { pose.setCalibration(options.travel, now); });
    m_options = options;
    if (m_kits)
        m_kits->setReversed(options.kitReversed);
    m_limit.setLimits(options.runLimit, options.runLimitPercent);
}

void ArmSession::limitFollows(int code)
{
    const std::optional<qint64> left = m_limit.arm(code);
    if (!left)
        return;
    // The way out stops the motor a little after, should this thread be held up then.
    m_gate.renewPanelMotion(code, *left);
}

void ArmSession::onRunLimit()
{
    // A run sends its own codes for the times their author gave them.
    if (running())
        return;
    const int code = m_limit.code();
    const double seconds = m_limit.ranSeconds();
    m_panel.end(code);
    // Stopped by the limit: a new start of the same motion gets its own time.
    m_limit.stop();
    Q_EMIT runLimitReached(RunawayLimit::reachedText(code, seconds));
}

// --- Run

ArmSession::RunEnd ArmSession::runScript(ScriptSource &source, int firstStep)
{
    m_limit.stop();
    m_endStopTimer.stop();
    m_gate.runStarts();
    return m_run.play(source, firstStep);
}

// --- Pose

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
    // Where the arm stands, whatever the estimate knew of it: joints not known at their ends are known
    // from here on only relative to it.
    m_gate.changePose([](PoseEstimator &pose, qint64 now) { pose.declareStart(now); });
    armEndStop();
    tellPoseStatus();
}

void ArmSession::markAtEnd(int code)
{
    m_gate.changePose([code](PoseEstimator &pose, qint64 now) { pose.markAtEnd(code, now); });
    tellPoseStatus();
}

void ArmSession::forgetPose()
{
    m_gate.forgetPose();
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
    const PoseEstimator pose = m_gate.estimator();
    const qint64 now = clockNs();
    if (!pose.started() || !pose.known(now))
        return refuse(QStringLiteral("Pose unknown: no way back to the start. Set the start pose first"));
    const QList<PlanStep> plan = pose.returnToStart(now);
    if (plan.isEmpty())
        return refuse(QStringLiteral("The arm is at its start pose"));
    PlanScript script(plan, [this](int row) { Q_EMIT returnStepStarting(row); });
    QPointer<ArmSession> alive(this);
    m_run.setReturning(true);
    const RunEnd end = runScript(script);
    if (alive)
        m_run.setReturning(false);
    return end;
}

void ArmSession::armEndStop()
{
    const qint64 due = m_gate.endStopDueNs();
    if (due == 0 || m_shutDown) {
        m_endStopTimer.stop();
        return;
    }
    const qint64 left = due - clockNs();
    m_endStopTimer.start(int(std::max<qint64>(0, (left + 999'999) / 1'000'000)));
}

void ArmSession::onEndStop()
{
    if (m_shutDown)
        return;
    const std::optional<MotionGate::EndStop> stop = m_gate.stopAtEnd(m_ready);
    if (!stop)
        return;
    const EndStopGuard::Due &due = stop->due;
    if (stop->inRun) {
        tellPoseStatus();
        return;
    }
    // A panel motion: stopped as a second click would stop it, recorded so in Scripting mode.
    m_panel.end(due.code);
    // The end of an override is no refusal: asking again is refused first, and only then may pass.
    if (!due.overridden)
        m_gate.noteEndStopped(due.code);
    Q_EMIT endStopReached(PoseEstimator::endReachedText(due.endCode));
}
