#pragma once

#include "GuardLink.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <exception>

// One kind of arm board the program drives, with the arms of that kind open now: the HID boards
// (HidArmLink) or the USB interface kits (KitArmList). Every code goes out through a list of links
// (ArmOutlet), and the session follows each link's arms coming and going the same way.
//
// Locks and signals, the same for every link: a link guards its arms with a lock of its own, which it
// takes inside each member and never holds while it emits. Every signal is emitted on the link's
// thread once the change it tells of is complete, with no lock of the link's held, so that a handler may
// do anything: call the link again, or take a lock that a thread sending through the link holds while it
// waits for the link's own (the session's send lock, the outlet's). Callers therefore take their own
// locks first and the link's last (then the devices' writers take theirs).
//
// A device that does not take a code within its transport's bound has stalled: the link hands it the
// stop, which waits behind what it is stuck on and goes out should it ever take that, lets it go
// (armClosed), and then tells writeStalled. A device a write finds gone is closed as its removal would
// close it, from the link's thread.
class ArmLink : public QObject
{
    Q_OBJECT
public:
    // The arms of a link, as a send names those that did not take a code: numbers that stay an arm's
    // own while it is open and are never given to another.
    using ArmIds = QList<quint64>;

    // What one send did.
    struct Sent
    {
        // Every arm took the code (also when none is open).
        bool allTook = true;
        // The arms served, less those that did not take it: an arm found gone counts as served, as it
        // runs nothing.
        int took = 0;
        // The arms that did not take it (found gone aside).
        ArmIds failed;
        // The first failure, when one was described (an arm found gone describes none).
        QString error;
    };

    // How long stop() waits for the last codes (the stop, as a rule) to go out.
    static constexpr int StopDrainMs = 250;

    using QObject::QObject;

    // Opens every arm present (armOpened for each, openDenied for one the system does not let the
    // program open) and follows arrivals and removals from then on.
    virtual void start() = 0;
    // Waits up to StopDrainMs for the last codes to go out, closes every arm (armClosed for each) and
    // stops following the transport.
    virtual void stop() = 0;

    // The arms open.
    virtual int armCount() const = 0;
    // One line per arm open, with its kind and its USB ids as lsusb shows them ("HID board 1e6f:1113,
    // /dev/hidraw0", "USB interface kit 1267:0000 on bus 1, address 4").
    virtual QStringList describeArms() const = 0;
    // What stops each arm open should the program die, for its guard; asLogged: the bytes a virtual
    // arm logs for that stop (a log target's), rather than what goes to the device.
    virtual QList<GuardTarget> stopTargets(bool asLogged) const = 0;

    // Every arm gets code (0..10, or several joints at once where drivesSeveral()), or with `only`,
    // those of its arms still open.
    virtual Sent send(qint16 code, const ArmIds *only = nullptr) = 0;
    // Whether its arms drive several motors at once; if not, what to tell whoever asked for that.
    virtual bool drivesSeveral() const { return false; }
    virtual QString severalRefusal() const { return QString(); }

    // The light in the gripper: only a link whose arms have one switches it; the others write nothing.
    virtual bool hasLight() const { return false; }
    virtual bool light() const { return false; }
    // Every arm gets the command of `code`, the motion in force, with the light switched on or off.
    virtual Sent setLight(bool on, qint16 code)
    {
        Q_UNUSED(on);
        Q_UNUSED(code);
        return Sent{};
    }

protected:
    // Runs a step of an opening, a closing or a device event that must not stop the steps after it: a
    // step that fails (throws) has no effect.
    template <typename Step> static void tolerate(Step &&step)
    {
        try {
            step();
        } catch (const std::exception &) {
        }
    }

Q_SIGNALS:
    // An arm at `path` (its device node, or a virtual device's name) was opened.
    void armOpened(const QString &path);
    // An arm was closed; stillOpen: the link's arms still open after it.
    void armClosed(const QString &path, int stillOpen);
    // An arm is there but the system does not let the program open it (told once per plugging in).
    void openDenied(const QString &path, const QString &reason);
    // An arm did not take a code within the bound; it has been handed the stop and let go.
    void writeStalled(const QString &path);
};
