#include "KitTransport.h"

QString KitDeviceInfo::describe() const
{
    return QStringLiteral("%1:%2 on bus %3, address %4")
        .arg(vendorId, 4, 16, QLatin1Char('0'))
        .arg(productId, 4, 16, QLatin1Char('0'))
        .arg(busNumber)
        .arg(address);
}
