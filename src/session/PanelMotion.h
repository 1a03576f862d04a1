#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

// Who drives the panel's motion among the held controls: a key and a pad control each hold at most
// one motion. A press of the motion that is on already takes it over (its release stops it); a release
// stops only the motion its control started, and only while no run has the arm and nothing switched
// the motion away meanwhile (another key, a click, the limit, Esc).
class JogArbiter
{
public:
    enum class Input { Key, Pad };
    enum class Release { Nothing, Click, StopMotor };

    // Whether the press clicks the motion's button; activeCode is the motion on (-1: none).
    bool press(Input input, int code, int activeCode);
    // What the release of code does; panelCode is the code the panel sent last, activeCode as above.
    Release release(Input input, int code, bool running, int panelCode, int activeCode);
    // The pad now asks for code (-1: none): the code to press, or the one to release.
    struct PadChange
    {
        int press = -1;
        int release = -1;
    };
    PadChange padMoved(int code);

private:
    int &held(Input input) { return input == Input::Key ? m_key : m_pad; }

    int m_key = -1;
    int m_pad = -1;
    int m_padCode = -1;
};

// The time of the step being recorded in Scripting mode, counted in ticks of a 250 ms timer, as the
// recorded steps have always been.
class StepRecorder : public QObject
{
    Q_OBJECT

public:
    explicit StepRecorder(QObject *parent = nullptr);

    // A step of function opens (ticks from 0).
    void begin(const QString &function);
    // The step closes: stepEnded with its time in s.
    void end();
    // Counting starts afresh; stops; stops and forgets what it counted.
    void restart();
    void halt();
    void drop();
    float ticks() const { return m_ticks; }
    QTimer *timer() { return &m_timer; }

Q_SIGNALS:
    void stepBegun(const QString &function);
    void stepEnded(double seconds);

private:
    QTimer m_timer;
    float m_ticks = 0;
};

// The panel's motion: the start, stop and switch of a motion by a click (or a held key or pad control,
// which click for it), how its buttons look, and the steps recorded in Scripting mode. A click on the
// lit button stops its motion, on another switches to that one.
//
// The session's thread only. What the motion needs of the arm comes through its Host.
class PanelMotion : public QObject
{
    Q_OBJECT

public:
    using Input = JogArbiter::Input;

    class Host
    {
    public:
        virtual ~Host() = default;
        // The end-stop rule refuses a start of code (and has said so).
        virtual bool refusesStart(int code) = 0;
        // The runaway limit watches the motion of code from now on (0: none).
        virtual void limitFollows(int code) = 0;
        virtual void pauseLimit() = 0;
        virtual void sendCode(qint16 code) = 0;
        // A run has the arm, or the session is closing: held controls do nothing then.
        virtual bool running() const = 0;
        virtual bool closed() const = 0;
        virtual bool scriptingMode() const = 0;

    protected:
        Host() = default;
        Host(const Host &) = default;
        Host &operator=(const Host &) = default;
    };

    explicit PanelMotion(Host &host, QObject *parent = nullptr);

    void click(int code);
    // Ends the motion of code as a second click would, or stops the motor when the motion state was
    // ended under it (a change of mode).
    void end(int code);
    // Esc outside a run: the motion on ends as its second click would, or 0 goes out.
    void stop();
    // 0 goes out and the buttons are put out.
    void stopMotor();
    // The choice of Scripting: the motion state ends, the motor runs on, its button stays lit.
    void endMotionState();
    void jogPress(Input input, int code);
    void jogRelease(Input input, int code);
    void padMoved(int code);
    void recordScriptStep();

    bool active() const { return m_active; }
    // The motion on: its script function ("ElbowUp", empty for several joints at once) and its code.
    QString activeTag() const;
    int activeCode() const { return m_activeCode; }
    float stepTicks() const { return m_recorder.ticks(); }
    QTimer *stepTimer() { return m_recorder.timer(); }

Q_SIGNALS:
    void lookOn(int code);
    void looksReset();
    void codeShown(int code);
    void stepBegun(const QString &function);
    void stepEnded(double seconds);

private:
    void lightAndSend(int code);
    // Scripting mode records the motion of code as a step.
    bool recording(int code) const;

    Host &m_host;
    bool m_active = false;
    int m_activeCode = 0;
    // The code the panel sent last; -1 before any.
    int m_panelCode = -1;
    JogArbiter m_jog;
    StepRecorder m_recorder;
};
