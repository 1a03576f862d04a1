#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <array>
#include <optional>

// The runaway limit of the panel's motions: how long a motion started by a click, a key or a pad may
// run before it is stopped, from the joint's travel time and the options' percentage. It counts how
// long the motor has run in one go: the same motion started again right after it stopped (a key's
// auto-repeat, a pad's stick at the edge of its dead zone, quick taps) goes on with the time it had.
//
// The session's thread only. `reached` tells that the motion of code() has had its time.
class RunawayLimit : public QObject
{
    Q_OBJECT

public:
    // A motor stopped by the limit has had at least this long, whatever its joint's travel time.
    static constexpr int FloorMs = 2000;
    // A motion started again within this time of its stop goes on with the run time it had.
    static constexpr int GapMs = 1000;

    explicit RunawayLimit(QObject *parent = nullptr);

    void setLimits(bool on, double percent);
    // Every motion gets this limit instead of its joint's; nullopt restores them.
    void setOverride(std::optional<int> milliseconds) { m_override = milliseconds; }
    // How long the motion of `code` may run, in ms; 0 when it is not limited. Several joints at once
    // stop together when the one with the shortest limit has had it.
    int limitMs(int code) const;
    // The code of the joint whose limit bounds the motion of `code` (0: none).
    static int limitingCode(int code);

    // Watches the motion of code from now on (the one watched before is paused). Returns the ms it has
    // left, or nullopt when it is not limited.
    std::optional<qint64> arm(int code);
    // The motor stopped: the time it ran is kept for a start of the same motion soon after.
    void pause();
    // Stopped by the limit or given up: a new start of any motion gets its own time.
    void stop();
    bool armed() const { return m_timer.isActive(); }
    int code() const { return m_code; }
    // How long the motion watched may still run, in ms.
    qint64 leftMs() const { return m_timer.isActive() ? m_timer.remainingTime() : 0; }
    // How long the motion watched has run in one go, in s.
    double ranSeconds() const;

    // "Gripper stopped after 2.3 s: end of travel"
    static QString reachedText(int code, double seconds);

Q_SIGNALS:
    void reached();

private:
    bool m_on = true;
    double m_percent = 100.0;
    std::optional<int> m_override;
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_ranMs = 0;
    QElapsedTimer m_pause;
    int m_code = -1;
};

// The time limits of a run's motions, taken as the run starts: a motion goes on through consecutive
// steps of its code and may run until its deadline. Not locked: the session's send lock guards it.
class RunMotionLimits
{
public:
    void take(const RunawayLimit &limit);
    int limitMs(int code) const { return m_limitsMs[size_t(code)]; }
    // The deadline of the motion of code sent now (ns; 0: none), its start if it goes on.
    qint64 deadlineFor(int code, qint64 nowNs);
    qint64 motionStartNs() const { return m_startNs; }

private:
    std::array<int, 11> m_limitsMs{};
    int m_code = -1;
    qint64 m_startNs = 0;
    qint64 m_deadlineNs = 0;
};
