#include "CliArms.h"

#include "ArmSession.h"
#include "CliCommon.h"
#include "ControlOptions.h"
#include "SettingsLocation.h"
#include "VirtualArm.h"
#include "VirtualHidTransport.h"
#include "VirtualKitTransport.h"

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

bool CliArmSetup::make(ArmTransport::Virtual which, const QString &logPath, QTextStream &err)
{
    const KitReversed reversed = kitReversedFromOptions();
    QString error;
    if (!arms.make(which, logPath, &error, reversed)) {
        err << "tessaro-cli: " << error << "\n";
        return false;
    }
    kits = std::make_unique<KitArmList>(*arms.kits);
    kits->setReversed(reversed);
    return true;
}

void CliArmSetup::failVirtualWrites(int failWrite, int failCount, QObject *context)
{
    if (!arms.arm || failWrite <= 0)
        return;
    const bool kit = arms.arm->kind() == VirtualArm::Kind::Kit;
    VirtualDevice *target = kit ? static_cast<VirtualDevice *>(arms.arm->kitDevice()) : arms.arm->armInterface();
    const QString path = kit ? arms.arm->kitDevice()->info.path : arms.arm->armInterface()->info.path;
    if (failWrite == 1)
        target->failNextWrite(false, failCount);
    const auto count = [target, path, failWrite, failCount, written = 0](const QString &to, const QByteArray &,
                                                                          qint64) mutable {
        if (to == path && ++written == failWrite - 1)
            target->failNextWrite(false, failCount);
    };
    // On the writing thread, at once: writes are made one at a time under the link's lock, and the
    // refusal must be in place before the next one.
    if (kit)
        QObject::connect(static_cast<VirtualKitTransport *>(arms.kits.get()), &VirtualKitTransport::commandWritten,
                         context, count, Qt::DirectConnection);
    else
        QObject::connect(static_cast<VirtualHidTransport *>(arms.transport.get()), &VirtualHidTransport::reportWritten,
                         context, count, Qt::DirectConnection);
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
