#pragma once

#include "Settings.h"

#include <QByteArray>
#include <QString>

// Writes the settings file: seven CR LF lines in Latin-1.
class SettingsWriter
{
public:
    static QByteArray format(const Settings &settings);

    // Writes through a temporary file that replaces the old one only once it is complete, so a
    // failed save leaves the previous file whole. Creates the folder when it is missing. Returns an
    // empty string on success, else a sentence saying what went wrong.
    static QString write(const QString &path, const Settings &settings);
    // The same atomic write for any settings text.
    static QString writeBytes(const QString &path, const QByteArray &bytes);
};
