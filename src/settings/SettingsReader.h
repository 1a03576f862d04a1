#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

// What the main window takes from the settings file when it starts.
struct StartupSettings
{
    bool hilight = false;
    // Empty when the grid should keep the selection colour it has (the colour line is missing or
    // holds something that is not a number).
    std::optional<quint32> selectionColour;
    // Trimmed and upper-cased; empty when the file has no identity line.
    QString currentDevice;
};

// What the colour scheme dialog takes from the settings file when it opens (it never looks past the
// colour line).
struct DialogSettings
{
    bool highlight = false;
    // The entry line as read; only "1" to "5" choose anything.
    QString entry;
    // Empty when the custom swatch should keep its colour.
    std::optional<quint32> colour;

    // 1 to 5 for an entry the dialog recognises, 0 for anything else.
    int entryNumber() const;
};

// Reads the settings file. Neither reader reports errors: a missing, short or damaged file simply
// yields the defaults its rules give, because a broken settings file must never stop the arm from
// being driven.
class SettingsReader
{
public:
    static StartupSettings readStartup(const QString &path);
    static DialogSettings readDialog(const QString &path);

    // The value a line holds: surrounding spaces dropped; a value that starts with a double quote
    // runs to the closing quote (or the end of the line); otherwise a comma ends it.
    static QString lineValue(const QString &line);

    // A colour line's value as a colour. An empty value is black. Otherwise the value must be one
    // number as the program reads numbers everywhere (WholeTextNumber: a sign, digits with one ".",
    // an exponent), rounded half to even into a signed 32-bit integer; negative values keep their
    // two's-complement bits. Anything else, including hexadecimal, blanks inside the digits or a
    // value beyond 32 bits, is not a number and gives no colour.
    static std::optional<quint32> colourValue(const QString &line);

    // The lines of the file, at most maxLines of them, without their line ends (CR LF, LF or CR).
    // Empty when the file cannot be opened.
    static std::optional<QStringList> readLines(const QString &path, int maxLines);
};
