#include "CalibrationDialog.h"

#include "ArmMotion.h"
#include "ArmSession.h"
#include "StepFunctions.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>

namespace {

// A joint that has not reached its end in 2.5 times the table's travel never will: a stalled motor, a
// slipping clutch, or an operator who walked away.
constexpr double CapOfTableTravel = 2.5;

QString motionName(int code)
{
    return StepFunctions::name(code);
}

// The motion of the same joint the other way.
int otherWay(int code)
{
    const std::optional<ArmCodeMotion> motion = armCodeMotion(code);
    return motion ? armCodeFor(motion->joint, -motion->direction) : 0;
}

QString secondsText(double seconds)
{
    return QStringLiteral("%1 s").arg(seconds, 0, 'f', 2);
}

} // namespace

CalibrationDialog::CalibrationDialog(ArmSession &session, const QString &optionsPath, QWidget *parent)
    : QWidget(parent, Qt::Window), m_session(session), m_optionsPath(optionsPath),
      m_travel(session.options().travel)
{
    setWindowTitle(tr("Calibrate a joint"));
    setAttribute(Qt::WA_DeleteOnClose);
    auto *grid = new QGridLayout(this);
    auto *steps = new QLabel(tr("1. Choose a joint and the way to time.\n"
                                "2. Hold \"Bring to the other end\" until the joint stands at its end the "
                                "other way.\n"
                                "3. Click Start, and press Enter or Space the moment the joint reaches its "
                                "end. Esc stops it without a measurement."),
                             this);
    steps->setWordWrap(true);
    grid->addWidget(steps, 0, 0, 1, 3);
    joint = new QComboBox(this);
    joint->setAccessibleName(tr("Joint"));
    for (const ArmJointMotion &m : armJointMotions) {
        QString name = QString::fromLatin1(m.name);
        name[0] = name[0].toUpper();
        joint->addItem(name);
    }
    grid->addWidget(new QLabel(tr("Joint"), this), 1, 0);
    grid->addWidget(joint, 1, 1, 1, 2);
    towardsMax = new QRadioButton(this);
    towardsMin = new QRadioButton(this);
    towardsMax->setChecked(true);
    grid->addWidget(towardsMax, 2, 1);
    grid->addWidget(towardsMin, 2, 2);
    bringBack = new QPushButton(tr("Bring to the other end"), this);
    bringBack->setAutoRepeat(false);
    start = new QPushButton(tr("Start"), this);
    grid->addWidget(bringBack, 3, 0, 1, 2);
    grid->addWidget(start, 3, 2);
    status = new QLabel(this);
    status->setWordWrap(true);
    status->setMinimumHeight(status->fontMetrics().height() * 3);
    grid->addWidget(status, 4, 0, 1, 3);
    save = new QPushButton(tr("Save"), this);
    auto *close = new QPushButton(tr("Close"), this);
    grid->addWidget(save, 5, 1);
    grid->addWidget(close, 5, 2);

    connect(joint, &QComboBox::currentIndexChanged, this, &CalibrationDialog::chooseJoint);
    connect(towardsMax, &QRadioButton::toggled, this, &CalibrationDialog::chooseJoint);
    // Held, not clicked: the motor runs only while the button is down.
    connect(bringBack, &QPushButton::pressed, this, [this] {
        if (m_timing)
            return;
        m_session.setMeasuring(true);
        m_session.send(qint16(otherWay(chosenCode())));
    });
    connect(bringBack, &QPushButton::released, this, [this] {
        if (m_timing)
            return;
        m_session.send(0);
        m_session.setMeasuring(false);
    });
    connect(start, &QPushButton::clicked, this, &CalibrationDialog::startTiming);
    connect(save, &QPushButton::clicked, this, &CalibrationDialog::saveOptions);
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    m_cap.setSingleShot(true);
    connect(&m_cap, &QTimer::timeout, this,
            [this] { endTiming(false, tr("No key came: the motor was stopped and nothing was measured.")); });
    // Before the program's own Esc and Space: filters run latest first.
    qApp->installEventFilter(this);
    chooseJoint();
    adjustSize();
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

CalibrationDialog::~CalibrationDialog()
{
    qApp->removeEventFilter(this);
    if (m_timing)
        m_session.send(0);
    m_session.setMeasuring(false);
}

int CalibrationDialog::chosenCode() const
{
    const ArmJointMotion &m = armJointMotions[size_t(qBound(0, joint->currentIndex(), ArmJointCount - 1))];
    return towardsMax->isChecked() ? m.codeTowardsMax : m.codeTowardsMin;
}

void CalibrationDialog::chooseJoint()
{
    const ArmJointMotion &m = armJointMotions[size_t(qBound(0, joint->currentIndex(), ArmJointCount - 1))];
    towardsMax->setText(QString::fromLatin1(m.motionTowardsMax));
    towardsMin->setText(QString::fromLatin1(m.motionTowardsMin));
    const int code = chosenCode();
    const double measured = m_travel.seconds(code);
    say(tr("%1: %2 (the table says %3).")
            .arg(motionName(code), measured > 0 ? secondsText(measured) : tr("not measured"),
                 secondsText(m.fullTravelSeconds)));
}

void CalibrationDialog::startTiming()
{
    if (m_timing)
        return;
    const int code = chosenCode();
    QString why;
    m_session.setMeasuring(true);
    if (!m_session.send(qint16(code), &why)) {
        m_session.setMeasuring(false);
        say(why.isEmpty() ? tr("The arm is not connected.") : why);
        return;
    }
    m_code = code;
    m_timing = true;
    m_clock.start();
    m_cap.start(int(armCodeMotion(code)->motion().fullTravelSeconds * CapOfTableTravel * 1000.0));
    setChoicesEnabled(false);
    say(tr("%1 is running: press Enter or Space the moment the joint reaches its end.")
            .arg(motionName(code)));
}

void CalibrationDialog::endTiming(bool measured, const QString &why)
{
    if (!m_timing)
        return;
    const double seconds = double(m_clock.nsecsElapsed()) / 1e9;
    m_session.send(0);
    m_session.setMeasuring(false);
    m_timing = false;
    m_cap.stop();
    setChoicesEnabled(true);
    if (!measured) {
        say(why.isEmpty() ? tr("Stopped: nothing was measured.") : why);
        return;
    }
    const double travel = TravelCalibration::fromKeyPress(seconds);
    QString refused;
    if (!m_travel.set(m_code, travel, &refused)) {
        say(tr("%1: not kept. Time it again from the other end.").arg(refused));
        return;
    }
    // The key came at the end: the joint stands there.
    m_session.markAtEnd(m_code);
    say(tr("%1: %2, kept until Save or Close (the table says %3).")
            .arg(motionName(m_code), secondsText(m_travel.seconds(m_code)),
                 secondsText(armCodeMotion(m_code)->motion().fullTravelSeconds)));
}

void CalibrationDialog::setChoicesEnabled(bool enabled)
{
    const std::initializer_list<QWidget *> choices{joint, towardsMax, towardsMin, bringBack, start};
    for (QWidget *control : choices)
        control->setEnabled(enabled);
}

void CalibrationDialog::saveOptions()
{
    ControlOptions options = m_session.options();
    options.travel = m_travel;
    m_session.setOptions(options);
    const QString error = m_optionsPath.isEmpty() ? QString() : ControlOptions::write(m_optionsPath, options);
    say(error.isEmpty() ? tr("Saved: the measured times replace the table's.")
                        : tr("Not saved: %1").arg(error));
}

void CalibrationDialog::say(const QString &text)
{
    status->setText(text);
}

bool CalibrationDialog::eventFilter(QObject *watched, QEvent *event)
{
    if (!m_timing || event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    const auto *key = static_cast<QKeyEvent *>(event);
    if (key->isAutoRepeat())
        return true;
    switch (key->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        endTiming(true);
        return true;
    case Qt::Key_Escape:
        endTiming(false);
        // The program's own Esc goes on and stops everything else too.
        return false;
    default:
        return QWidget::eventFilter(watched, event);
    }
}

void CalibrationDialog::closeEvent(QCloseEvent *event)
{
    endTiming(false);
    QWidget::closeEvent(event);
}
