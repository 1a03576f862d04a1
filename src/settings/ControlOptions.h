#pragma once

#include "TravelCalibration.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <array>

inline constexpr char ControlOptionsFileName[] = "TESSARO.INI";

// Options of the hands-on controls. They live in a file of their own beside the settings file,
// because that file's seven lines are read by position and must stay exactly as they are.
struct ControlOptions
{
    static constexpr int DefaultRunLimitPercent = 150;
    static constexpr int MinRunLimitPercent = 100;
    static constexpr int MaxRunLimitPercent = 1000;

    // Whether a jog motion that outlasts its joint's travel is stopped.
    bool runLimit = true;
    // The limit as a share of the joint's full travel time.
    int runLimitPercent = DefaultRunLimitPercent;
    // Where the script file dialogs open: the folder of the script loaded or saved last. Empty: none yet.
    QString scriptFolder = QString();
    // Full-travel times measured on this arm, one line each, named by joint and way
    // ("TravelShoulderUp=9.412"); a time not measured has no line.
    TravelCalibration travel = TravelCalibration();
    // Per motor of the USB interface kit (base, shoulder, elbow, wrist, gripper), whether its two
    // directions are swapped: for a kit whose motor was wired the other way round. Only a reversed
    // motor has a line ("BaseReversed=Yes").
    std::array<bool, 5> kitReversed{};

    // The names of the motors in the file: "Base" gives the line "BaseReversed=Yes".
    static constexpr std::array<const char *, 5> KitMotorNames{"Base", "Shoulder", "Elbow", "Wrist", "Gripper"};

    friend bool operator==(const ControlOptions &, const ControlOptions &) = default;

    // Lines of the form Name=Value, CR LF ended. Unknown names are skipped and a value that cannot be
    // read keeps its default, so a file written by a later version still gives sensible options.
    // A travel time that cannot be right is ignored, and said so in *warnings.
    static ControlOptions parse(const QByteArray &text, QStringList *warnings = nullptr);
    static QByteArray format(const ControlOptions &options);
    // The name of the line that keeps the measured travel time of `code`: "Travel" + joint + way.
    static QByteArray travelName(int code);

    // A missing or unreadable file gives the defaults.
    static ControlOptions read(const QString &path, QStringList *warnings = nullptr);
    // Atomic, as the settings file is: an empty string on success, else what went wrong.
    static QString write(const QString &path, const ControlOptions &options);
};
