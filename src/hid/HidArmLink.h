#pragma once

#include "ArmLink.h"

#include <QHash>
#include <QList>
#include <QString>

#include <memory>

class ArmDeviceList;
class HIDagentX;
class HidTransport;

// The HID boards as one ArmLink: the HID component (HIDagentX), searching for the arm's USB ids, and
// the device objects bound to the arm's interfaces (ArmDeviceList), each interface an arm. The
// component's own events run nested inside its calls, under its lock, as its device objects need (the
// newest interface is bound as it opens); the link collects what they mean for its arms there and tells
// it (ArmLink's signals) once the component's lock is released: at the end of the call or hot-plug
// event that caused it, or, for an interface the component closes from its own event loop (a device
// found gone, or stalled), from the link's event loop right after.
//
// The link's lock is the component's (`agent().lock()`).
class HidArmLink : public ArmLink
{
    Q_OBJECT
public:
    // The transport is not owned and must outlive the link.
    explicit HidArmLink(HidTransport *transport, QObject *parent = nullptr);
    ~HidArmLink() override;

    HIDagentX &agent() const { return *m_agent; }
    ArmDeviceList &devices() const { return *m_devices; }

    // The text that names the arm in an interface's device name; empty matches every interface. Only
    // the interfaces it matches count as arms.
    void setDeviceIdentity(const QString &identity) { m_identity = identity; }
    bool deviceNameMatches(const QString &deviceName) const;

    void start() override;
    void stop() override;
    int armCount() const override;
    QString severalRefusal() const override;
    QStringList describeArms() const override;
    QList<GuardTarget> stopTargets(bool asLogged) const override;
    Sent send(qint16 code, const ArmIds *only = nullptr) override;

private:
    struct Event
    {
        enum Kind { Opened, Closed, Denied, Stalled };
        Kind kind;
        QString path;
        int stillOpen = 0;
        QString reason;
    };
    class Serving;

    void onIntfOpened(int index, int handle);
    void onIntfClosed(int stillOpen, const QString &name, int handle);
    void onWriteStalled(int handle);
    void onArrival();
    void collect(const Event &event);
    Q_INVOKABLE void tell();

    std::unique_ptr<HIDagentX> m_agent;
    std::unique_ptr<ArmDeviceList> m_devices;
    QString m_identity;
    // The path of each open interface, by handle: a closed interface's is gone from the component.
    QHash<int, QString> m_paths;
    // What the component's events meant, to be told once its lock is released; the link's thread only.
    QList<Event> m_events;
    // Calls and hot-plug events of the link's own under way: they tell what they collected as they end.
    int m_serving = 0;
    bool m_tellPosted = false;
};
