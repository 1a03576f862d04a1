#include "SettingsWriter.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

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
    const QString shownPath = QDir::toNativeSeparators(path);
    const QDir folder = QFileInfo(path).absoluteDir();
    if (!folder.exists() && !QDir().mkpath(folder.absolutePath())) {
        return QStringLiteral("The folder %1 could not be created.")
            .arg(QDir::toNativeSeparators(folder.absolutePath()));
    }

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return QStringLiteral("%1 could not be opened for writing: %2.").arg(shownPath, file.errorString());
    const QByteArray bytes = format(settings);
    if (file.write(bytes) != bytes.size()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        return QStringLiteral("%1 could not be written: %2.").arg(shownPath, reason);
    }
    if (!file.commit())
        return QStringLiteral("%1 could not be written: %2.").arg(shownPath, file.errorString());
    return {};
}
