#include "CliArms.h"

#include "ArmSession.h"
#include "CliCommon.h"
#include "ControlOptions.h"
#include "SettingsLocation.h"

bool virtualArmOptions(const CliArguments &parsed, ArmTransport::Virtual byLog, ArmTransport::Virtual *which,
                       QString *logPath, QString *error)
{
    *which = ArmTransport::Virtual::None;
    *logPath = parsed.value("--virtual-arm-log");
    if (parsed.has("--virtual-arm-log") && logPath->isEmpty()) {
        *error = QStringLiteral("option '--virtual-arm-log' needs a file name");
        return false;
    }
    if (!parsed.has("--virtual-arm")) {
        if (!logPath->isEmpty())
            *which = byLog;
        return true;
    }
    const QString kind = parsed.value("--virtual-arm");
    *which = ArmTransport::Virtual::Hid;
    if (kind.isEmpty() || ArmTransport::parseKind(kind, which))
        return true;
    *error = QStringLiteral("--virtual-arm poses as hid or kit, not '%1'").arg(kind);
    return false;
}

ControlOptions cliControlOptions(QStringList *warnings)
{
    return ControlOptions::read(windowSettingsFilePath(QLatin1StringView(ControlOptionsFileName)).readPath, warnings);
}

KitReversed kitReversedFromOptions()
{
    const ControlOptions options = cliControlOptions();
    KitReversed reversed{};
    for (size_t m = 0; m < reversed.size(); ++m)
        reversed[m] = options.kitReversed[m];
    return reversed;
}

void printKit(QTextStream &out, const KitDeviceInfo &info)
{
    const auto orDash = [](const QString &s) { return s.isEmpty() ? QStringLiteral("-") : s; };
    out << info.path << "\n";
    out << "  interface kit  USB "
        << QStringLiteral("%1:%2")
               .arg(info.vendorId, 4, 16, QLatin1Char('0'))
               .arg(info.productId, 4, 16, QLatin1Char('0'))
        << "  bus " << info.busNumber << "  address " << info.address << "\n";
    out << "  product: " << orDash(info.product) << "  manufacturer: " << orDash(info.manufacturer)
        << "  serial: " << orDash(info.serialNumber) << "\n";
}

void warnWithoutGuard(const QString &guardError, QTextStream &err)
{
    if (!guardError.isEmpty())
        err << "tessaro-cli: warning: " << guardError
            << "; should this program die, the arm keeps the last command it was given\n";
}

void warnWithoutGuard(const ArmSession &session, QTextStream &err)
{
    warnWithoutGuard(session.guardError(), err);
}
