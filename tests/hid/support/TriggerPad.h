#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <initializer_list>

// A game pad of the newer kind, for the unit tests and the system pass's device player: report ID 1;
// the sticks X, Y and (unless left out) Rx, Ry are 16-bit signed, -32768..32767 with 0 centred; Z and Rz
// are analogue triggers, 0..1023 in 16-bit fields, resting at 0; then an eight-way hat (8: released) and
// twelve buttons, the twelfth being the last and so the stop button.
namespace TriggerPad {

inline QByteArray descriptor(bool rightStick = true)
{
    const auto bytes = [](std::initializer_list<quint8> list) {
        QByteArray out;
        for (quint8 b : list)
            out.append(char(b));
        return out;
    };
    QByteArray d = bytes({
        0x05, 0x01,       // Usage Page (Generic Desktop)
        0x09, 0x05,       // Usage (Game Pad)
        0xA1, 0x01,       // Collection (Application)
        0x85, 0x01,       //   Report ID (1)
        0x16, 0x00, 0x80, //   Logical Minimum (-32768)
        0x26, 0xFF, 0x7F, //   Logical Maximum (32767)
        0x75, 0x10,       //   Report Size (16)
    });
    d += rightStick ? bytes({0x95, 0x04, 0x09, 0x30, 0x09, 0x31, 0x09, 0x33, 0x09, 0x34}) // X Y Rx Ry
                    : bytes({0x95, 0x02, 0x09, 0x30, 0x09, 0x31});                        // X Y
    d += bytes({
        0x81, 0x02,       //   Input (Data, Variable, Absolute)
        0x15, 0x00,       //   Logical Minimum (0)
        0x26, 0xFF, 0x03, //   Logical Maximum (1023)
        0x95, 0x02,       //   Report Count (2)
        0x09, 0x32,       //   Usage (Z)
        0x09, 0x35,       //   Usage (Rz)
        0x81, 0x02,       //   Input (Data, Variable, Absolute)
        0x09, 0x39,       //   Usage (Hat Switch)
        0x25, 0x07,       //   Logical Maximum (7)
        0x35, 0x00,       //   Physical Minimum (0)
        0x46, 0x3B, 0x01, //   Physical Maximum (315)
        0x65, 0x14,       //   Unit (degrees)
        0x75, 0x04,       //   Report Size (4)
        0x95, 0x01,       //   Report Count (1)
        0x81, 0x42,       //   Input (Data, Variable, Absolute, Null State)
        0x65, 0x00,       //   Unit (none)
        0x05, 0x09,       //   Usage Page (Button)
        0x19, 0x01,       //   Usage Minimum (1)
        0x29, 0x0C,       //   Usage Maximum (12)
        0x25, 0x01,       //   Logical Maximum (1)
        0x75, 0x01,       //   Report Size (1)
        0x95, 0x0C,       //   Report Count (12)
        0x81, 0x02,       //   Input (Data, Variable, Absolute)
        0xC0,             // End Collection
    });
    return d;
}

// Where the pad's controls stand; a default one is the pad left alone.
struct State
{
    qint16 x = 0, y = 0, rx = 0, ry = 0;
    quint16 z = 0, rz = 0;
    quint8 hat = 8;
    quint16 buttons = 0; // button 1 in bit 0

    // The input report, report ID first, for a pad made with the same rightStick.
    QByteArray report(bool rightStick = true) const
    {
        QByteArray out(1, char(0x01));
        const auto put16 = [&out](quint16 v) {
            out.append(char(v & 0xFF));
            out.append(char(v >> 8));
        };
        put16(quint16(x));
        put16(quint16(y));
        if (rightStick) {
            put16(quint16(rx));
            put16(quint16(ry));
        }
        put16(z);
        put16(rz);
        out.append(char((hat & 0x0F) | ((buttons & 0x0F) << 4)));
        out.append(char((buttons >> 4) & 0xFF));
        return out;
    }
};

} // namespace TriggerPad
