#include "PanelMotion.h"

#include "ArmMotion.h"
#include "StepFunctions.h"

bool JogArbiter::press(Input input, int code, int activeCode)
{
    held(input) = code;
    return activeCode != code;
}

JogArbiter::Release JogArbiter::release(Input input, int code, bool running, int panelCode, int activeCode)
{
    int &control = held(input);
    if (control != code)
        return Release::Nothing;
    control = -1;
    if (running || panelCode != code)
        return Release::Nothing;
    // The motion state may have been ended under the running motor (a change of mode): the motor
    // stops all the same.
    return activeCode == code ? Release::Click : Release::StopMotor;
}

JogArbiter::PadChange JogArbiter::padMoved(int code)
{
    // A pad pushed somewhere else is a press there (a switch, as a click would); let go, it is the
    // release of what it drove.
    const int previous = m_padCode;
    m_padCode = code;
    if (code >= 0)
        return {code, -1};
    return {-1, previous};
}

StepRecorder::StepRecorder(QObject *parent) : QObject(parent)
{
    m_timer.setInterval(250);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, [this] { m_ticks += 1; });
}

void StepRecorder::begin(const QString &function)
{
    m_timer.start();
    Q_EMIT stepBegun(function);
}

void StepRecorder::end()
{
    m_timer.stop();
    const double seconds = double(m_ticks) / 4.0;
    m_ticks = 0;
    Q_EMIT stepEnded(seconds);
}

void StepRecorder::restart()
{
    m_ticks = 0;
    m_timer.start();
}

void StepRecorder::halt()
{
    m_timer.stop();
}

void StepRecorder::drop()
{
    m_timer.stop();
    m_ticks = 0;
}

PanelMotion::PanelMotion(Host &host, QObject *parent) : QObject(parent), m_host(host)
{
    connect(&m_recorder, &StepRecorder::stepBegun, this, &PanelMotion::stepBegun);
    connect(&m_recorder, &StepRecorder::stepEnded, this, &PanelMotion::stepEnded);
}

namespace {

// A code the panel's motion may be: a stop, one joint's motion, or several joints' at once (a client's
// on the interface kit).
bool panelCode(int code)
{
    return code == 0 || armCodeMoves(code);
}

} // namespace

QString PanelMotion::activeTag() const
{
    return StepFunctions::name(m_activeCode);
}

bool PanelMotion::recording(int code) const
{
    // A script step turns one joint: a motion of several is not recorded.
    return m_host.scriptingMode() && !armCodeCombined(code);
}

void PanelMotion::click(int code)
{
    if (!panelCode(code))
        return;
    // A start towards an end the estimate says is reached is refused; the motion that was on stops,
    // as the switch would have stopped it.
    if ((!m_active || code != m_activeCode) && m_host.refusesStart(code)) {
        if (m_active)
            click(activeCode());
        else if (m_panelCode > 0)
            stopMotor();
        return;
    }
    // Whatever the click decides, the code it sends is the motion the limit watches from now on.
    struct LimitAfterClick
    {
        Host &host;
        int code = 0;
        ~LimitAfterClick() { host.limitFollows(code); }
    } limit{m_host};

    if (!m_active) {
        Q_EMIT lookOn(code);
        m_activeCode = code;
        m_recorder.restart();
        if (recording(code))
            recordScriptStep();
        m_active = true;
        limit.code = code;
        lightAndSend(code);
    } else if (code == m_activeCode) {
        m_recorder.halt();
        if (recording(code))
            recordScriptStep();
        Q_EMIT looksReset();
        m_active = false;
        lightAndSend(0);
    } else {
        m_recorder.halt();
        if (recording(m_activeCode))
            recordScriptStep();
        Q_EMIT looksReset();
        Q_EMIT lookOn(code);
        m_active = false;
        limit.code = code;
        lightAndSend(code);
        m_activeCode = code;
        if (recording(code))
            recordScriptStep();
        m_active = true;
    }
}

void PanelMotion::lightAndSend(int code)
{
    Q_EMIT codeShown(code);
    m_panelCode = code;
    m_host.sendCode(qint16(code));
}

void PanelMotion::recordScriptStep()
{
    if (m_active)
        m_recorder.end();
    else
        m_recorder.begin(activeTag());
}

void PanelMotion::endMotionState()
{
    m_recorder.drop();
    m_active = false;
}

void PanelMotion::end(int code)
{
    if (m_active && m_activeCode == code)
        click(code);
    else
        // The motion state was ended by a change of mode while the motor went on: stop it all the same.
        stopMotor();
}

void PanelMotion::stop()
{
    if (m_active)
        click(activeCode());
    else
        stopMotor();
}

void PanelMotion::stopMotor()
{
    m_host.pauseLimit();
    Q_EMIT looksReset();
    lightAndSend(0);
}

void PanelMotion::jogPress(Input input, int code)
{
    if (m_host.closed() || m_host.running() || code < 0 || code > 10)
        return;
    if (m_jog.press(input, code, m_active ? activeCode() : -1))
        click(code);
}

void PanelMotion::jogRelease(Input input, int code)
{
    if (m_host.closed())
        return;
    switch (m_jog.release(input, code, m_host.running(), m_panelCode, m_active ? activeCode() : -1)) {
    case JogArbiter::Release::Nothing:
        break;
    case JogArbiter::Release::Click:
        click(code);
        break;
    case JogArbiter::Release::StopMotor:
        stopMotor();
        break;
    }
}

void PanelMotion::padMoved(int code)
{
    const JogArbiter::PadChange change = m_jog.padMoved(code);
    if (change.press >= 0)
        jogPress(Input::Pad, change.press);
    else if (change.release >= 0)
        jogRelease(Input::Pad, change.release);
}
