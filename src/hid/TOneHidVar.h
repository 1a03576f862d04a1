#pragma once

#include <QPointer>
#include <QString>
#include <QVariant>
#include <QtGlobal>

class HIDagentX;
class QObject;

// One data variable of a HID interface: a field of an input, output or feature report named by report
// type, usage page and usage. Made unbound, given its identity by DoCreate, found in the component's
// current interface by Bind; from then on its value goes through the component by VarIndex and Update
// does the I/O of its report. While bound it keeps the attributes the component reported at binding.
//
// Errors: the members marked "trapped" turn any failure inside them into RaiseError(9999, <member>);
// every other member lets a failure through as it came. All errors are HidError.
class TOneHidVar
{
public:
    enum ReportType : qint16 { Input = 0, Output = 1, Feature = 2 };
    enum ScaleModes : qint32 { smBoth = 0, smUnscaledOnly = 1, smScaledOnly = 2 };

    // Takes the next serial number; the overflow error of the counter reaches the caller.
    TOneHidVar();
    TOneHidVar(const TOneHidVar &) = delete;
    TOneHidVar &operator=(const TOneHidVar &) = delete;
    // Drops the references only: nothing is unbound or sent.
    ~TOneHidVar();

    // Gives the variable its identity. MyRptType outside 16 bits throws the overflow error before any
    // field changes; a bound variable stays bound.
    void DoCreate(qint32 MyRptType, qint32 MyUsgPage, qint32 MyUsg, qint32 MyID, const QString &MyName);

    // Finds the variable in the component's current interface and records its attributes; false when
    // the interface has no such variable. An object that is not a HIDagentX throws the type-mismatch
    // error and changes nothing; any other failure is trapped ("OneHidVar:Bind Method") and keeps the
    // fields set before it.
    bool Bind(QObject *AHIDagent);
    void UnBind();                // trapped; sends nothing to the component
    bool IsBound() const;         // trapped
    bool Update(bool DataIn);     // trapped; reads or writes the holding report

    // Value members: every access goes to the component by VarIndex.
    qint32 ScaleMode() const;
    void SetScaleMode(qint32 mode);
    qint32 UnScaledValue() const;
    void SetUnScaledValue(double value);
    qint32 ScaledValue() const;   // trapped
    void SetScaledValue(qint32 value); // trapped
    // Reads false and ignores writes: nothing in the program needs a Boolean view of a variable.
    bool BoolValue() const;
    void SetBoolValue(bool value);

    qint32 Tag() const;
    void SetTag(qint32 value);

    qint32 VarIdentity() const;
    QString StringDescriptor() const;
    QString VarName() const;
    qint32 RptIndex() const;
    qint32 VarIndex() const;
    qint16 RptType() const;
    qint32 Usage() const;
    qint32 UsagePage() const;
    qint32 HidHandle() const;
    qint32 PhysicalMinimum() const;
    qint32 PhysicalMaximum() const;
    qint32 LogicalMinimum() const;
    qint32 LogicalMaximum() const;
    qint16 SizeInBits() const;    // trapped; a size above 16 bits cannot be read back
    bool IsButton() const;
    bool Volatile() const;
    bool NoWrap() const;
    bool NoPrefState() const;
    bool Linear() const;
    bool HasNullState() const;
    bool BitsNotBuffer() const;
    bool ArrayNotVariable() const;
    bool AbsoluteNotRelative() const;
    QVariant ClassDebugID() const; // holds a qint32

    // The component given to the last Bind, kept by UnBind; null when none (or when it was destroyed).
    HIDagentX *HIDagent() const;

private:
    HIDagentX &agent() const;

    QString m_VarName;
    qint16 m_RptType = 0;
    qint32 m_UsagePage = 0;
    qint32 m_Usage = 0;
    qint32 m_VarIdentity = 0;
    qint32 m_Tag = 0;
    qint32 m_ClassDebugID = 0;
    QPointer<HIDagentX> m_HIDagent;
    qint32 m_VarIndex = -1;
    qint32 m_RptIndex = -1;
    qint32 m_HidHandle = 0;
    qint32 m_LogicalMinimum = 0;
    qint32 m_LogicalMaximum = 0;
    qint32 m_PhysicalMinimum = 0;
    qint32 m_PhysicalMaximum = 0;
    qint32 m_SizeInBits = 0;
    QString m_StringDescriptor;
    bool m_AbsoluteNotRelative = false;
    bool m_ArrayNotVariable = false;
    bool m_BitsNotBuffer = false;
    bool m_HasNullState = false;
    bool m_Linear = false;
    bool m_NoPrefState = false;
    bool m_NoWrap = false;
    bool m_Volatile = false;
    bool m_IsButton = false;
};
