#pragma once

#include "ArmMotion.h"

#include <QByteArray>

#include <array>

// Per motor (the joint it turns), whether its two directions are swapped: a kit whose motor was wired
// the other way round, or whose firmware turns the base the other way, gets the opposite bit for each
// code of that motor.
using KitReversed = std::array<bool, ArmJointCount>;

// The interface kit's command: three bytes sent with a vendor control transfer. Byte 0 holds the
// shoulder (bits 7-6), elbow (5-4), wrist (3-2) and gripper (1-0); byte 1 bits 1-0 the base; byte 2
// bit 0 the light in the gripper. Each motor has one bit per direction and never both; all motor bits
// clear stops every motor.
//
// The program's command codes each turn one motor one way (1 ShoulderUp, 2 BaseCCW, 3 ElbowUp,
// 4 WristUp, 5 GripClose, 6 ShoulderDown, 7 BaseCW, 8 ElbowDown, 9 WristDown, 10 GripOpen); code 0
// stops them all, and a combined code (ArmMotion.h) sets the bit of each motor it turns. The light is
// not a code: it rides along in every command.
namespace KitCommand {

constexpr int TransferBytes = 3;
constexpr int MaxCode = 10;
constexpr quint8 LightBit = 0x01; // in byte 2

// The vendor control transfer that carries a command.
constexpr quint8 RequestType = 0x40; // host to device, vendor, device
constexpr quint8 Request = 6;
constexpr quint16 Value = 0x0100;
constexpr quint16 Index = 0;

// Which byte and bit a code sets with the motor wired as built, and the motor it turns.
struct CodeBit
{
    int code;
    ArmJoint motor;
    int byte;
    quint8 bit;
};

inline constexpr std::array<CodeBit, MaxCode> codeBits{{
    {1, ArmJoint::Shoulder, 0, 0x40},
    {2, ArmJoint::Base, 1, 0x02},
    {3, ArmJoint::Elbow, 0, 0x10},
    {4, ArmJoint::Wrist, 0, 0x04},
    {5, ArmJoint::Gripper, 0, 0x01},
    {6, ArmJoint::Shoulder, 0, 0x80},
    {7, ArmJoint::Base, 1, 0x01},
    {8, ArmJoint::Elbow, 0, 0x20},
    {9, ArmJoint::Wrist, 0, 0x08},
    {10, ArmJoint::Gripper, 0, 0x02},
}};

// The command for a code (0..10, or a combined one) with the light on or off; empty for any other
// code, which the kit has no motion for.
QByteArray encode(int code, bool light, const KitReversed &reversed = {});

struct Decoded
{
    // The code whose motion the command asks for (combined for two motors or more), 0 for all motors
    // stopped; -1 when it is no command the program sends: not three bytes, both directions of one
    // motor, or a bit the kit has no use for.
    int code = -1;
    bool light = false;
};
// What a command asks of the kit, read with the same wiring it was written with.
Decoded decode(const QByteArray &transfer, const KitReversed &reversed = {});

} // namespace KitCommand
