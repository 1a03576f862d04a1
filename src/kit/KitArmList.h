#pragma once

#include "ArmLink.h"
#include "KitCommand.h"
#include "KitTransport.h"

#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

#include <memory>
#include <mutex>
#include <vector>

// The interface kits the program drives, as one ArmLink: every kit present that can be opened,
// followed as kits are plugged in and out, each kit an arm; and the light.
//
// Every kit gets the same command: the code it is sent (KitCommand), with the light as last set. The
// list keeps no motion of its own: the light goes out with the code its caller says is in force, so
// that switching it never sends again a motion nobody holds. A kit that arrives while the light is on
// is told so (with its motors stopped).
//
// Threads: the list lives on one thread, which receives the transport's notifications and emits the
// signals (ArmLink's rule: with no lock held). send, setLight, armCount and arms may be called from any
// thread: a command goes out to every kit whole, never interleaved with another thread's or with a kit
// opening or closing. A kit is known by its path in the signals, and in a send by a number given at
// each opening, so that a kit plugged in again at the same path is another.
//
// A kit that does not take a command within the transport's bound has stalled: it is handed the stop
// (code 0, the light kept) and let go (writeStalled comes before its armClosed).
class KitArmList : public ArmLink
{
    Q_OBJECT
public:
    // A kit present that could not be opened.
    struct OpenFailure
    {
        KitDeviceInfo info;
        DeviceOpenFailure kind = DeviceOpenFailure::Other;
        QString reason;
    };

    // The transport is not owned and must outlive the list.
    explicit KitArmList(KitTransport &transport, QObject *parent = nullptr);
    ~KitArmList() override;

    // Which motors turn the other way (from TESSARO.INI); applies from the next command on.
    void setReversed(const KitReversed &reversed);

    void start() override;
    void stop() override;
    int armCount() const override;
    QStringList describeArms() const override;
    QList<GuardTarget> stopTargets(bool asLogged) const override;
    // A code that is no motion (0..10 or several motors at once) is refused and nothing is sent.
    Sent send(qint16 code, const ArmIds *only = nullptr) override;
    bool hasLight() const override { return true; }
    bool drivesSeveral() const override { return true; }
    bool light() const override;
    Sent setLight(bool on, qint16 code) override;

    QList<KitDeviceInfo> arms() const;
    // The kits present that could not be opened at their last attempt.
    QList<OpenFailure> openFailures() const;
    // Waits, at most until deadlineNs on the monotonic clock, for every kit to have taken the
    // commands handed to it; true when they have. The list's thread only.
    bool drain(qint64 deadlineNs);

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
    Sent sendCommand(int code, bool light, const ArmIds *only = nullptr);
    Q_INVOKABLE void closeGoneArms();
    void closeStalled(quint64 serial);

    KitTransport &m_transport;
    // Plain: nothing the list does under it calls back into the list.
    mutable std::mutex m_lock;
    std::vector<std::shared_ptr<Arm>> m_arms;
    QList<OpenFailure> m_failures;
    QSet<QString> m_deniedTold;
    QStringList m_goneQueued;
    KitReversed m_reversed{};
    bool m_light = false;
    bool m_started = false;
    quint64 m_nextSerial = 0;
};
