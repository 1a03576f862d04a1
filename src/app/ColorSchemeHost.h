#pragma once

#include <QPixmap>
#include <QString>
#include <QtGlobal>

// What the colour scheme dialog needs from the main window. The dialog never reaches into the main
// window directly, so it can be tested against a fake and the main window stays free to change.
class ColorSchemeHost
{
public:
    virtual ~ColorSchemeHost() = default;

    virtual void SetHilight(bool on) = 0;
    // A Windows colour value: red in bits 0-7, green 8-15, blue 16-23.
    virtual void SetGridSelectionColor(quint32 winColour) = 0;
    virtual QString CurrentDevice() const = 0;
    // Copied into the dialog's background when it loads.
    virtual QPixmap BackgroundPicture() const = 0;
    // Where Save writes the settings file.
    virtual QString SettingsFilePath() const = 0;
    // Where the dialog reads the settings file from. Differs from SettingsFilePath() only for an
    // installed program that has no per-user copy yet and still reads the one beside the executable
    // (settingsFilePath().readPath).
    virtual QString SettingsReadPath() const = 0;
};
