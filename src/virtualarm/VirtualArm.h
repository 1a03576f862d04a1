#pragma once

#include "HidReportDescriptor.h"
#include "KitCommand.h"
#include "VirtualHidTransport.h"
#include "VirtualKitTransport.h"

#include <QByteArray>
#include <QList>
#include <QObject>

#include <atomic>
#include <mutex>

// The virtual arm's side of the wire. Posing as the HID board, it decodes the command code of every
// output report written to the arm interface(s) of a VirtualHidTransport, using the command variable
// (usage 0x3E) of the interface's own report descriptor. Posing as the USB interface kit, it decodes
// every command transfer written to its kit on a VirtualKitTransport: the motor bits as a code, and
// the light.
//
// Reports may be written from any thread; commandReceived is always emitted on the arm's own thread,
// in the order the reports were written (at once for a write made on that thread).
class VirtualArm : public QObject
{
    Q_OBJECT
public:
    enum class Shape { OneInterface, TwoInterfaces };
    enum class Kind { Hid, Kit };

    // Adds the arm to the transport and plugs it in.
    explicit VirtualArm(VirtualHidTransport &transport, QObject *parent = nullptr);
    VirtualArm(VirtualHidTransport &transport, Shape shape, QObject *parent = nullptr);
    // Adds a kit to the transport and plugs it in. The kit's motors are wired as `wiring` says, so
    // that a motor the program turns the other way round turns as the program meant.
    explicit VirtualArm(VirtualKitTransport &kits, const KitReversed &wiring = {}, QObject *parent = nullptr);

    Kind kind() const { return m_kit ? Kind::Kit : Kind::Hid; }
    // The interface that receives the commands; nullptr for a kit.
    VirtualHidInterface *armInterface() const;
    QList<VirtualHidInterface *> interfaces() const { return m_interfaces; }
    // The kit that receives the commands; nullptr for the HID board.
    VirtualKit *kitDevice() const { return m_kit; }

    void plugIn(); // arrival, as the component sees it
    // Removal. The arm's controller is powered through the cable, so its motors stop: emits
    // powerLost.
    void unplug();
    bool isPluggedIn() const;

    int lastCode() const { return m_lastCode.load(); } // -1 before the first command
    // The light in the gripper as the last command left it (the HID board has none: always off).
    bool light() const { return m_light.load(); }
    int commandCount() const { return m_commandCount.load(); }

    // The code carried by a report as the device receives it (no ID byte when the device uses no
    // IDs); -1 when the layout has no command variable or the report is too short for it.
    static int decodeCommand(const HidReportLayout &layout, const QByteArray &deviceReport);

Q_SIGNALS:
    // `report` is the report as the arm receives it: without the leading ID byte when the interface
    // uses no report IDs.
    void commandReceived(int code, qint64 monotonicNs, const QByteArray &report);
    // The arm lost its power supply at monotonicNs (the clock of commandReceived); every motor stops
    // and the light goes out.
    void powerLost(qint64 monotonicNs);
    // The light in the gripper came on or went out, with the command of commandReceived that did it
    // (emitted just before it).
    void lightChanged(bool on, qint64 monotonicNs);

private:
    struct Received
    {
        int code = -1;
        qint64 monotonicNs = 0;
        QByteArray report;
        bool light = false;
    };

    void onReportWritten(const QString &path, const QByteArray &report, qint64 monotonicNs);
    void onKitCommandWritten(const QString &path, const QByteArray &command, qint64 monotonicNs);
    void receive(const Received &received);
    // Emits the oldest reports not yet emitted, at most `most` of them (all when negative).
    void deliverReceived(int most);
    Q_INVOKABLE void deliverOne();

    VirtualHidTransport *m_transport = nullptr;
    VirtualKitTransport *m_kits = nullptr;
    VirtualKit *m_kit = nullptr;
    KitReversed m_wiring{};
    QList<VirtualHidInterface *> m_interfaces;
    VirtualHidInterface *m_commandInterface = nullptr;
    QString m_commandPath;
    HidReportLayout m_layout;
    std::atomic<int> m_lastCode{-1};
    std::atomic<int> m_commandCount{0};
    std::atomic<bool> m_light{false};
    bool m_lightTold = false; // own thread only: the light as last told by lightChanged

    std::mutex m_receivedMutex;
    QList<Received> m_received; // not yet emitted
    bool m_delivering = false;  // own thread only
    bool m_drainAll = false;
};
