#pragma once

#include "HidReportDescriptor.h"
#include "HidTransport.h"

#include <QObject>
#include <QString>

#include <memory>
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
// inside OpenMatchingIntfs). Slots must not let exceptions escape: a handler that fails ends there.
class HIDagentX : public QObject
{
    Q_OBJECT
public:
    // The transport is not owned and must outlive the agent.
    explicit HIDagentX(HidTransport *transport, QObject *parent = nullptr);
    ~HIDagentX() override;

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

    void StartAgent();
    void StopAgent(); // closes every interface (raising OnIntfClosed) and stops hot-plug monitoring
    bool IsStarted() const;

    // Opens every interface meeting the enabled criteria that is not open yet, raising OnIntfOpened for
    // each; true when at least one matching interface is open afterwards.
    bool OpenMatchingIntfs();

    int IntfCount() const;
    int SelectIntf(int index); // returns the interface's handle
    void SelectIntfByHandle(int handle);
    int IntfHandle() const;
    int IntfVID() const;
    int IntfPID() const;
    QString IntfName() const;
    const HidInterfaceInfo &IntfInfo() const;
    const HidReportLayout &IntfLayout() const;

    // AllVarIndex of the variable in the current interface, negative when absent.
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
    int SizeInBits() const;
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

    int RptCount() const;
    void SelectRpt(int rptIndex);
    int CurrentRptNum() const;
    void SetCurrentRptNum(int rptIndex);
    bool ReadRpt();  // one read of the current report; true on success
    bool WriteRpt(); // one write of the current report; true on success

Q_SIGNALS:
    void OnIntfOpened(int intfIndex, int handle, int vidPid, const QString &intfName);
    void OnIntfClosed(int NumStillOpen, const QString &IntfName, int AHidHandle);
    void OnRptArrived(int RptIndexInIntf, int AllRptIndex);
    void OnDeviceArrival(int handle, const QString &DeviceName);
    void OnDeviceRemoval(int handle, const QString &DeviceName);
    // The arm's interface is there but could not be opened for lack of permission.
    void OnOpenDenied(const HidInterfaceInfo &info, const QString &reason);

private:
    struct Private;
    std::unique_ptr<Private> d;
};
