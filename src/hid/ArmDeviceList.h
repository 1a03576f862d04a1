#pragma once

#include <QList>
#include <QtGlobal>

#include <memory>
#include <vector>

class HIDagentX;
class QObject;
class QString;
class TVantor;

// The main window's list `Devices`: one TVantor per opened arm interface (one for several consecutive
// interfaces while its variables are not all bound), kept in the order of adding and following the
// component's interface events.
//
// The handlers have no error handling of their own: a HidError from a device object or from the
// component ends the handler at once, skipping its remaining steps, and is thrown to the caller. The
// window's slots that forward the component's events catch it: an event's failure is the event's
// outcome and goes no further.
//
// Every member holds the agent's lock, so SendToAll may be called from another thread than the one
// the agent's events arrive on: a code goes out whole, never interleaved with another thread's code or
// with an interface opening or closing.
class ArmDeviceList
{
public:
    // agent must outlive the list; sender is the owning window, handed to the device objects as Sender.
    ArmDeviceList(HIDagentX &agent, QObject *sender);
    ~ArmDeviceList();
    ArmDeviceList(const ArmDeviceList &) = delete;
    ArmDeviceList &operator=(const ArmDeviceList &) = delete;

    int Count() const;
    // 1-based like the window's collection; an index outside 1..Count() throws HidError 9
    // ("Subscript out of range").
    TVantor *Item(int i) const;
    TVantor *LastDevice() const; // nullptr when empty

    // Binds the newest interface into the last device object while that one is partly unbound, else
    // into a new object that is appended when its BindVars returns 0 or more.
    void OnIntfOpened();
    // Notifies every object from the last to the first, shuts down and removes each that held the
    // closed interface, then re-binds object i to the component's open interface i-1.
    void OnIntfClosed(int NumStillOpen, const QString &IntfName, int AHidHandle);
    // Forwards to every object, from the last to the first.
    void OnRptArrived(int RptIndexInIntf, int AllRptIndex);

    // For each device in order: OutVar1's UnScaledValue := code, then WriteAllReports. A device whose
    // variable refuses the code writes nothing (its report would carry the previous code); a device
    // whose write fails is passed over. Either way the loop goes on with the next device, every device
    // listed when the call began that is still listed being served. True when every device took the
    // code; otherwise false, with the first failure described in *error. A device found gone while
    // writing makes it false but describes nothing: that is a removal, and its event follows. The
    // devices that did not take the code (found gone aside) are added to *failed, by their
    // ClassDebugID; with `only`, just those of its devices still listed are served.
    bool SendToAll(qint16 code, QString *error = nullptr, QList<quint64> *failed = nullptr,
                   const QList<quint64> *only = nullptr);

private:
    HIDagentX &m_agent;
    QObject *m_sender;
    // Shared so that an object removed by a handler nested inside one of its own calls (a component
    // event raised from a write) stays alive until that call returns.
    std::vector<std::shared_ptr<TVantor>> m_devices;
};
