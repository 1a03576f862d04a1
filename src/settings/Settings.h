#pragma once

#include <QString>
#include <QtGlobal>

// The contents of the settings file, as the colour scheme dialog saves them.
struct Settings
{
    // Entries 1 to 4 are the preset colours; entry 5 is the operator's own colour.
    static constexpr int CustomEntry = 5;
    static constexpr quint32 PresetColours[4] = {11954481u, 10916490u, 8421631u, 8454143u};
    // Light grey: what the custom swatch shows before anything was picked or loaded.
    static constexpr quint32 DefaultCustomColour = 12632256u;

    static constexpr quint32 presetColour(int entry)
    {
        return entry >= 1 && entry <= 4 ? PresetColours[entry - 1] : DefaultCustomColour;
    }

    bool highlight = false;
    int entry = 1;
    // Windows colour value: red in bits 0-7, green 8-15, blue 16-23.
    quint32 colour = PresetColours[0];
    QString device;

    friend bool operator==(const Settings &, const Settings &) = default;
};
