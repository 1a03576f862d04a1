#include "ArmSettingsDialog.h"

#include <QCheckBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

// A line of explanation under a setting, in the dialog's own words.
QLabel *explanation(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setForegroundRole(QPalette::PlaceholderText);
    return label;
}

} // namespace

ArmSettingsDialog::ArmSettingsDialog(ArmSettingsHost &host)
    : QWidget(nullptr, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint), m_host(host)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QStringLiteral("armSettings"));
    setWindowTitle(tr("Arm setup"));

    auto *limitBox = new QGroupBox(tr("Runaway limit"), this);
    runLimit = new QCheckBox(tr("Stop a motor that runs too long"), limitBox);
    runLimitPercent = new QSpinBox(limitBox);
    runLimitPercent->setRange(ControlOptions::MinRunLimitPercent, ControlOptions::MaxRunLimitPercent);
    runLimitPercent->setSingleStep(10);
    runLimitPercent->setPrefix(tr("after "));
    runLimitPercent->setSuffix(tr(" % of its joint's travel time"));
    runLimitPercent->setAccessibleName(tr("Runaway limit, percent of the joint's travel time"));
    auto *limitLayout = new QGridLayout(limitBox);
    limitLayout->addWidget(runLimit, 0, 0, 1, 2);
    limitLayout->addWidget(runLimitPercent, 1, 1);
    limitLayout->setColumnMinimumWidth(0, 16);
    limitLayout->addWidget(explanation(tr("A motor that runs longer than this share of its joint's full travel "
                                          "time (at least 2 s) has reached its end and is stopped. Off, "
                                          "nothing stops a motor that is left running."),
                                       limitBox),
                           2, 0, 1, 2);
    connect(runLimit, &QCheckBox::toggled, runLimitPercent, &QWidget::setEnabled);

    auto *kitBox = new QGroupBox(tr("Interface kit motors wired the other way round"), this);
    auto *kitLayout = new QGridLayout(kitBox);
    const std::array<QString, 5> motors{tr("Base"), tr("Shoulder"), tr("Elbow"), tr("Wrist"), tr("Gripper")};
    for (size_t m = 0; m < reversed.size(); ++m) {
        reversed[m] = new QCheckBox(motors[m], kitBox);
        reversed[m]->setObjectName(QLatin1String(ControlOptions::KitMotorNames[m]) + QStringLiteral("Reversed"));
        reversed[m]->setAccessibleName(tr("%1 reversed").arg(motors[m]));
        kitLayout->addWidget(reversed[m], 0, int(m));
    }
    kitLayout->addWidget(explanation(tr("A ticked motor turns the other way for every click, key and script. "
                                        "The USB interface kit only: the HID board is not affected."),
                                     kitBox),
                         1, 0, 1, int(reversed.size()));

    note = new QLabel(this);
    note->setObjectName(QStringLiteral("note"));
    note->setWordWrap(true);
    note->setStyleSheet(QStringLiteral("color: #b00000;"));
    note->hide();

    saveButton = new QPushButton(tr("Save"), this);
    saveButton->setDefault(true);
    saveButton->setToolTip(tr("Keep the runaway limit and the reversed motors in %1 and use them now")
                         .arg(QLatin1String(ControlOptionsFileName)));
    closeButton = new QPushButton(tr("Close"), this);
    closeButton->setToolTip(tr("Close without saving the runaway limit and the reversed motors"));
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(saveButton);
    buttons->addWidget(closeButton);

    // Above the two settings and apart from them: the calibration saves its own times.
    auto *calibrationBox = new QGroupBox(tr("Travel times"), this);
    calibrate = new QPushButton(tr("Calibrate…"), calibrationBox);
    calibrate->setToolTip(tr("Time each joint's full travel on this arm, so that the pose estimate and its "
                             "end stops follow it."));
    auto *calibrationLayout = new QHBoxLayout(calibrationBox);
    calibrationLayout->addWidget(explanation(tr("Time each joint's travel on this arm, in a window of its own "
                                                "that saves the times itself."),
                                             calibrationBox),
                                 1);
    calibrationLayout->addWidget(calibrate, 0, Qt::AlignVCenter);

    auto *settingsFrame = new QFrame(this);
    settingsFrame->setFrameShape(QFrame::StyledPanel);
    auto *settingsLayout = new QVBoxLayout(settingsFrame);
    settingsLayout->addWidget(limitBox);
    settingsLayout->addWidget(kitBox);
    settingsLayout->addWidget(note);
    settingsLayout->addLayout(buttons);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(calibrationBox);
    layout->addWidget(settingsFrame);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    setMaximumWidth(560);

    connect(calibrate, &QPushButton::clicked, this, [this] { m_host.ShowCalibration(); });
    connect(saveButton, &QPushButton::clicked, this, &ArmSettingsDialog::saveAndClose);
    connect(closeButton, &QPushButton::clicked, this, &QWidget::close);

    load();
}

void ArmSettingsDialog::load()
{
    const ControlOptions stored = ControlOptions::read(m_host.OptionsReadPath());
    runLimit->setChecked(stored.runLimit);
    runLimitPercent->setValue(stored.runLimitPercent);
    runLimitPercent->setEnabled(stored.runLimit);
    for (size_t m = 0; m < reversed.size(); ++m)
        reversed[m]->setChecked(stored.kitReversed[m]);
}

ControlOptions ArmSettingsDialog::options() const
{
    // The file holds more than this dialog shows (the travel times, the script folder): read at Save,
    // so that a calibration saved while the dialog was open is kept.
    ControlOptions options = ControlOptions::read(m_host.OptionsReadPath());
    options.runLimit = runLimit->isChecked();
    options.runLimitPercent = runLimitPercent->value();
    for (size_t m = 0; m < reversed.size(); ++m)
        options.kitReversed[m] = reversed[m]->isChecked();
    return options;
}

void ArmSettingsDialog::saveAndClose()
{
    const ControlOptions chosen = options();
    m_host.SetControlOptions(chosen);
    const QString path = m_host.OptionsFilePath();
    const QString error = path.isEmpty() ? QString() : ControlOptions::write(path, chosen);
    if (!error.isEmpty()) {
        // In use until the program ends, but not kept: said where the operator is looking.
        note->setText(tr("In use now, but not saved: %1").arg(error));
        note->show();
        return;
    }
    close();
}
