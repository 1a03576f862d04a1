#pragma once

#include "KitCommand.h"
#include "KitTransport.h"

#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

#include <memory>
#include <mutex>
#include <vector>

// The interface kits the program drives: every kit present that can be opened, followed as kits are
// plugged in and out. It serves the codes the program sends beside the HID arms' ArmDeviceList, and
// keeps the light.
//
// Every kit gets the same command: the code it is sent (KitCommand), with the light as last set. The
// list keeps no motion of its own: the light goes out with the code its caller says is in force, so
// that switching it never sends again a motion nobody holds. A kit that arrives while the light is on
// is told so (with its motors stopped).
//
// Threads: the list lives on one thread, which receives the transport's notifications and emits the
// signals. SendToAll, SetLight, count and arms may be called from any thread: a command goes out to
// every kit whole, never interleaved with another thread's or with a kit opening or closing. The
// signals are emitted with no lock held, so their handlers may do anything, including waiting for a
// thread that is sending.
//
// A kit that does not take a command within the transport's bound has stalled: it is handed the stop
// (code 0, the light kept), which waits behind the command it is stuck on and goes out should it ever
// take that; then it is let go (writeStalled, then armClosed). A kit whose transfer finds it gone is
// closed as its removal would close it.
class KitArmList : public QObject
{
    Q_OBJECT
public:
    // A kit present that could not be opened.
    struct OpenFailure
    {
        KitDeviceInfo info;
        HidTransport::OpenFailure kind = HidTransport::OpenFailure::Other;
        QString reason;
    };

    // How long stop() waits for the last commands (the stop, as a rule) to go out.
    static constexpr int StopDrainMs = 250;

    // The transport is not owned and must outlive the list.
    explicit KitArmList(KitTransport &transport, QObject *parent = nullptr);
    ~KitArmList() override;

    // Which motors turn the other way (from TESSARO.INI); applies from the next command on.
    void setReversed(const KitReversed &reversed);
    KitReversed reversed() const;

    // Opens every kit present (armOpened for each, openDenied for a kit the system will not let the
    // program open) and follows arrivals and removals from then on.
    void start();
    // Waits up to StopDrainMs for the last commands to go out, closes every kit (armClosed for each)
    // and stops following the transport.
    void stop();
    bool isStarted() const;

    int count() const;
    QList<KitDeviceInfo> arms() const;
    // The kits present that could not be opened at their last attempt.
    QList<OpenFailure> openFailures() const;

    // Every kit gets the command for code (0..10) with the light as it is. A code outside 0..10 is
    // refused and nothing is sent. True when every kit took it (also when there are none); otherwise
    // false, with the first failure described in *error and the paths of the kits that did not take
    // it (found gone aside) in *failed. A kit found gone makes it false but describes nothing: that is
    // a removal, and its event follows.
    bool SendToAll(qint16 code, QString *error = nullptr, QStringList *failed = nullptr);
    // The same, for the kits of these paths only (those still open).
    bool SendTo(const QStringList &paths, qint16 code, QString *error = nullptr, QStringList *failed = nullptr);
    // Turns the light on or off: every kit gets the command of `code`, the motion in force, with the
    // new light. The same outcome as SendToAll.
    bool SetLight(bool on, qint16 code, QString *error = nullptr, QStringList *failed = nullptr);
    bool light() const;
    // Waits, at most until deadlineNs on the monotonic clock, for every kit to have taken the
    // commands handed to it; true when they have. The list's thread only.
    bool drain(qint64 deadlineNs);

Q_SIGNALS:
    void armOpened(const KitDeviceInfo &info);
    // stillOpen: the kits still open after this one's closing.
    void armClosed(const KitDeviceInfo &info, int stillOpen);
    // A kit is there but the system does not let the program open it (told once per plugging in).
    void openDenied(const KitDeviceInfo &info, const QString &reason);
    // A kit has not taken a command within the bound; it is closed right after (armClosed).
    void writeStalled(const KitDeviceInfo &info);

private:
    struct Arm;
    struct Event;

    void onArrived(const KitDeviceInfo &info);
    void onRemoved(const KitDeviceInfo &info);
    // Opens the kit unless it is open; collects what is to be told in events.
    void tryOpen(const KitDeviceInfo &info, QList<Event> &events);
    // Removes the kit by path; collects armClosed.
    void closeArm(const QString &path, QList<Event> &events);
    void tell(const QList<Event> &events);
    bool sendCommand(int code, bool light, QString *error, QStringList *failed, const QStringList *only = nullptr);
    Q_INVOKABLE void closeGoneArms();
    void closeStalled(const QString &path, quint64 serial);

    KitTransport &m_transport;
    mutable std::recursive_mutex m_lock;
    std::vector<std::shared_ptr<Arm>> m_arms;
    QList<OpenFailure> m_failures;
    QSet<QString> m_deniedTold;
    QStringList m_goneQueued;
    KitReversed m_reversed{};
    bool m_light = false;
    bool m_started = false;
    quint64 m_nextSerial = 0;
};
