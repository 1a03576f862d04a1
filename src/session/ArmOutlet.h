#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

class ArmLink;

// The one way out to the arms: every code for any arm, HID board or interface kit, goes through here
// to each of its links (ArmLink), and so does the kit's light. Both boards keep the last code they
// were given and run its motor until another comes, so the outlet holds three promises:
//
// - It knows the motion in force: the code every arm took last. A stop, a failed write or the loss of
//   an arm (`forget`) puts it back to 0, so nothing that sends on its own (the light, above all, which
//   the kit takes in one command with its motors) can send again a motion nobody holds.
// - Every motion carries a deadline on the monotonic clock. When it passes with no later code sent and
//   no renewal, the outlet's watch thread hands the motion to the deadline handler, which sends the
//   stop (through here, in its lock order); without a handler the watch sends the stop itself.
// - A stop is confirmed: an arm that did not take it is sent it again, at StopRetryDelaysMs after the
//   first try; one that never takes it is named in the delivery, for the operator to be told.
//
// Threads: any, one call at a time; the caller holds its own locks in its order, then the outlet
// takes its own, then the links take theirs. The deadline handler is called from the watch
// thread with no lock of the outlet's held.
class ArmOutlet
{
public:
    // Retries of a stop that some arm did not take, after these many ms from the first try (about
    // 100 ms in all).
    static constexpr int StopRetryDelaysMs[] = {5, 15, 30, 50};

    struct Delivery
    {
        // Some arm took the code: whatever estimates the arm's pose must hear it.
        bool anyTook = false;
        // Every arm took it (also when none is attached).
        bool allTook = false;
        // For a stop: every arm took it in the end, retries included.
        bool stopConfirmed = true;
        // The first failure, when one was described (an arm found gone describes none).
        QString error;
    };
    using DeadlineHandler = std::function<void(quint64 serial)>;

    // The links are served in this order; each must outlive the outlet (or leave it by setLinks).
    explicit ArmOutlet(const QList<ArmLink *> &links = {});
    ~ArmOutlet();
    ArmOutlet(const ArmOutlet &) = delete;
    ArmOutlet &operator=(const ArmOutlet &) = delete;

    void setLinks(const QList<ArmLink *> &links);
    void setDeadlineHandler(DeadlineHandler handler);

    // Writes code (0..10, or several joints at once) to every arm. A motion with deadlineNs (monotonic,
    // 0: none) is stopped when the deadline passes, unless renewed or followed by another code. A stop
    // is retried where it failed. Several joints at once go to no arm while one open cannot take them.
    Delivery send(qint16 code, qint64 deadlineNs = 0);
    // Why several joints at once cannot go out now (an arm that drives one motor at a time is open);
    // empty when they can.
    QString refusesSeveral() const;
    // The motion in force may run until deadlineNs from now on (0: no deadline).
    void renew(qint64 deadlineNs);
    qint64 deadlineNs() const;
    // Switches the light of the links that have one (the kits'); the motors keep the motion in force.
    Delivery setLight(bool on);
    // The code every arm took last: 0 after a stop, a failed write or forget().
    int codeInForce() const;
    // Counts the codes that have gone out (a light switch is not one); a deadline is for one of them.
    quint64 serial() const;
    // An arm was lost, or the arms were told something outside the outlet: nobody holds a motion now.
    void forget();

private:
    // Writes code to every link; with setLight, the light's command to the links that have one.
    Delivery write(qint16 code, std::optional<bool> setLight);
    void retryStop(Delivery &delivery, QList<QList<quint64>> failed, std::optional<bool> setLight);
    void watch();
    QString severalRefusal() const;

    QList<ArmLink *> m_links;
    mutable std::mutex m_lock;
    int m_inForce = 0;
    quint64 m_serial = 0;
    qint64 m_deadlineNs = 0;
    DeadlineHandler m_handler;
    bool m_quit = false;
    std::condition_variable m_wake;
    std::thread m_watch;
};
