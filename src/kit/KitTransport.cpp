#include "KitTransport.h"

bool KitTransport::isKit(quint16 vendorId, quint16 productId)
{
    if (vendorId != KitVendorId)
        return false;
    for (const quint16 id : KitProductIds) {
        if (productId == id)
            return true;
    }
    return false;
}

QString KitDeviceInfo::describe() const
{
    return QStringLiteral("%1:%2 on bus %3, address %4")
        .arg(vendorId, 4, 16, QLatin1Char('0'))
        .arg(productId, 4, 16, QLatin1Char('0'))
        .arg(busNumber)
        .arg(address);
}
