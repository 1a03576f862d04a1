#include "TVantor.h"

#include "ArmUsbIds.h"
#include "HIDagentX.h"
#include "HidError.h"
#include "mdlKORIV.h"

namespace {

HidError objectNotSet()
{
    return HidError(91, QString(), QStringLiteral("Object variable or With block variable not set"));
}

TVantor::VarRef makeVar(qint32 rptType, qint32 usagePage, qint32 usage, qint32 identity, const QString &name)
{
    auto var = std::make_shared<TOneHidVar>();
    var->DoCreate(rptType, usagePage, usage, identity, name);
    return var;
}

} // namespace

TVantor::TVantor(QObject *parent) : QObject(parent)
{
    // Generic Desktop X and Y in the input report, and usage 0x3E in the output report that carries
    // the command code. The variables take their serials before the device object does.
    m_InVar1 = makeVar(TOneHidVar::Input, 1, 0x30, 1, QStringLiteral("InVar1"));
    m_VarSlots[0] = m_InVar1;
    m_InVar2 = makeVar(TOneHidVar::Input, 1, 0x31, 1, QStringLiteral("InVar2"));
    m_VarSlots[1] = m_InVar2;
    m_OutVar1 = makeVar(TOneHidVar::Output, 1, 0x3E, 1, QStringLiteral("OutVar1"));
    m_VarSlots[2] = m_OutVar1;
    m_ClassDebugID = mdlKORIV::NextClassDebugID();
}

TVantor::~TVantor() = default;

HIDagentX &TVantor::agent() const
{
    if (!m_HIDagent)
        throw objectNotSet();
    return *m_HIDagent;
}

HIDagentX *TVantor::HIDagent() const
{
    return m_HIDagent.data();
}

qint32 TVantor::ClassDebugID() const
{
    return m_ClassDebugID;
}

qint32 TVantor::BindVars(QObject *AHIDagent)
{
    m_IsActive = true;
    HIDagentX *component = qobject_cast<HIDagentX *>(AHIDagent);
    if (AHIDagent && !component)
        throw HidError::typeMismatch();
    m_HIDagent = component;

    HIDagentX &a = agent();
    a.SelectIntf(a.IntfCount() - 1);
    if (!DeviceIsMatched())
        return -1;
    const qint32 stillUnbound = BindAllVars();
    RecordRptIndices();
    return stillUnbound;
}

bool TVantor::DeviceIsMatched()
{
    return mdlKORIV::RunTrapped(QStringLiteral("Tvantor:DeviceIsMatched Method"), [&] {
        HIDagentX &a = agent();
        return ArmUsbIds::isHidBoard(quint16(a.IntfVID()), quint16(a.IntfPID()));
    });
}

qint32 TVantor::BindAllVars()
{
    // A variable kept from an earlier interface is neither bound again nor looked for here.
    qint32 count = SlotCount;
    for (const VarRef &var : m_VarSlots) {
        if (var->IsBound()) {
            --count;
        } else if (var->Bind(m_HIDagent.data())) {
            --count;
            if (var->VarIdentity() != AnyDeviceIdentity && m_DeviceIdentity == 0)
                m_DeviceIdentity = var->VarIdentity();
        }
    }
    return count;
}

void TVantor::RecordRptIndices()
{
    const qint32 a = InVar1()->RptIndex();
    if (a >= 0)
        m_RptIndexA = a;
    const qint32 b = OutVar1()->RptIndex();
    if (b >= 0)
        m_RptIndexB = b;
}

qint32 TVantor::ReBind(QObject *AHIDagent)
{
    Q_UNUSED(AHIDagent);
    for (const VarRef &var : m_VarSlots) {
        UnBindRpt(var.get());
        var->UnBind();
    }
    const qint32 stillUnbound = BindAllVars();
    RecordRptIndices();
    BindEvents();
    return stillUnbound;
}

void TVantor::HidClosed(QObject *Sender, qint32 NumStillOpen, const QString &AName, qint32 AHidHandle)
{
    Q_UNUSED(Sender);
    Q_UNUSED(NumStillOpen);
    Q_UNUSED(AName);
    for (const VarRef &var : m_VarSlots) {
        if (var->HidHandle() == AHidHandle) {
            UnBindRpt(var.get());
            var->UnBind();
        }
    }
}

bool TVantor::HasHandle(qint32 AHidHandle) const
{
    for (const VarRef &var : m_VarSlots) {
        if (var->HidHandle() == AHidHandle)
            return true;
    }
    return false;
}

void TVantor::Shutdown()
{
    m_IsActive = false;
}

void TVantor::HidRptArrived(QObject *Sender, qint32 RptIndexInIntf, qint32 AllRptIndex)
{
    // Reports are read on demand; an arrival needs no handling.
    Q_UNUSED(Sender);
    Q_UNUSED(RptIndexInIntf);
    Q_UNUSED(AllRptIndex);
}

void TVantor::BindEvents() {}

bool TVantor::ReadInputRptA()
{
    if (m_RptIndexA < 0)
        return false;
    HIDagentX &a = agent();
    a.SelectRpt(m_RptIndexA);
    return a.ReadRpt();
}

bool TVantor::WriteOutputRptB()
{
    if (m_RptIndexB < 0)
        return false;
    HIDagentX &a = agent();
    a.SelectRpt(m_RptIndexB);
    return a.WriteRpt();
}

bool TVantor::ReadAllReports()
{
    return ReadInputRptA();
}

bool TVantor::WriteAllReports()
{
    return WriteOutputRptB();
}

QByteArray TVantor::OutputRptBWith(qint16 code, QString *intfPath, bool *usesReportIds) const
{
    if (!m_HIDagent || !m_OutVar1 || m_RptIndexB < 0 || !m_OutVar1->IsBound())
        return QByteArray();
    return m_HIDagent->ReportWithValue(m_OutVar1->VarIndex(), code, intfPath, usesReportIds);
}

qint32 TVantor::UnboundVarCount() const
{
    qint32 count = SlotCount;
    for (const VarRef &var : m_VarSlots) {
        const qint32 id = var->VarIdentity();
        if (var->IsBound() || (id != m_DeviceIdentity && id != AnyDeviceIdentity))
            --count;
    }
    return count;
}

qint32 TVantor::VariableCount() const
{
    qint32 count = SlotCount;
    for (const VarRef &var : m_VarSlots) {
        const qint32 id = var->VarIdentity();
        if (id != m_DeviceIdentity && id != AnyDeviceIdentity)
            --count;
    }
    return count;
}

bool TVantor::IsAllUnbound() const
{
    return VariableCount() == UnboundVarCount();
}

void TVantor::UnBindRpt(const TOneHidVar *AVar)
{
    if (!AVar)
        throw objectNotSet();
    switch (AVar->RptType()) {
    case TOneHidVar::Input:
        if (AVar->RptIndex() == m_RptIndexA)
            m_RptIndexA = -1;
        break;
    case TOneHidVar::Output:
        if (AVar->RptIndex() == m_RptIndexB)
            m_RptIndexB = -1;
        break;
    default:
        break;
    }
}

qint32 TVantor::DeviceIdentity() const
{
    return m_DeviceIdentity;
}

TVantor::VarRef TVantor::InVar1()
{
    return mdlKORIV::RunTrapped(QStringLiteral("Tvantor:InVar1 Property Get"), [&] {
        if (!m_InVar1)
            m_InVar1 = std::make_shared<TOneHidVar>();
        return m_InVar1;
    });
}

void TVantor::SetInVar1(VarRef value)
{
    mdlKORIV::RunTrapped(QStringLiteral("Tvantor:InVar1 Property Let"), [&] { m_InVar1 = std::move(value); });
}

TVantor::VarRef TVantor::InVar2()
{
    return mdlKORIV::RunTrapped(QStringLiteral("Tvantor:InVar2 Property Get"), [&] {
        if (!m_InVar2)
            m_InVar2 = std::make_shared<TOneHidVar>();
        return m_InVar2;
    });
}

void TVantor::SetInVar2(VarRef value)
{
    mdlKORIV::RunTrapped(QStringLiteral("Tvantor:InVar2 Property Let"), [&] { m_InVar2 = std::move(value); });
}

TVantor::VarRef TVantor::OutVar1()
{
    return mdlKORIV::RunTrapped(QStringLiteral("Tvantor:OutVar1 Property Get"), [&] {
        if (!m_OutVar1)
            m_OutVar1 = std::make_shared<TOneHidVar>();
        return m_OutVar1;
    });
}

void TVantor::SetOutVar1(VarRef value)
{
    mdlKORIV::RunTrapped(QStringLiteral("Tvantor:OutVar1 Property Let"), [&] { m_OutVar1 = std::move(value); });
}

const std::array<TVantor::VarRef, TVantor::SlotCount> &TVantor::VarSlots() const
{
    return m_VarSlots;
}

bool TVantor::IsActive() const
{
    return m_IsActive;
}

qint32 TVantor::RptIndexA() const
{
    return m_RptIndexA;
}

qint32 TVantor::RptIndexB() const
{
    return m_RptIndexB;
}
