#include "HidTransport.h"

QString HidInterfaceInfo::deviceName() const
{
    QString name = QStringLiteral("VID_%1&PID_%2")
                       .arg(vendorId, 4, 16, QLatin1Char('0'))
                       .arg(productId, 4, 16, QLatin1Char('0'))
                       .toUpper();
    // No doubled blank when a device has no product string: names are compared as text.
    if (!product.isEmpty())
        name += QLatin1Char(' ') + product;
    if (!path.isEmpty())
        name += QLatin1Char(' ') + path;
    return name;
}
