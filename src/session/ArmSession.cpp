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
      m_run([this](qint16 code, QString *why) { return !m_shutDown && send(code, why); }), m_panel(*this)
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
    if (m_guard && (!m_ready || m_stopConfirmed))
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
    {
        const auto hid = m_agent->lock();
        const std::lock_guard<std::mutex> guard(m_sendLock);
        m_endStops.lost(clockNs());
        m_outlet->forget();
        // An arm that comes back has been without power: nothing runs that a guard would have to stop.
        m_stopConfirmed = true;
    }
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
    // The Ready state as a flag any thread may read; the device list takes the HID lock itself.
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
        // The HID lock first, as whatever the component tells under it (an interface closed) may come
        // to the pose; the device list takes it again inside.
        const auto hid = m_agent->lock();
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
    const bool inRun = m_run.playing();
    const EndStopGuard::Reckoning reckoning = m_endStops.reckon(code, now, inRun, m_run.returning());
    const int row = inRun ? m_run.sendingRow() : 0;
    const int repetition = inRun ? m_run.sendingRepetition() : 0;
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
    m_endStops.sent(out, code, reckoning, row, repetition, clockNs());
    m_lastCode = out;
    m_lastRow = row;
    m_lastRepetition = repetition;
    if (cut)
        m_cutSteps.append(*cut);
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

qint64 ArmSession::motionDeadlineNs(qint16 code, qint64 nowNs, bool inRun, const EndStopGuard::Reckoning &reckoning)
{
    if (inRun)
        return m_runLimits.deadlineFor(code, nowNs);
    if (!armCodeMotion(code))
        return 0;
    if (reckoning.overriding)
        return nowNs + qint64(std::ceil(reckoning.toEnd * 1e9)) + qint64(PanelDeadlineGraceMs) * 1'000'000;
    // The panel's runaway limit tightens this to the time the motion has left once it is armed.
    const int limit = m_limit.limitMs(code);
    return limit > 0 ? nowNs + qint64(limit + PanelDeadlineGraceMs) * 1'000'000 : 0;
}

void ArmSession::onDeadline(quint64 serial)
{
    // The outlet's watch thread: the motion in force has had its time.
    int code = 0;
    bool panel = false;
    {
        const auto hid = m_agent->lock();
        const std::lock_guard<std::mutex> guard(m_sendLock);
        if (m_shutDown || serial != m_outlet->serial())
            return;
        code = m_lastCode;
        const bool inRun = m_run.playing();
        const ArmOutlet::Delivery delivery = m_outlet->send(0);
        noteDelivery(0, delivery);
        if (delivery.anyTook) {
            const qint64 now = clockNs();
            if (inRun && armCodeMotion(code))
                m_cutSteps.append(CutStep{m_lastRow, m_lastRepetition, code, CutStep::Why::TimeLimit,
                                          double(now - m_runLimits.motionStartNs()) / 1e9});
            m_endStops.sent(0, 0, {}, 0, 0, now);
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
    if (m_panel.active() && m_panel.activeTag() == StepFunctions::name(code))
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
        const auto hid = m_agent->lock();
        const std::lock_guard<std::mutex> guard(m_sendLock);
        delivery = m_outlet->setLight(on);
    }
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
    {
        const std::lock_guard<std::mutex> guard(m_sendLock);
        if (!m_endStops.refuses(code, clockNs()))
            return false;
    }
    Q_EMIT endStopReached(PoseEstimator::endReachedText(code));
    return true;
}

// --- Runaway limit

void ArmSession::setOptions(const ControlOptions &options)
{
    if (options.travel != m_options.travel) {
        const std::lock_guard<std::mutex> guard(m_sendLock);
        m_endStops.pose().setCalibration(options.travel, clockNs());
    }
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
    const auto hid = m_agent->lock();
    const std::lock_guard<std::mutex> guard(m_sendLock);
    if (m_outlet->codeInForce() == code && !m_endStops.overrideOn())
        m_outlet->renew(clockNs() + (*left + PanelDeadlineGraceMs) * 1'000'000);
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
    {
        const std::lock_guard<std::mutex> guard(m_sendLock);
        m_cutSteps.clear();
        m_endStops.takeDue();
        // Taken now, for the timing thread: each motion of the run may run its joint's limit.
        m_runLimits.take(m_limit);
    }
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
    const std::lock_guard<std::mutex> guard(m_sendLock);
    return m_cutSteps;
}

// --- Pose

qint64 ArmSession::clockNs()
{
    return ScriptRunner::clockNs();
}

PoseEstimate ArmSession::poseEstimate() const
{
    const std::lock_guard<std::mutex> guard(m_sendLock);
    return m_endStops.pose().estimateAt(clockNs());
}

PoseEstimator ArmSession::poseEstimator() const
{
    const std::lock_guard<std::mutex> guard(m_sendLock);
    return m_endStops.pose();
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
        m_endStops.pose().declareStart(clockNs());
    }
    armEndStop();
    tellPoseStatus();
}

void ArmSession::markAtEnd(int code)
{
    {
        const std::lock_guard<std::mutex> guard(m_sendLock);
        m_endStops.pose().markAtEnd(code, clockNs());
    }
    tellPoseStatus();
}

void ArmSession::setMeasuring(bool measuring)
{
    const std::lock_guard<std::mutex> guard(m_sendLock);
    m_endStops.setMeasuring(measuring);
}

void ArmSession::forgetPose()
{
    {
        const std::lock_guard<std::mutex> guard(m_sendLock);
        m_endStops.forget(clockNs());
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
        const PoseEstimator &pose = m_endStops.pose();
        known = pose.started() && pose.known(now);
        if (known)
            plan = pose.returnToStart(now);
    }
    if (!known)
        return refuse(QStringLiteral("Pose unknown: no way back to the start. Set the start pose first"));
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
    qint64 due = 0;
    {
        const std::lock_guard<std::mutex> guard(m_sendLock);
        due = m_endStops.dueNs();
    }
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
    std::optional<EndStopGuard::Due> due;
    bool inRun = false;
    {
        const auto hid = m_agent->lock();
        const std::lock_guard<std::mutex> guard(m_sendLock);
        // Another code went out meanwhile: its own reckoning stands.
        due = m_endStops.takeDue();
        if (!due)
            return;
        inRun = m_run.playing();
        if (inRun) {
            // Under the lock, so that the run's next step cannot come between; the run keeps its time.
            if (m_ready && sendLocked(0, nullptr))
                m_cutSteps.append(CutStep{due->row, due->repetition, due->code});
        }
    }
    if (inRun) {
        tellPoseStatus();
        return;
    }
    // A panel motion: stopped as a second click would stop it, recorded so in Scripting mode.
    m_panel.end(due->code);
    // The end of an override is no refusal: asking again is refused first, and only then may pass.
    if (!due->overridden) {
        const std::lock_guard<std::mutex> guard(m_sendLock);
        m_endStops.noteStopped(due->code, clockNs());
    }
    Q_EMIT endStopReached(PoseEstimator::endReachedText(due->code));
}
