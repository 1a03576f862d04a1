#pragma once

#include "HIDagentX.h"
#include "TOneHidVar.h"

#include <QObject>
#include <QTimer>

#include <array>
#include <memory>
#include <optional>
#include <vector>

class HidTransport;

// Where a gamepad's controls stand, each as the arm would read it: sticks from -1 (left, up) to 1
// (right, down), the hat's direction in degrees clockwise from up (none when released). An axis not yet
// seen at rest reads 0.
struct GamepadState
{
    double x = 0;      // left stick, across
    double y = 0;      // left stick, up and down
    double rightY = 0; // right stick, up and down (Ry, or Rz where there is no Ry)
    std::optional<double> hatDegrees;
    bool button1 = false;
    bool button2 = false;
    bool stop = false;

    friend bool operator==(const GamepadState &, const GamepadState &) = default;
};

// Any HID joystick or game pad, whatever its maker, as a fifth way of jogging the arm. It keeps its own
// HID component that opens only interfaces whose top-level collection is a Joystick or a Game Pad,
// follows their arrival and removal, binds a HID variable to each control it uses and reads the
// pad's input reports while one is attached.
//
// The arm takes one motion at a time, so of all controls pushed beyond the dead zone the one pushed
// furthest wins (buttons and the hat count as pushed all the way); the motion that is on keeps going
// until its control is let back inside StopZone or another control leads it by SwitchMargin.
//
// An axis drives nothing until it has been seen at rest, inside StopZone of its centre. A trigger rests
// at one end of its range and a broken axis may never come back: neither may start the arm the moment
// the pad is plugged in, nor ever after.
class Gamepad : public QObject
{
    Q_OBJECT

public:
    // A control starts its motion once pushed beyond DeadZone of the way from its centre to its end and
    // stops it only when let back inside StopZone: a stick resting on the edge, its reading wavering by
    // a count, would otherwise start and stop the motion with every report, and each start is a step
    // in Scripting mode.
    static constexpr double DeadZone = 0.2;
    static constexpr double StopZone = 0.15;
    // How much further another control must be pushed to take over from the motion that is on. A
    // stick pushed on the diagonal would otherwise hand the motion back and forth with every jitter
    // of its axes, and each switch is a step in Scripting mode.
    static constexpr double SwitchMargin = 0.1;
    static constexpr int PollIntervalMs = 15;
    // A pad left at rest is looked at less often: every wake-up costs, and a pad can sit attached all
    // day. The first push from rest is seen within RestPollIntervalMs, the rest of it as fast as ever.
    static constexpr int RestPollIntervalMs = 50;
    static constexpr int PollsBeforeRest = 1000 / PollIntervalMs;
    // Generic Desktop Joystick and Game Pad, page in the high half.
    static constexpr quint32 JoystickUsage = 0x00010004;
    static constexpr quint32 GamePadUsage = 0x00010005;

    // The transport is not owned and must outlive the gamepad.
    explicit Gamepad(HidTransport *transport, QObject *parent = nullptr);
    ~Gamepad() override;

    // Opens the pads attached now and follows arrivals and removals from then on.
    void start();
    void stop();

    bool isAttached() const { return m_bound.has_value(); }
    QString name() const;
    // The command code the pad asks for, -1 for none.
    int motion() const { return m_motion; }
    GamepadState state() const { return m_state; }
    int pollInterval() const { return m_poll.interval(); }

    // Reads what the pad has sent since the last look; the poll timer calls it while a pad is attached.
    void poll();

    // The motion a state asks for, -1 for none, when `current` is the motion on now.
    static int motionFor(const GamepadState &state, int current = -1);
    // A raw value as a deflection from -1 to 1 across its logical range.
    static double deflection(qint32 value, qint32 logicalMin, qint32 logicalMax);
    // A hat value as degrees clockwise from up; none for the null state (outside the range).
    static std::optional<double> hatDegrees(qint32 value, qint32 logicalMin, qint32 logicalMax);

Q_SIGNALS:
    void motionChanged(int code);
    // The stop button went down.
    void stopPressed();
    void attachedChanged(bool attached);
    // A pad is plugged in but its node may not be opened; told once until it is plugged in again.
    void openDenied(const QString &path, const QString &reason);

private:
    struct Bound;
    void bindOpened(int intfIndex, int handle);
    void onClosed(int handle);
    void readState();
    void setState(const GamepadState &state);

    HIDagentX m_agent;
    std::optional<int> m_bound; // handle of the pad in use
    std::unique_ptr<Bound> m_vars;
    QTimer m_poll;
    int m_quietPolls = 0;
    GamepadState m_state;
    int m_motion = -1;
};
