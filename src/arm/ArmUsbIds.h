#pragma once

#include <QtGlobal>

#include <array>

// How the arm's two boards show on USB (as lsusb writes them: 1e6f:1113, 1267:0000).
namespace ArmUsbIds {

// The HID board.
inline constexpr quint16 HidVendorId = 0x1E6F;
inline constexpr quint16 HidProductId = 0x1113;

// The USB interface kit: most report product 0, some units 1.
inline constexpr quint16 KitVendorId = 0x1267;
inline constexpr std::array<quint16, 2> KitProductIds{0x0000, 0x0001};

constexpr bool isHidBoard(quint16 vendorId, quint16 productId)
{
    return vendorId == HidVendorId && productId == HidProductId;
}

constexpr bool isKit(quint16 vendorId, quint16 productId)
{
    if (vendorId != KitVendorId)
        return false;
    for (const quint16 id : KitProductIds) {
        if (productId == id)
            return true;
    }
    return false;
}

} // namespace ArmUsbIds
