#include "ArmSession.h"

#include "ArmDeviceList.h"
#include "ArmMotion.h"
#include "ArmOutlet.h"
#include "Gamepad.h"
#include "GuardLink.h"
#include "HIDagentX.h"
#include "KitArmList.h"
#include "KitCommand.h"
#include "ProcessClock.h"
#include "ScriptRunner.h"
#include "NumberReading.h"
#include "StepFunctions.h"
#include "TVantor.h"

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
    void stepStarting(int row) override { Q_EMIT m_session.returnStepStarting(row); }

private:
    ArmSession &m_session;
    const QList<PlanStep> m_plan;
};

} // namespace

ArmSession::ArmSession(HidTransport *transport, QObject *parent)
    : QObject(parent), m_transport(transport), m_agent(std::make_unique<HIDagentX>(transport)),
      m_devices(std::make_unique<ArmDeviceList>(*m_agent, this)),
      m_outlet(std::make_unique<ArmOutlet>(m_devices.get())),
      m_gamepad(std::make_unique<Gamepad>(transport)),
      // Once the session shuts down, its own stop stands for the run's.
      m_run([this](qint16 code, QString *why) { return !m_shutDown && send(code, why); }), m_panel(*this),
      m_gate(*m_outlet, m_limit, [this] { return m_agent->lock(); },
             [this] {
                 return MotionGate::RunState{m_run.playing(), m_run.sendingRow(), m_run.sendingRepetition(),
                                             m_run.returning()};
             })
{
    // Design-time settings of the component.
    m_agent->SetLogFile(QStringLiteral("HidLog.txt"));
    m_agent->SetLogging(false);
    m_agent->SetTimeOut(3000);
    // The component's events have no handling of their own: an error ends the handler where it
    // happens, and Qt slots must not let it escape.
    HIDagentX *agent = m_agent.get();
    connect(agent, &HIDagentX::OnDeviceArrival, this, &ArmSession::onArrival);
    connect(agent, &HIDagentX::OnDeviceRemoval, this, [this] {
        if (!m_starting)
            updateConnection();
    });
    connect(agent, &HIDagentX::OnIntfOpened, this, [this] { runStep([this] { m_devices->OnIntfOpened(); }); });
    connect(agent, &HIDagentX::OnIntfClosed, this, &ArmSession::onIntfClosed);
    connect(agent, &HIDagentX::OnRptArrived, this, [this](int inIntf, int all) {
        runStep([&] { m_devices->OnRptArrived(inIntf, all); });
    });
    connect(agent, &HIDagentX::OnOpenDenied, this, &ArmSession::openDenied);
    connect(agent, &HIDagentX::OnWriteStalled, this, &ArmSession::onWriteStalled);

    connect(m_gamepad.get(), &Gamepad::motionChanged, this, [this](int code) { m_panel.padMoved(code); });
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
    // The component closes its interfaces when it goes; nothing here may hear about it then.
    m_agent->disconnect(this);
    m_gamepad->disconnect(this);
    if (m_kits)
        m_kits->disconnect(this);
}

// --- Connection

bool ArmSession::deviceNameMatches(const QString &deviceName) const
{
    const QString name = deviceName.trimmed().toUpper();
    if (name.isEmpty())
        return false;
    return name.contains(m_identity, Qt::CaseSensitive);
}

void ArmSession::start(bool followGamepad)
{
    m_starting = true;
    if (m_guardWanted) {
        m_guard = std::make_unique<GuardLink>();
        if (!m_guard->start(&m_guardError))
            m_guard.reset();
    }
    runStep([this] {
        m_agent->SetShowOperations(false);
        m_agent->SetVerbose(false);
        m_agent->StartAgent();
    });
    runStep([this] {
        m_agent->SetVID_To_Match(ArmVendorId);
        m_agent->SetPID_To_Match(ArmProductId);
        m_agent->SetSearchOnPID(true);
        m_agent->SetSearchOnVID(true);
        m_agent->OpenMatchingIntfs();
    });
    if (m_kits)
        runStep([this] { m_kits->start(); });
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
    runStep([this] { m_agent->StopAgent(); });
    if (m_kits)
        runStep([this] { m_kits->stop(); });
    runStep([this] { m_gamepad->stop(); });
}

bool ArmSession::armInterfaceOpen() const
{
    if (m_kits && m_kits->count() > 0)
        return true;
    const auto guard = m_agent->lock();
    for (int i = 0; i < m_agent->IntfCount(); ++i) {
        if (deviceNameMatches(m_agent->IntfInfoAt(i).deviceName()))
            return true;
    }
    return false;
}

QStringList ArmSession::attachedArms() const
{
    QStringList arms;
    {
        const auto guard = m_agent->lock();
        for (int i = 0; i < m_agent->IntfCount(); ++i) {
            const HidInterfaceInfo info = m_agent->IntfInfoAt(i);
            if (deviceNameMatches(info.deviceName()))
                arms << QStringLiteral("HID board %1:%2, %3")
                            .arg(info.vendorId, 4, 16, QLatin1Char('0'))
                            .arg(info.productId, 4, 16, QLatin1Char('0'))
                            .arg(info.path);
        }
    }
    if (m_kits) {
        for (const KitDeviceInfo &kit : m_kits->arms())
            arms << QStringLiteral("USB interface kit %1").arg(kit.describe());
    }
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
    if (m_shutDown || running() || !armCodeMotion(code))
        return;
    if (m_panel.active() && m_panel.activeTag() == StepFunctions::name(code))
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
    return m_outlet->light();
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
    const auto add = [&](GuardTarget target) {
        if (!m_guardLog.isEmpty())
            target = GuardTarget{GuardTarget::Kind::Log, m_guardLog, target.stop, ProcessClock::startNs()};
        if (!targets.contains(target))
            targets << target;
    };
    {
        const auto hid = m_agent->lock();
        for (int i = 1; i <= m_devices->Count(); ++i) {
            QString path;
            bool numbered = false;
            const QByteArray report = m_devices->Item(i)->OutputRptBWith(0, &path, &numbered);
            if (report.isEmpty())
                continue;
            // A device without report IDs never sees the ID byte, nor does its log.
            add({GuardTarget::Kind::Hid, path, m_guardLog.isEmpty() || numbered ? report : report.mid(1)});
        }
    }
    if (m_kits) {
        const QByteArray stop = KitCommand::encode(0, false);
        for (const KitDeviceInfo &kit : m_kits->arms()) {
            add(m_guardLog.isEmpty() ? GuardTarget::controlTransfer(kit.path, KitCommand::RequestType,
                                                                     KitCommand::Request, KitCommand::Value,
                                                                     KitCommand::Index, stop)
                                     : GuardTarget{GuardTarget::Kind::Kit, kit.path, stop});
        }
    }
    m_guard->setTargets(targets, &m_guardError);
}

void ArmSession::setKits(KitArmList *kits)
{
    if (m_kits)
        m_kits->disconnect(this);
    m_kits = kits;
    m_outlet->setKits(kits);
    if (!kits)
        return;
    // A kit is an arm like the HID arm: its coming and going sets Ready (and may end a run), its
    // refusal and its stall are told as theirs are. The list has already handed a stalled kit its
    // stop and let it go.
    const auto followKits = [this] {
        if (!m_starting && !m_shutDown)
            updateConnection();
    };
    connect(kits, &KitArmList::armOpened, this, followKits);
    connect(kits, &KitArmList::armClosed, this, followKits);
    connect(kits, &KitArmList::openDenied, this, [this] { Q_EMIT openDenied(); });
    connect(kits, &KitArmList::writeStalled, this, [this] {
        if (!m_shutDown)
            onWriteStalled();
    });
}

void ArmSession::onArrival()
{
    if (m_starting)
        return;
    runStep([this] { m_agent->OpenMatchingIntfs(); });
    updateConnection();
}

void ArmSession::onIntfClosed(int numStillOpen, const QString &name, int handle)
{
    runStep([&] { m_devices->OnIntfClosed(numStillOpen, name, handle); });
    // Closed without a removal event too (a write to a device that has gone).
    if (!m_starting)
        updateConnection();
}

void ArmSession::onWriteStalled()
{
    // The arm is given up right after this. A stop handed to it now waits behind the report it is
    // stuck on and goes out should it ever take that one; every other arm stops at once.
    send(0);
    if (running())
        endRun(RunEnd::Stalled);
    else
        Q_EMIT armStalled();
}

// --- Motion

void ArmSession::click(int code)
{
    m_panel.click(code);
}

void ArmSession::endMotionState()
{
    m_panel.endMotionState();
}

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

void ArmSession::jogPress(Input input, int code)
{
    m_panel.jogPress(input, code);
}

void ArmSession::jogRelease(Input input, int code)
{
    m_panel.jogRelease(input, code);
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

bool ArmSession::refusesStart(int code)
{
    if (!m_gate.refusesStart(code))
        return false;
    Q_EMIT endStopReached(PoseEstimator::endReachedText(code));
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

int ArmSession::runLimitMs(int code) const
{
    return m_limit.limitMs(code);
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

QList<OverlongStep> ArmSession::overlongSteps(ScriptSource &source, int firstStep) const
{
    return findOverlongSteps(source, firstStep, [this](int code) { return m_limit.limitMs(code); });
}

// --- Run

bool ArmSession::running() const
{
    return m_run.running();
}

ArmSession::RunEnd ArmSession::runScript(ScriptSource &source, int firstStep)
{
    m_limit.stop();
    m_endStopTimer.stop();
    m_gate.runStarts();
    return m_run.play(source, firstStep);
}

void ArmSession::stopRun()
{
    m_run.stop();
}

void ArmSession::endRun(RunEnd why, const QString &failure)
{
    m_run.end(why, failure);
}

void ArmSession::cutRunAfterFailedSend(const QString &why)
{
    m_run.cutAfterFailedSend(why);
}

QList<CutStep> ArmSession::lastRunCutSteps() const
{
    return m_gate.cutSteps();
}

// --- Pose

qint64 ArmSession::clockNs()
{
    return ScriptRunner::clockNs();
}

PoseEstimate ArmSession::poseEstimate() const
{
    return m_gate.estimate();
}

PoseEstimator ArmSession::poseEstimator() const
{
    return m_gate.estimator();
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

void ArmSession::setMeasuring(bool measuring)
{
    m_gate.setMeasuring(measuring);
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
    PlanScript script(*this, plan);
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
    Q_EMIT endStopReached(PoseEstimator::endReachedText(due.code));
}
