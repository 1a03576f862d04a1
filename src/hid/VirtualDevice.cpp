#include "VirtualDevice.h"

void VirtualDevice::failNextWrite(bool deviceGone, int count)
{
    m_failWriteGone = deviceGone;
    m_failWrite = count;
}

void VirtualDevice::denyOpen(bool permissionDenied)
{
    m_denied = permissionDenied ? DeviceOpenFailure::PermissionDenied : DeviceOpenFailure::Other;
}

void VirtualDevice::allowOpen()
{
    m_denied = DeviceOpenFailure::None;
}

void VirtualDevice::holdWrites(bool hold)
{
    {
        const std::lock_guard<std::mutex> guard(m_holdLock);
        m_held = hold;
    }
    m_holdChanged.notify_all();
}

void VirtualDevice::waitWhileHeld()
{
    std::unique_lock<std::mutex> hold(m_holdLock);
    m_holdChanged.wait(hold, [this] { return !m_held; });
}

bool VirtualDevice::setPlugged(bool plugged)
{
    const std::lock_guard delivery(m_deliveryLock);
    if (m_plugged == plugged)
        return false;
    if (plugged)
        ++m_generation;
    m_plugged = plugged;
    return true;
}

DeviceOpenFailure VirtualDevice::refusal(const QString &path, QString *error) const
{
    DeviceOpenFailure failure = m_denied;
    QString why;
    if (!m_plugged) {
        failure = DeviceOpenFailure::NotFound;
        why = QStringLiteral("no such device");
    } else if (failure == DeviceOpenFailure::PermissionDenied) {
        why = QStringLiteral("Permission denied");
    } else if (failure != DeviceOpenFailure::None) {
        why = QStringLiteral("cannot open (simulated)");
    }
    if (error && failure != DeviceOpenFailure::None)
        *error = QStringLiteral("%1: %2").arg(path, why);
    return failure;
}

int VirtualDevice::deliver(int generation, const std::function<void()> &record)
{
    const std::lock_guard delivery(m_deliveryLock);
    if (!m_plugged || m_generation != generation)
        return ENODEV;
    int failing = m_failWrite.load();
    while (failing > 0 && !m_failWrite.compare_exchange_weak(failing, failing - 1)) {
    }
    if (failing > 0)
        return m_failWriteGone ? ENODEV : EIO;
    record();
    return 0;
}
