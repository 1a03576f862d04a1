#pragma once

#include "TOneHidVar.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <array>
#include <memory>

class HIDagentX;

// One arm device as the program sees it: the two input variables and the output variable it exchanges
// with the arm, and the two reports that carry them, input report A (InVar1's) and output report B
// (OutVar1's). BindVars binds only on the arm's interface (VID 0x1E6F, PID 0x1113); an object whose
// variables are not all found on one interface collects the rest from the next one handed to it.
//
// The variables are shared: the property accessors hand out the same objects the slots hold until a
// property is overwritten, after which the slots keep the originals (binding, counting and closing work
// on the slots; RecordRptIndices and the command path read the properties).
//
// Only DeviceIsMatched and the property accessors trap failures (RaiseError 9999); every other member
// lets HidError from the component or from a variable through unchanged.
class TVantor : public QObject
{
    Q_OBJECT
public:
    // A variable with this identity belongs to any device.
    static constexpr qint32 AnyDeviceIdentity = 3;
    static constexpr int SlotCount = 3;

    using VarRef = std::shared_ptr<TOneHidVar>;

    // Makes InVar1, InVar2 and OutVar1 (each takes a serial), then takes its own serial. The overflow
    // error of the serial counter reaches the caller.
    explicit TVantor(QObject *parent = nullptr);
    ~TVantor() override;

    qint32 ClassDebugID() const;

    // Binds on the most recently opened interface of AHIDagent: -1 when that is not the arm's,
    // otherwise the number of variables still unbound. Not a HIDagentX: type-mismatch error, with
    // IsActive already set.
    qint32 BindVars(QObject *AHIDagent);
    // Unbinds every variable and binds it again on the current interface, through the component kept
    // by BindVars; the argument is not used. Returns the number still unbound.
    qint32 ReBind(QObject *AHIDagent);
    // Unbinds (and forgets the reports of) every variable on interface AHidHandle.
    void HidClosed(QObject *Sender, qint32 NumStillOpen, const QString &AName, qint32 AHidHandle);
    // True when a variable records AHidHandle, bound or not; still true after HidClosed.
    bool HasHandle(qint32 AHidHandle) const;
    void Shutdown(); // IsActive := false; nothing is unbound or sent
    void HidRptArrived(QObject *Sender, qint32 RptIndexInIntf, qint32 AllRptIndex);
    void BindEvents();

    // False with no I/O while the report index is -1; otherwise the component's read/write result.
    bool ReadInputRptA();
    bool WriteOutputRptB();
    bool ReadAllReports();
    bool WriteAllReports();
    // Output report B as WriteAllReports would write it with OutVar1 set to code (report ID byte first),
    // without writing it or changing the variable; empty while OutVar1 is unbound or refuses the code.
    // The interface's path and whether its device numbers its reports are told too.
    QByteArray OutputRptBWith(qint16 code, QString *intfPath = nullptr, bool *usesReportIds = nullptr) const;

    qint32 UnboundVarCount() const;
    qint32 VariableCount() const;
    bool IsAllUnbound() const;
    // Forgets report A or B when it is AVar's report. Run it before the variable's UnBind.
    void UnBindRpt(const TOneHidVar *AVar);
    qint32 DeviceIdentity() const;

    VarRef InVar1();
    void SetInVar1(VarRef value);
    VarRef InVar2();
    void SetInVar2(VarRef value);
    VarRef OutVar1();
    void SetOutVar1(VarRef value);

    // The variables made at creation, InVar1, InVar2, OutVar1; property writes leave them alone.
    const std::array<VarRef, SlotCount> &VarSlots() const;
    bool IsActive() const;
    qint32 RptIndexA() const;
    qint32 RptIndexB() const;
    // The component given to BindVars; null when none (or when it was destroyed).
    HIDagentX *HIDagent() const;

Q_SIGNALS:
    // Declared for subscribers that may want them; no member raises them.
    void OnReportArrival(QObject *Sender, qint32 RptIndexInIntf, qint32 AllRptIndex);
    void OnCloseHidInterface(QObject *Sender, qint32 NumStillOpen, const QString &IntfName,
                             qint32 AHidHandle);

private:
    bool DeviceIsMatched();
    qint32 BindAllVars();
    void RecordRptIndices();
    HIDagentX &agent() const;

    qint32 m_ClassDebugID = 0;
    bool m_IsActive = false;
    QPointer<HIDagentX> m_HIDagent;
    qint32 m_DeviceIdentity = 0;
    VarRef m_InVar1;
    VarRef m_InVar2;
    VarRef m_OutVar1;
    std::array<VarRef, SlotCount> m_VarSlots;
    qint32 m_RptIndexA = -1;
    qint32 m_RptIndexB = -1;
};
