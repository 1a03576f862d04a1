#pragma once

#include "HidReportDescriptor.h"
#include "HidTransport.h"
#include "VirtualDevice.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QPair>
#include <QQueue>
#include <QString>

#include <memory>
#include <vector>

struct WrittenReport
{
    QByteArray bytes; // as handed to the connection: report ID byte first (0 without IDs)
    qint64 monotonicNs = 0;
    HidReportType type = HidReportType::Output;
};

// One in-memory interface (plugging, refusing and failing as VirtualDevice).
class VirtualHidInterface : public VirtualDevice
{
public:
    HidInterfaceInfo info;
    QByteArray descriptor;
    QMap<int, QString> strings; // string descriptors by index
    // Every output/feature report written, in order. Writes may come from any thread, one at a time
    // (the agent's lock sees to that); read it while no write is under way.
    QList<WrittenReport> written;

    // What the next reads return, oldest first, report ID byte first (0 without IDs). A read with
    // nothing queued times out at once rather than waiting.
    void queueInputReport(const QByteArray &report);
    // What a feature read returns for a report ID (ID byte first).
    void setFeatureReport(const QByteArray &report);

    void failNextRead();

    int pendingInputReports() const { return int(m_input.size()); }

private:
    friend class VirtualHidTransport;
    friend class VirtualHidConnection;

    QQueue<QByteArray> m_input;
    QMap<int, QByteArray> m_feature;
    bool m_failRead = false;
};

// In-memory interfaces for tests and for people without the hardware: interfaces can be plugged and
// unplugged, made to fail the next read or write or to refuse opening, and every report written to them
// can be inspected. Everything happens synchronously on the caller's thread; reportWritten is emitted on
// the writing thread.
class VirtualHidTransport : public HidTransport
{
    Q_OBJECT
public:
    static constexpr quint16 MouseVendorId = 0x2A7B;
    static constexpr quint16 MouseProductId = 0x0101;
    static constexpr quint16 GamepadVendorId = 0x3C1F;
    static constexpr quint16 GamepadProductId = 0x0A01;

    using HidTransport::HidTransport;
    ~VirtualHidTransport() override;

    QList<HidInterfaceInfo> enumerate() override; // the plugged interfaces, in order of adding
    std::unique_ptr<HidConnection> open(const HidInterfaceInfo &info, QString *error,
                                        OpenFailure *failure = nullptr) override;
    QByteArray peekReportDescriptor(const HidInterfaceInfo &info) const override;
    bool startMonitoring() override;
    void stopMonitoring() override;
    bool isMonitoring() const { return m_monitoring; }

    // An empty info.path gets a generated "virtual/hidN" path. A path already in use is an error
    // (returns nullptr).
    VirtualHidInterface *addInterface(const HidInterfaceInfo &info, const QByteArray &descriptor,
                                      bool plugged = true);
    void plug(const QString &path);   // emits interfaceArrived while monitoring
    void unplug(const QString &path); // emits interfaceRemoved while monitoring; open connections fail
    // Unplugs without any removal event, as when the monitor missed it.
    void unplugUnannounced(const QString &path);
    VirtualHidInterface *interface(const QString &path);
    QList<VirtualHidInterface *> interfaces() const;

    // Ready-made devices.
    VirtualHidInterface *addArm(bool plugged = true); // X/Y input and the 0x3E command output
    // X/Y input on the first interface, the 0x3E output on the second; same identifiers.
    QPair<VirtualHidInterface *, VirtualHidInterface *> addSplitArm(bool plugged = true);
    VirtualHidInterface *addOtherDevice(bool plugged = true); // a three-button mouse of another vendor
    // A game pad of a third vendor: X, Y and Rz 0..255 (128 centred), an eight-way hat 0..7 (8 and up
    // released) and ten buttons, in one input report without an ID.
    VirtualHidInterface *addGamepad(bool plugged = true);
    // Its input report, ID byte first; buttons is a bit mask, button 1 in bit 0.
    static QByteArray gamepadReport(quint8 x, quint8 y, quint8 rz, quint8 hat = 8, quint16 buttons = 0);

    static QByteArray armReportDescriptor();
    static QByteArray armInputReportDescriptor();  // the X/Y half of the split arm
    static QByteArray armOutputReportDescriptor(); // the command half of the split arm
    static QByteArray mouseReportDescriptor();
    static QByteArray gamepadReportDescriptor();
    static HidInterfaceInfo armInfo(const QString &path, int interfaceNumber = 0);

Q_SIGNALS:
    // Emitted for every output report written, after it has been recorded in `written`.
    void reportWritten(const QString &path, const QByteArray &report, qint64 monotonicNs);

private:
    friend class VirtualHidConnection;
    VirtualHidInterface *find(const QString &path) const;
    // Adds interface 0 of a device at the first free path `stem`N.
    VirtualHidInterface *addNumbered(const QString &stem, HidInterfaceInfo info, const QByteArray &descriptor,
                                     bool plugged);

    std::vector<std::unique_ptr<VirtualHidInterface>> m_interfaces;
    bool m_monitoring = false;
    int m_nextPath = 0;
};
