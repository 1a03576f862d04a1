#include "ArmUsbIds.h"
#include "HidTestSupport.h"

namespace HidTestSupport {

std::optional<HidError> errorOf(const std::function<void()> &body)
{
    try {
        body();
    } catch (const HidError &e) {
        return e;
    }
    return std::nullopt;
}

AgentRig::AgentRig() : agent(std::make_unique<HIDagentX>(&transport))
{
    agent->SetLogging(false);
    agent->SetTimeOut(3000);
    agent->SetShowOperations(false);
    agent->SetVerbose(false);
    agent->StartAgent();
    agent->SetVID_To_Match(ArmUsbIds::HidVendorId);
    agent->SetPID_To_Match(ArmUsbIds::HidProductId);
    agent->SetSearchOnVID(true);
    agent->SetSearchOnPID(true);
}

AgentRig::~AgentRig()
{
    // The component goes first: it holds connections into the transport.
    agent.reset();
}

bool AgentRig::openMatching()
{
    return agent->OpenMatchingIntfs();
}

bool AgentRig::openAndSelectNewest()
{
    const bool found = agent->OpenMatchingIntfs();
    if (agent->IntfCount() > 0)
        agent->SelectIntf(agent->IntfCount() - 1);
    return found;
}

void AgentRig::matchEverything()
{
    agent->SetSearchOnVID(false);
    agent->SetSearchOnPID(false);
}

VirtualHidInterface *addCustomInterface(VirtualHidTransport &transport, const QByteArray &descriptor,
                                        quint16 vendorId, quint16 productId)
{
    HidInterfaceInfo info = VirtualHidTransport::armInfo(QString());
    info.vendorId = vendorId;
    info.productId = productId;
    info.product = QStringLiteral("Test interface");
    return transport.addInterface(info, descriptor);
}

QByteArray bytes(std::initializer_list<quint8> list)
{
    QByteArray out;
    for (quint8 b : list)
        out.append(char(b));
    return out;
}

} // namespace HidTestSupport
