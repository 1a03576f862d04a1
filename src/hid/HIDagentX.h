#pragma once

#include "HidError.h"
#include "HidReportDescriptor.h"
#include "HidTransport.h"

#include <QObject>
#include <QString>

#include <memory>
#include <mutex>
#include <vector>

// The HID access component: keeps the open interfaces, the list of all their reports (RptIndex) and of
// all their variables (AllVarIndex), and a current interface, report and variable. Every HID operation
// of the program goes through one instance.
//
// Indexes are 0-based; -1 stands for none. Handles are non-zero numbers naming one open interface.
// Operations that cannot be carried out (bad index, agent not started, a failed transport call where a
// result is not a plain Boolean) throw HidError.
//
// The events are emitted synchronously from inside the call that causes them (OnIntfOpened runs nested
// inside OpenMatchingIntfs). A handler that throws ends there: the agent swallows the exception and
// carries on with what it was doing, as it does for any outcome of an event.
//
// Logging and LogFile are kept but inert: the agent writes no log.
//
// A read or write that fails because the device has gone closes that interface as its removal would
// (OnIntfClosed, then OnDeviceRemoval), from the event loop of the agent's thread rather than from
// inside the failing call, so a caller walking its devices is not pulled from under it. An arrival
// announced for the path of an interface that is still open means its removal was missed: the dead
// interface is closed before the arrival is announced, so that the next search opens the new device.
//
// Threads: the agent lives on one thread, which receives its hot-plug notifications; another thread
// may use it while holding lock(). The agent holds the same lock while it opens and closes
// interfaces and while their events run, so a thread holding it never sees an interface half gone.
class HIDagentX : public QObject
{
    Q_OBJECT
public:
    // Numbers of the errors the agent raises itself (besides HidError::Overflow for a value that is
    // not a 32-bit number). Raised with the member's name as the source.
    enum Error : qint32 {
        NotStarted = HidError::ObjectErrorBase + 1001,    // an interface operation before StartAgent
        BadIntfIndex = HidError::ObjectErrorBase + 1002,  // SelectIntf outside 0..IntfCount-1
        BadHandle = HidError::ObjectErrorBase + 1003,     // no open interface has that handle
        NoCurrentIntf = HidError::ObjectErrorBase + 1004, // no interface selected (or it has closed)
        BadVarIndex = HidError::ObjectErrorBase + 1005,   // an AllVarIndex outside 0..VarCount-1
        NoCurrentVar = HidError::ObjectErrorBase + 1006,
        BadRptIndex = HidError::ObjectErrorBase + 1007, // a RptIndex outside 0..RptCount-1
        NoCurrentRpt = HidError::ObjectErrorBase + 1008,
        ValueOutOfRange = HidError::ObjectErrorBase + 1009, // outside the logical range or bit width
        ScalingFailed = HidError::ObjectErrorBase + 1010,   // no scaled value (degenerate ranges, ...)
        BadScaleMode = HidError::ObjectErrorBase + 1011,    // a mode other than 0, 1, 2
        HandlesExhausted = HidError::ObjectErrorBase + 1012,
    };

    // An interface that met the criteria but was not opened by the last OpenMatchingIntfs.
    struct OpenFailure
    {
        HidInterfaceInfo info;
        HidTransport::OpenFailure kind = HidTransport::OpenFailure::Other; // None: descriptor refused
        QString reason;
    };

    // The transport is not owned and must outlive the agent.
    explicit HIDagentX(HidTransport *transport, QObject *parent = nullptr);
    ~HIDagentX() override;

    // Held across every sequence of calls that must not be interleaved with another thread's, such
    // as selecting an interface and writing its report. Recursive because it is re-entered: the
    // agent's own events run under it, and their handlers call the agent back (the device objects bind
    // a newly opened interface from inside OnIntfOpened).
    std::unique_lock<std::recursive_mutex> lock() const;

    // Design-time switches.
    QString LogFile() const;
    void SetLogFile(const QString &path);
    bool Logging() const;
    void SetLogging(bool on);
    int TimeOut() const;
    void SetTimeOut(int milliseconds);
    bool ShowOperations() const;
    void SetShowOperations(bool on);
    bool Verbose() const;
    void SetVerbose(bool on);

    // Search criteria of OpenMatchingIntfs.
    int VID_To_Match() const;
    void SetVID_To_Match(int vid);
    int PID_To_Match() const;
    void SetPID_To_Match(int pid);
    bool SearchOnVID() const;
    void SetSearchOnVID(bool on);
    bool SearchOnPID() const;
    void SetSearchOnPID(bool on);
    // Only interfaces with one of these top-level application usages (page in the high 16 bits) are
    // kept open. The others are not opened where the transport can read their descriptor without it,
    // else closed again once it has been read; a refusal to open is told (OnOpenDenied) only for an
    // interface known to be of one of these kinds. Empty: no such test.
    QList<quint32> ApplicationsToMatch() const;
    void SetApplicationsToMatch(const QList<quint32> &usages);

    void StartAgent();
    void StopAgent(); // closes every interface (raising OnIntfClosed) and stops hot-plug monitoring
    bool IsStarted() const;

    // Opens every interface meeting the enabled criteria that is not open yet, raising OnIntfOpened for
    // each; true when at least one matching interface is open afterwards.
    bool OpenMatchingIntfs();
    QList<OpenFailure> LastOpenFailures() const;

    int IntfCount() const;
    int SelectIntf(int index); // returns the interface's handle
    void SelectIntfByHandle(int handle);
    int IntfHandle() const;
    int IntfVID() const;
    int IntfPID() const;
    QString IntfName() const;
    const HidInterfaceInfo &IntfInfo() const;
    // The interface at index (0-based, opening order) without making it current.
    const HidInterfaceInfo &IntfInfoAt(int index) const;
    const HidReportLayout &IntfLayout() const;

    // AllVarIndex of the variable in the current interface, negative when absent. Usage page, usage and
    // report type always match exactly; exactMatch is accepted for callers written against the
    // four-argument form and changes nothing.
    int FindVar(int usagePage, int usage, int rptType, bool exactMatch);
    int VarCount() const;
    void SelectVar(int allVarIndex);
    int CurrentVar() const;

    // Attributes of the current variable.
    bool AbsoluteNotRelative() const;
    bool ArrayNotVariable() const;
    bool BitsNotBuffer() const;
    bool HasNullState() const;
    bool Linear() const;
    bool NoPrefState() const;
    bool NoWrap() const;
    bool Volatile() const;
    int LogicalMinimum() const;
    int LogicalMaximum() const;
    int PhysicalMinimum() const;
    int PhysicalMaximum() const;
    int SizeInBits() const; // bits the variable takes in its report (size times count)
    QString StringDescriptor() const;
    int ScaleMode() const; // 0 both, 1 unscaled only, 2 scaled only
    void SetScaleMode(int mode);

    bool VarIsButton(int allVarIndex) const;
    int VarRptIndex(int allVarIndex) const;
    void SetVarName(int allVarIndex, const QString &name);
    QString VarName(int allVarIndex) const;
    int VarUnScaledValue(int allVarIndex) const;
    int VarScaledValue(int allVarIndex) const;
    // The value goes into the holding report's buffer and reaches the device with its next write.
    void SetVarUnScaledValue(int allVarIndex, double value);
    void SetVarScaledValue(int allVarIndex, int value);
    // The report that holds variable allVarIndex, as WriteRpt would send it with that variable set to
    // value: the report ID byte first (0 for a device without IDs), as hidraw takes it. Its interface's
    // path and whether the device numbers its reports are told too. Nothing is written and no buffer
    // changes; empty when there is no such variable or the value does not fit it.
    QByteArray ReportWithValue(int allVarIndex, qint64 value, QString *intfPath = nullptr,
                               bool *usesReportIds = nullptr) const;

    int RptCount() const;
    void SelectRpt(int rptIndex);
    int CurrentRptNum() const;
    void SetCurrentRptNum(int rptIndex);
    bool ReadRpt();  // one read of the current report; true on success
    bool WriteRpt(); // one write of the current report; true on success
    // Why the last ReadRpt or WriteRpt failed; empty after one that succeeded.
    QString LastIoError() const;
    // Whether that failure found the device gone: its interface is closed as a removal soon after.
    bool LastIoDeviceGone() const;

Q_SIGNALS:
    void OnIntfOpened(int intfIndex, int handle, int vidPid, const QString &intfName);
    void OnIntfClosed(int NumStillOpen, const QString &IntfName, int AHidHandle);
    void OnRptArrived(int RptIndexInIntf, int AllRptIndex);
    void OnDeviceArrival(int handle, const QString &DeviceName);
    void OnDeviceRemoval(int handle, const QString &DeviceName);
    // The arm's interface is there but could not be opened for lack of permission.
    void OnOpenDenied(const HidInterfaceInfo &info, const QString &reason);
    // The device of an open interface has not taken an output report within the transport's bound.
    // The interface is closed right after (OnIntfClosed, then OnDeviceRemoval): the device may still
    // be acting on what it last took.
    void OnWriteStalled(int handle, const QString &DeviceName);

private:
    // Opens the interface unless it is known to be of another kind than asked for; a refusal is noted
    // (and told when the interface is of the kind). Null when not opened.
    std::unique_ptr<HidConnection> openOfTheKind(const HidInterfaceInfo &info);
    // Keeps the opened interface when its descriptor is of the kind asked for, and tells OnIntfOpened.
    void addInterface(const HidInterfaceInfo &info, std::unique_ptr<HidConnection> connection);
    void closeInterface(int index);
    // After a failed transfer: closes the interface later when its device has gone.
    void noteFailedTransfer(int handle, const HidConnection &connection);
    Q_INVOKABLE void closeGoneInterfaces();
    void closeGone(int handle);
    Q_INVOKABLE void closeStalledInterfaces();
    void closeStalled(int handle);

    struct Private;
    std::unique_ptr<Private> d;
};
