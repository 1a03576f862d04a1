#pragma once

#include "ControlOptions.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

class ArmSession;
class QComboBox;
class QLabel;
class QPushButton;
class QRadioButton;

// Times one joint's full travel, one way at a time, on the arm at hand. The operator brings the joint
// to one end, starts the motor towards the other, and presses Enter or Space the moment it gets
// there; Esc stops it without a measurement. The times replace the table's in TESSARO.INI once
// saved, and the joint is known to stand at the end it reached.
//
// The motor is driven straight through the session's send, measuring (ArmSession::setMeasuring), so
// neither the runaway limit nor the estimated end stops cut a measurement short; it is stopped here
// when the key comes, the dialog closes, or the joint has run 2.5 times its table's travel. A time
// under half or over twice the table's is refused, naming the joint and the table's time.
class CalibrationDialog : public QWidget
{
    Q_OBJECT

public:
    // optionsPath: where Save writes the options; empty saves nothing to a file.
    CalibrationDialog(ArmSession &session, const QString &optionsPath, QWidget *parent = nullptr);
    ~CalibrationDialog() override;

    // The measurements so far, with those already in the options.
    const TravelCalibration &calibration() const { return m_travel; }
    // The code that Start drives: the chosen joint, the chosen way.
    int chosenCode() const;
    bool timing() const { return m_timing; }

    QComboBox *joint = nullptr;
    QRadioButton *towardsMax = nullptr;
    QRadioButton *towardsMin = nullptr;
    QPushButton *bringBack = nullptr;
    QPushButton *start = nullptr;
    QPushButton *save = nullptr;
    QLabel *status = nullptr;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void chooseJoint();
    void startTiming();
    // The key at the end: the time is kept. Otherwise (Esc, a close, the cap) only the motor stops.
    void endTiming(bool measured, const QString &why = QString());
    // What picks and starts a timing: locked while one runs.
    void setChoicesEnabled(bool enabled);
    void saveOptions();
    void say(const QString &text);

    ArmSession &m_session;
    QString m_optionsPath;
    TravelCalibration m_travel;
    bool m_timing = false;
    int m_code = 0;
    QElapsedTimer m_clock;
    QTimer m_cap;
};
