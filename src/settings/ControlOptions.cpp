#include "ControlOptions.h"

#include "NumberReading.h"
#include "SettingsWriter.h"

#include <QFile>
#include <QList>

namespace {

constexpr qint64 MaxFileBytes = 64 * 1024;

// Every motion code, in the order their lines are written.
QList<int> travelCodes()
{
    QList<int> codes;
    for (const ArmJointMotion &m : armJointMotions)
        codes << m.codeTowardsMax << m.codeTowardsMin;
    return codes;
}

// "Yes" or "No" in any case; anything else leaves *value as it is.
void readYesNo(const QByteArray &text, bool *value)
{
    if (text.compare("Yes", Qt::CaseInsensitive) == 0)
        *value = true;
    else if (text.compare("No", Qt::CaseInsensitive) == 0)
        *value = false;
}

} // namespace

QByteArray ControlOptions::travelName(int code)
{
    const std::optional<ArmCodeMotion> motion = armCodeMotion(code);
    if (!motion)
        return {};
    const ArmJointMotion &m = motion->motion();
    const QByteArray joint(m.name);
    return "Travel" + joint.left(1).toUpper() + joint.mid(1) +
           (motion->direction > 0 ? m.motionTowardsMax : m.motionTowardsMin);
}

ControlOptions ControlOptions::parse(const QByteArray &text, QStringList *warnings)
{
    ControlOptions options;
    QByteArray normalised = text;
    normalised.replace("\r\n", "\n").replace('\r', '\n');
    const QList<QByteArray> lines = normalised.split('\n');
    for (const QByteArray &line : lines) {
        const qsizetype equals = line.indexOf('=');
        if (equals <= 0)
            continue;
        const QByteArray name = line.left(equals).trimmed();
        const QByteArray value = line.mid(equals + 1).trimmed();
        if (name.compare("RunLimit", Qt::CaseInsensitive) == 0) {
            readYesNo(value, &options.runLimit);
        } else if (name.compare("RunLimitPercent", Qt::CaseInsensitive) == 0) {
            bool ok = false;
            const int percent = value.toInt(&ok);
            if (ok && percent >= MinRunLimitPercent && percent <= MaxRunLimitPercent)
                options.runLimitPercent = percent;
        } else if (name.compare("ScriptFolder", Qt::CaseInsensitive) == 0) {
            // Blanks are a folder name's own: only the line end is not.
            options.scriptFolder = QString::fromUtf8(line.mid(equals + 1));
        } else {
            for (int code : travelCodes()) {
                if (name.compare(travelName(code), Qt::CaseInsensitive) != 0)
                    continue;
                // A time that cannot be right is refused by set() and the line counts as not there.
                double seconds = 0;
                QString why = QStringLiteral("'%1' is not a number of seconds").arg(QString::fromLatin1(value));
                if (WholeTextNumber(QString::fromLatin1(value), &seconds) && options.travel.set(code, seconds, &why))
                    continue;
                if (warnings)
                    *warnings << QStringLiteral("%1: %2 ignored (%3)")
                                     .arg(QLatin1String(ControlOptionsFileName), QString::fromLatin1(travelName(code)), why);
            }
            for (size_t m = 0; m < KitMotorNames.size(); ++m) {
                if (name.compare(QByteArray(KitMotorNames[m]) + "Reversed", Qt::CaseInsensitive) == 0)
                    readYesNo(value, &options.kitReversed[m]);
            }
        }
    }
    return options;
}

QByteArray ControlOptions::format(const ControlOptions &options)
{
    QByteArray text = "RunLimit=" + QByteArray(options.runLimit ? "Yes" : "No") + "\r\n" +
                      "RunLimitPercent=" + QByteArray::number(options.runLimitPercent) + "\r\n";
    // A folder name with a line end in it could not be read back; it is not kept.
    if (!options.scriptFolder.isEmpty() && !options.scriptFolder.contains(QLatin1Char('\n')) &&
        !options.scriptFolder.contains(QLatin1Char('\r')))
        text += "ScriptFolder=" + options.scriptFolder.toUtf8() + "\r\n";
    for (int code : travelCodes()) {
        const double seconds = options.travel.seconds(code);
        if (seconds > 0)
            text += travelName(code) + '=' + QByteArray::number(seconds, 'f', 3) + "\r\n";
    }
    for (size_t m = 0; m < KitMotorNames.size(); ++m) {
        if (options.kitReversed[m])
            text += QByteArray(KitMotorNames[m]) + "Reversed=Yes\r\n";
    }
    return text;
}

ControlOptions ControlOptions::read(const QString &path, QStringList *warnings)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return parse(file.read(MaxFileBytes), warnings);
}

QString ControlOptions::write(const QString &path, const ControlOptions &options)
{
    return SettingsWriter::writeBytes(path, format(options));
}
