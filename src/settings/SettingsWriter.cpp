#include "SettingsWriter.h"

#include "SafeSave.h"

#include <QDir>
#include <QFileInfo>

QByteArray SettingsWriter::format(const Settings &settings)
{
    QByteArray out;
    const auto line = [&out](const QByteArray &text) {
        out += text;
        out += "\r\n";
    };
    line("[Highlight]");
    line(settings.highlight ? "Yes" : "No");
    line(QByteArray::number(settings.entry));
    line("[HighlightColor]");
    // A number is written with a blank where its sign would go and a blank after it.
    const qint32 colour = static_cast<qint32>(settings.colour);
    line(colour < 0 ? QByteArray::number(colour) + ' ' : ' ' + QByteArray::number(colour) + ' ');
    line("[DeviceID]");
    line('"' + settings.device.toLatin1() + '"');
    return out;
}

QString SettingsWriter::write(const QString &path, const Settings &settings)
{
    return writeBytes(path, format(settings));
}

QString SettingsWriter::writeBytes(const QString &path, const QByteArray &bytes)
{
    const QString shownPath = QDir::toNativeSeparators(path);
    const QDir folder = QFileInfo(path).absoluteDir();
    if (!folder.exists() && !QDir().mkpath(folder.absolutePath())) {
        return QStringLiteral("The folder %1 could not be created.")
            .arg(QDir::toNativeSeparators(folder.absolutePath()));
    }

    const SafeSaveResult saved = SafeSave(path, bytes);
    switch (saved.failure) {
    case SafeSaveResult::Failure::None:
        return {};
    case SafeSaveResult::Failure::Open:
        return QStringLiteral("%1 could not be opened for writing: %2.").arg(shownPath, saved.reason);
    case SafeSaveResult::Failure::Write:
    case SafeSaveResult::Failure::Commit:
        break;
    }
    return QStringLiteral("%1 could not be written: %2.").arg(shownPath, saved.reason);
}
