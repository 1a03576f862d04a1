#include "ArmSession.h"

#include "ArmDeviceList.h"
#include "ArmMotion.h"
#include "Gamepad.h"
#include "HIDagentX.h"
#include "KitArmList.h"
#include "ScriptRunner.h"
#include "StepFunctions.h"

#include <QPointer>

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

const ArmJointMotion *jointOfCode(int code)
{
    for (const ArmJointMotion &motion : armJointMotions) {
        if (motion.codeTowardsMax == code || motion.codeTowardsMin == code)
            return &motion;
    }
    return nullptr;
}

} // namespace

ArmSession::ArmSession(HidTransport *transport, QObject *parent)
    : QObject(parent), m_transport(transport), m_agent(std::make_unique<HIDagentX>(transport)),
      m_devices(std::make_unique<ArmDeviceList>(*m_agent, this)),
      m_gamepad(std::make_unique<Gamepad>(transport)), m_runner(std::make_shared<ScriptRunner>()),
      m_stepTimer(new QTimer(this))
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
}

ArmSession::~ArmSession()
{
    shutDown();
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
    m_runLimitTimer.stop();
    // The run's loop ends as soon as the caller's event is handled; its own stop code is not sent, the
    // one below stands for it. Its timing thread is done with the devices before they close.
    runStep([this] {
        if (m_runActive && m_runEnd == RunEnd::Finished)
            m_runEnd = RunEnd::Stopped;
        m_runner->stopAndWait();
    });
    // A running motor would otherwise keep going, against its end stop, with nothing left to stop it.
    runStep([this, sendStop] {
        if (m_ready && sendStop)
            send(0);
    });
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
    Q_EMIT readyChanged(false);
    // Stopped here and now: a replugged arm must not take up a script in the middle.
    if (wasReady && !m_shutDown)
        endRun(RunEnd::Disconnected);
}

bool ArmSession::send(qint16 code, QString *error)
{
    // The Ready state as a flag any thread may read; the device list takes the HID lock itself.
    if (!m_ready)
        return false;
    bool sent = true;
    QString why;
    try {
        sent = m_devices->SendToAll(code, &why);
    } catch (const std::exception &e) {
        why = QString::fromLocal8Bit(e.what());
        sent = false;
    }
    if (m_kits) {
        QString kitWhy;
        if (!m_kits->SendToAll(code, &kitWhy)) {
            if (why.isEmpty())
                why = kitWhy;
            sent = false;
        }
    }
    if (error && !why.isEmpty())
        *error = why;
    return sent;
}

void ArmSession::setKits(KitArmList *kits)
{
    if (m_kits)
        m_kits->disconnect(this);
    m_kits = kits;
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

int ArmSession::activeCode() const
{
    return StepFunctions::code(m_activeTag);
}

void ArmSession::click(int code)
{
    if (code < 0 || code > 10)
        return;
    // Whatever the click decides, the code it sends is the motion the limit watches from now on.
    struct LimitAfterClick
    {
        ArmSession &session;
        int code = 0;
        ~LimitAfterClick() { session.armRunLimit(code); }
    } limit{*this};
    const QString tag = StepFunctions::name(code);

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
    m_options = options;
    if (m_kits)
        m_kits->setReversed(options.kitReversed);
    // A motion that is on keeps the limit it started with unless the limit is switched off.
    if (!m_options.runLimit)
        pauseRunLimit();
}

int ArmSession::runLimitMs(int code) const
{
    const ArmJointMotion *joint = jointOfCode(code);
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
    m_runLimitTimer.start(int(std::max<qint64>(0, limit - m_runLimitRanMs)));
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
    QString joint = QString::fromLatin1(jointOfCode(code)->name);
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
