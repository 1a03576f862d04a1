#include "ArmDeviceList.h"

#include "HIDagentX.h"
#include "HidError.h"
#include "TVantor.h"

#include <algorithm>
#include <exception>

ArmDeviceList::ArmDeviceList(HIDagentX &agent, QObject *sender) : m_agent(agent), m_sender(sender) {}

ArmDeviceList::~ArmDeviceList() = default;

int ArmDeviceList::Count() const
{
    const auto guard = m_agent.lock();
    return int(m_devices.size());
}

TVantor *ArmDeviceList::Item(int i) const
{
    const auto guard = m_agent.lock();
    if (i < 1 || i > Count())
        throw HidError(9, QString(), QStringLiteral("Subscript out of range"));
    return m_devices[size_t(i - 1)].get();
}

TVantor *ArmDeviceList::LastDevice() const
{
    const auto guard = m_agent.lock();
    return m_devices.empty() ? nullptr : m_devices.back().get();
}

void ArmDeviceList::OnIntfOpened()
{
    const auto guard = m_agent.lock();
    std::shared_ptr<TVantor> device;
    bool add = true;
    if (!m_devices.empty() && m_devices.back()->UnboundVarCount() != 0) {
        // The last object still misses variables: they may live on this newly opened interface.
        device = m_devices.back();
        add = false;
    } else {
        device = std::make_shared<TVantor>();
    }
    const qint32 r = device->BindVars(&m_agent);
    if (r >= 0 && add)
        m_devices.push_back(std::move(device));
}

void ArmDeviceList::OnIntfClosed(int NumStillOpen, const QString &IntfName, int AHidHandle)
{
    const auto guard = m_agent.lock();
    // From the end, so that removing element i leaves the positions still to be visited in place.
    for (int i = Count(); i >= 1; --i) {
        if (i > Count())
            continue;
        const std::shared_ptr<TVantor> device = m_devices[size_t(i - 1)];
        device->HidClosed(m_sender, NumStillOpen, IntfName, AHidHandle);
        if (device->HasHandle(AHidHandle)) {
            device->Shutdown();
            m_devices.erase(m_devices.begin() + (i - 1));
        }
    }

    // Object i goes with the component's open interface i-1.
    const int n = Count();
    for (int i = 1; i <= n; ++i) {
        const int h = m_agent.SelectIntf(i - 1);
        m_agent.SelectIntfByHandle(h);
        const std::shared_ptr<TVantor> device = m_devices.at(size_t(i - 1));
        device->ReBind(&m_agent);
    }
}

void ArmDeviceList::OnRptArrived(int RptIndexInIntf, int AllRptIndex)
{
    const auto guard = m_agent.lock();
    for (int i = Count(); i >= 1; --i) {
        if (i > Count())
            continue;
        const std::shared_ptr<TVantor> device = m_devices[size_t(i - 1)];
        device->HidRptArrived(m_sender, RptIndexInIntf, AllRptIndex);
    }
}

bool ArmDeviceList::SendToAll(qint16 code, QString *error, QList<quint64> *failedDevices, const QList<quint64> *only)
{
    const auto guard = m_agent.lock();
    bool allSent = true;
    const TVantor *serving = nullptr;
    auto failed = [&](const QString &why) {
        if (allSent && error)
            *error = why;
        allSent = false;
        if (failedDevices)
            failedDevices->append(quint64(serving->ClassDebugID()));
    };
    // A write may raise a component event that changes the list under us: the devices are taken
    // from a copy, and one that has left the list meanwhile is not served.
    const std::vector<std::shared_ptr<TVantor>> devices = m_devices;
    for (const std::shared_ptr<TVantor> &device : devices) {
        if (std::find(m_devices.begin(), m_devices.end(), device) == m_devices.end())
            continue;
        if (only && !only->contains(quint64(device->ClassDebugID())))
            continue;
        serving = device.get();
        try {
            device->OutVar1()->SetUnScaledValue(double(code));
        } catch (const HidError &e) {
            failed(QStringLiteral("code %1 refused: %2").arg(code).arg(e.description()));
            continue;
        } catch (const std::exception &e) {
            failed(QStringLiteral("code %1 refused: %2").arg(code).arg(QString::fromLocal8Bit(e.what())));
            continue;
        }
        try {
            if (!device->WriteAllReports()) {
                const HIDagentX *agent = device->HIDagent();
                // An arm that has gone is no fault of the send: its removal follows and says so.
                if (agent && agent->LastIoDeviceGone()) {
                    allSent = false;
                    continue;
                }
                const QString why = agent ? agent->LastIoError() : QString();
                failed(QStringLiteral("code %1 not written%2")
                           .arg(code)
                           .arg(why.isEmpty() ? QString() : QStringLiteral(": ") + why));
            }
        } catch (const HidError &e) {
            failed(QStringLiteral("code %1 not written: %2").arg(code).arg(e.description()));
        } catch (const std::exception &e) {
            failed(QStringLiteral("code %1 not written: %2").arg(code).arg(QString::fromLocal8Bit(e.what())));
        }
    }
    return allSent;
}
