#include "SettingsWriter.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

#include <csignal>

namespace {

// A file-size limit kills the program with SIGXFSZ in the middle of a write unless the signal is
// ignored; ignored, the write fails with "File too large" like a full disk and the old file survives.
// Checked on every save, since anything may have put the default action back.
void ignoreFileSizeSignal()
{
    struct sigaction current = {};
    if (::sigaction(SIGXFSZ, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
        ::signal(SIGXFSZ, SIG_IGN);
}

} // namespace

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
    ignoreFileSizeSignal();
    const QDir folder = QFileInfo(path).absoluteDir();
    if (!folder.exists() && !QDir().mkpath(folder.absolutePath())) {
        return QStringLiteral("The folder %1 could not be created.")
            .arg(QDir::toNativeSeparators(folder.absolutePath()));
    }

    // Unbuffered, because a buffered QSaveFile lets a short write (a full disk) slip through its
    // commit and would replace the old file with a truncated one.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return QStringLiteral("%1 could not be opened for writing: %2.").arg(shownPath, file.errorString());
    qint64 written = 0;
    while (written < bytes.size()) {
        // A short write says nothing about why; the next attempt fails with the reason.
        const qint64 count = file.write(bytes.constData() + written, bytes.size() - written);
        if (count <= 0) {
            const QString reason = file.errorString();
            file.cancelWriting();
            return QStringLiteral("%1 could not be written: %2.").arg(shownPath, reason);
        }
        written += count;
    }
    if (!file.commit())
        return QStringLiteral("%1 could not be written: %2.").arg(shownPath, file.errorString());
    return {};
}
