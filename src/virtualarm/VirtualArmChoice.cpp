#include "VirtualArmChoice.h"

#include <QtGlobal>

bool VirtualArmChoice::fromEnvironment(VirtualArmChoice *choice, QString *error)
{
    return parse(qEnvironmentVariable("TESSARO_VIRTUAL_ARM"), qEnvironmentVariable("TESSARO_VIRTUAL_ARM_LOG"),
                 choice, error);
}

bool VirtualArmChoice::parse(const QString &arm, const QString &log, VirtualArmChoice *choice, QString *error)
{
    *choice = VirtualArmChoice{};
    choice->logPath = log;
    const QString text = arm.trimmed();
    if (text.isEmpty()) {
        if (!log.isEmpty())
            choice->kind = ArmTransport::Virtual::Hid;
        return true;
    }
    if (ArmTransport::parseKind(text, &choice->kind))
        return true;
    const QString kind = text.section(u':', 0, 0);
    if (kind.compare(QLatin1String("realistic"), Qt::CaseInsensitive) == 0) {
        choice->kind = ArmTransport::Virtual::Hid;
        choice->realistic = true;
        if (!text.contains(u':'))
            return true;
        bool ok = false;
        choice->seed = text.section(u':', 1).toUInt(&ok);
        if (ok)
            return true;
    }
    *choice = VirtualArmChoice{};
    *error = QStringLiteral("TESSARO_VIRTUAL_ARM takes hid, kit or realistic[:SEED], not '%1'").arg(arm);
    return false;
}
