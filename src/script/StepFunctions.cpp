#include "StepFunctions.h"

namespace StepFunctions {

const QStringList &names()
{
    static const QStringList table = {
        QStringLiteral("Pause"),        QStringLiteral("ShoulderUp"), QStringLiteral("BaseCCW"),
        QStringLiteral("ElbowUp"),      QStringLiteral("WristUp"),    QStringLiteral("GripClose"),
        QStringLiteral("ShoulderDown"), QStringLiteral("BaseCW"),     QStringLiteral("ElbowDown"),
        QStringLiteral("WristDown"),    QStringLiteral("GripOpen"),
    };
    return table;
}

QString name(int code)
{
    return code >= 0 && code < Count ? names().at(code) : QString();
}

int code(const QString &name)
{
    return int(names().indexOf(name));
}

QString canonical(const QString &text)
{
    const QString trimmed = text.trimmed();
    for (const QString &n : names()) {
        if (n.compare(trimmed, Qt::CaseInsensitive) == 0)
            return n;
    }
    return QString();
}

} // namespace StepFunctions
