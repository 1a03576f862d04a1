#include "TOneHidVar.h"

#include "HIDagentX.h"
#include "HidError.h"
#include "mdlKORIV.h"

#include <limits>

namespace {

// The component is held weakly; a variable whose component is gone fails like an unset reference.
HidError objectNotSet()
{
    return HidError(91, QString(), QStringLiteral("Object variable or With block variable not set"));
}

} // namespace

TOneHidVar::TOneHidVar() : m_ClassDebugID(mdlKORIV::NextClassDebugID()) {}

TOneHidVar::~TOneHidVar() = default;

HIDagentX &TOneHidVar::agent() const
{
    if (!m_HIDagent)
        throw objectNotSet();
    return *m_HIDagent;
}

HIDagentX *TOneHidVar::HIDagent() const
{
    return m_HIDagent.data();
}

void TOneHidVar::DoCreate(qint32 MyRptType, qint32 MyUsgPage, qint32 MyUsg, qint32 MyID, const QString &MyName)
{
    if (MyRptType < std::numeric_limits<qint16>::min() || MyRptType > std::numeric_limits<qint16>::max())
        throw HidError::overflow();
    m_RptType = qint16(MyRptType);
    m_UsagePage = MyUsgPage;
    m_Usage = MyUsg;
    m_VarIdentity = MyID;
    m_VarName = MyName;
}

bool TOneHidVar::Bind(QObject *AHIDagent)
{
    // The argument is converted before the member runs, so a wrong object is not trapped.
    HIDagentX *component = qobject_cast<HIDagentX *>(AHIDagent);
    if (AHIDagent && !component)
        throw HidError::typeMismatch();

    return mdlKORIV::RunTrapped(QStringLiteral("OneHidVar:Bind Method"), [&] {
        m_HIDagent = component;
        HIDagentX &a = agent();
        m_VarIndex = a.FindVar(m_UsagePage, m_Usage, m_RptType, false);
        if (m_VarIndex < 0)
            return false;
        a.SelectVar(m_VarIndex);
        m_HidHandle = a.IntfHandle();
        m_RptIndex = a.VarRptIndex(m_VarIndex);
        m_AbsoluteNotRelative = a.AbsoluteNotRelative();
        m_ArrayNotVariable = a.ArrayNotVariable();
        m_BitsNotBuffer = a.BitsNotBuffer();
        m_HasNullState = a.HasNullState();
        m_IsButton = a.VarIsButton(m_VarIndex);
        m_Linear = a.Linear();
        m_LogicalMaximum = a.LogicalMaximum();
        m_LogicalMinimum = a.LogicalMinimum();
        m_NoPrefState = a.NoPrefState();
        m_NoWrap = a.NoWrap();
        m_PhysicalMaximum = a.PhysicalMaximum();
        m_PhysicalMinimum = a.PhysicalMinimum();
        m_SizeInBits = a.SizeInBits();
        m_StringDescriptor = a.StringDescriptor();
        m_Volatile = a.Volatile();
        a.SetVarName(m_VarIndex, m_VarName);
        // Bound variables always read raw values, whatever mode was asked for before.
        a.SetScaleMode(smUnscaledOnly);
        return true;
    });
}

void TOneHidVar::UnBind()
{
    // The handle, flags and identity stay: the close handling finds a closed interface's device
    // object by the handle its variables recorded.
    mdlKORIV::RunTrapped(QStringLiteral("OneHidVar:UnBind Method"), [&] {
        m_VarIndex = -1;
        m_RptIndex = -1;
        m_LogicalMaximum = 0;
        m_LogicalMinimum = 0;
        m_PhysicalMaximum = 0;
        m_PhysicalMinimum = 0;
        m_VarName.clear();
        m_StringDescriptor.clear();
    });
}

bool TOneHidVar::IsBound() const
{
    return m_VarIndex >= 0;
}

bool TOneHidVar::Update(bool DataIn)
{
    return mdlKORIV::RunTrapped(QStringLiteral("OneHidVar:Update Method"), [&] {
        if (m_RptIndex < 0)
            return false;
        HIDagentX &a = agent();
        a.SetCurrentRptNum(m_RptIndex);
        switch (m_RptType) {
        case Input:
            return a.ReadRpt();
        case Output:
            return a.WriteRpt();
        case Feature:
            return DataIn ? a.ReadRpt() : a.WriteRpt();
        default:
            return false;
        }
    });
}

qint32 TOneHidVar::ScaleMode() const
{
    if (!IsBound())
        return smUnscaledOnly;
    HIDagentX &a = agent();
    a.SelectVar(m_VarIndex);
    return a.ScaleMode();
}

void TOneHidVar::SetScaleMode(qint32 mode)
{
    // Unbound there is nowhere to keep the mode; Bind sets its own anyway.
    if (!IsBound())
        return;
    HIDagentX &a = agent();
    a.SelectVar(m_VarIndex);
    a.SetScaleMode(mode);
}

qint32 TOneHidVar::UnScaledValue() const
{
    if (!IsBound())
        return 0;
    return agent().VarUnScaledValue(m_VarIndex);
}

void TOneHidVar::SetUnScaledValue(double value)
{
    if (IsBound())
        agent().SetVarUnScaledValue(m_VarIndex, value);
}

qint32 TOneHidVar::ScaledValue() const
{
    return mdlKORIV::RunTrapped(QStringLiteral("OneHidVar:ScaledValue Property Get"), [&] {
        if (!IsBound())
            return 0;
        return agent().VarScaledValue(m_VarIndex);
    });
}

void TOneHidVar::SetScaledValue(qint32 value)
{
    mdlKORIV::RunTrapped(QStringLiteral("OneHidVar:ScaledValue Property Let"), [&] {
        if (IsBound())
            agent().SetVarScaledValue(m_VarIndex, value);
    });
}

bool TOneHidVar::BoolValue() const
{
    return false;
}

void TOneHidVar::SetBoolValue(bool value)
{
    Q_UNUSED(value);
}

qint32 TOneHidVar::Tag() const
{
    return m_Tag;
}

void TOneHidVar::SetTag(qint32 value)
{
    m_Tag = value;
}

qint32 TOneHidVar::VarIdentity() const
{
    return m_VarIdentity;
}

QString TOneHidVar::StringDescriptor() const
{
    return m_StringDescriptor;
}

QString TOneHidVar::VarName() const
{
    return m_VarName;
}

qint32 TOneHidVar::RptIndex() const
{
    return m_RptIndex;
}

qint32 TOneHidVar::VarIndex() const
{
    return m_VarIndex;
}

qint16 TOneHidVar::RptType() const
{
    return m_RptType;
}

qint32 TOneHidVar::Usage() const
{
    return m_Usage;
}

qint32 TOneHidVar::UsagePage() const
{
    return m_UsagePage;
}

qint32 TOneHidVar::HidHandle() const
{
    return m_HidHandle;
}

qint32 TOneHidVar::PhysicalMinimum() const
{
    return m_PhysicalMinimum;
}

qint32 TOneHidVar::PhysicalMaximum() const
{
    return m_PhysicalMaximum;
}

qint32 TOneHidVar::LogicalMinimum() const
{
    return m_LogicalMinimum;
}

qint32 TOneHidVar::LogicalMaximum() const
{
    return m_LogicalMaximum;
}

qint16 TOneHidVar::SizeInBits() const
{
    return mdlKORIV::RunTrapped(QStringLiteral("OneHidVar:SizeInBits Method"), [&] {
        if (m_SizeInBits < std::numeric_limits<qint16>::min() || m_SizeInBits > std::numeric_limits<qint16>::max())
            throw HidError::overflow();
        return qint16(m_SizeInBits);
    });
}

// The flag reads below are trapped members too, but a stored Boolean cannot fail to be read.
bool TOneHidVar::IsButton() const
{
    return m_IsButton;
}

bool TOneHidVar::Volatile() const
{
    return m_Volatile;
}

bool TOneHidVar::NoWrap() const
{
    return m_NoWrap;
}

bool TOneHidVar::NoPrefState() const
{
    return m_NoPrefState;
}

bool TOneHidVar::Linear() const
{
    return m_Linear;
}

bool TOneHidVar::HasNullState() const
{
    return m_HasNullState;
}

bool TOneHidVar::BitsNotBuffer() const
{
    return m_BitsNotBuffer;
}

bool TOneHidVar::ArrayNotVariable() const
{
    return m_ArrayNotVariable;
}

bool TOneHidVar::AbsoluteNotRelative() const
{
    return m_AbsoluteNotRelative;
}

QVariant TOneHidVar::ClassDebugID() const
{
    return QVariant::fromValue<qint32>(m_ClassDebugID);
}
