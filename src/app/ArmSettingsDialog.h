#pragma once

#include "ControlOptions.h"

#include <QString>
#include <QWidget>

#include <array>

class QCheckBox;
class QLabel;
class QPushButton;
class QSpinBox;

// What the arm settings dialog needs from the main window.
class ArmSettingsHost
{
public:
    virtual ~ArmSettingsHost() = default;

    // Where Save writes the options file (TESSARO.INI); empty keeps them for this run only.
    virtual QString OptionsFilePath() const = 0;
    // Where the dialog reads them from: the written file once there is one.
    virtual QString OptionsReadPath() const = 0;
    // Applied by Save at once, as the window's own options.
    virtual void SetControlOptions(const ControlOptions &options) = 0;
    // The guided timing of the joints' travel, in a window of its own.
    virtual void ShowCalibration() = 0;
};

// The arm's own settings: the runaway limit (on or off, and after what share of a joint's travel
// time), which motors of the USB interface kit are wired the other way round, and the way to the
// calibration of the joints' travel times. It shows what the options file last held; nothing reaches
// the window before Save, which writes the file, applies the options and closes the dialog. The
// calibration keeps its own times, so Save and Close sit under the two settings they apply to, and
// Calibrate stands apart above them. Opened modeless and unowned; it deletes itself when closed.
class ArmSettingsDialog : public QWidget
{
    Q_OBJECT

public:
    explicit ArmSettingsDialog(ArmSettingsHost &host);

    // The options on screen over the rest of the file, as Save would write them.
    ControlOptions options() const;

    QCheckBox *runLimit = nullptr;
    QSpinBox *runLimitPercent = nullptr;
    // Base, shoulder, elbow, wrist, gripper, as ControlOptions::kitReversed.
    std::array<QCheckBox *, 5> reversed{};
    QPushButton *calibrate = nullptr;
    QPushButton *saveButton = nullptr;
    QPushButton *closeButton = nullptr;
    // Why the last Save failed; hidden until one has.
    QLabel *note = nullptr;

private:
    void load();
    void saveAndClose();

    ArmSettingsHost &m_host;
};
