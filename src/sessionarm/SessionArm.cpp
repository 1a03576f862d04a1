#include "SessionArm.h"

#include "ArmMotion.h"
#include "ArmSession.h"
#include "KitArmList.h"
#include "ScriptCheck.h"
#include "ScriptFile.h"
#include "ScriptRunner.h"
#include "StepFunctions.h"

#include <QPointer>

#include <algorithm>
#include <functional>
#include <memory>
#include <utility>

namespace {

// The motion of a command code: none for a stop, or for a text that names no motion.
ServiceMotion motionOf(int code)
{
    ServiceMotion drives;
    for (const int part : armCodeParts(code))
        drives.append(JointDrive{armCodeMotion(part)->joint, armCodeMotion(part)->direction});
    return drives;
}

// The code that drives the joints of a motion together; 0 for none, or a joint named twice.
int codeOf(const ServiceMotion &motion)
{
    std::array<int, ArmJointCount> directions{};
    for (const JointDrive &drive : motion) {
        int &direction = directions[size_t(armJointIndex(drive.joint))];
        if (direction != 0)
            return 0;
        direction = drive.direction > 0 ? 1 : -1;
    }
    return armCombinedCode(directions);
}

// A run's steps, each its row as a script file holds it (number, function, time), played `reps` times.
class RowScript : public ScriptSource
{
public:
    using Starting = std::function<void(int row, int code)>;
    RowScript(QList<ScriptRow> rows, int reps, Starting starting)
        : m_rows(std::move(rows)), m_reps(reps), m_starting(std::move(starting))
    {
    }

    int stepCount() override { return int(m_rows.size()); }
    QString functionText(int row) override { return m_rows.value(row - 1)[1]; }
    QString timeText(int row) override { return m_rows.value(row - 1)[2]; }
    QString repetitionsText() override { return QString::number(m_reps); }
    void stepStarting(int row) override { m_starting(row, StepFunctions::code(functionText(row))); }

private:
    const QList<ScriptRow> m_rows;
    const int m_reps;
    const Starting m_starting;
};

// Why a script would not be played as written: its first step that is not a motion or not a time.
QString unplayable(const QList<ScriptRow> &rows)
{
    const QList<UnknownStep> unknown = UnknownSteps(rows);
    return unknown.isEmpty() ? QString() : UnknownStepText(unknown.first());
}

JointKnowledge knowledgeOf(PoseKnowledge knowledge)
{
    switch (knowledge) {
    case PoseKnowledge::Unknown:
        break;
    case PoseKnowledge::FromStart:
        return JointKnowledge::FromStart;
    case PoseKnowledge::AtEnds:
        return JointKnowledge::AtEnds;
    }
    return JointKnowledge::Unknown;
}

} // namespace

SessionArm::SessionArm(ArmSession &session, QObject *parent) : ServiceArm(parent), m_session(session)
{
    m_motionTimer.setSingleShot(true);
    m_motionTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_motionTimer, &QTimer::timeout, this, [this] {
        if (!m_motion || m_motion->ended)
            return;
        const int code = m_motion->code;
        motionOver(MotionEnd::Done);
        // As its second click would end it.
        if (m_session.motionActive() && m_session.activeCode() == code)
            m_session.click(code);
        else
            m_session.stopEverything();
    });
    m_poseTick.setInterval(PoseTickMs);
    connect(&m_poseTick, &QTimer::timeout, this, [this] { Q_EMIT poseChanged(pose()); });

    // The panel's looks say what runs, whoever asked for it: a client, the window, a key, the pad.
    connect(&session, &ArmSession::lookOn, this, [this](int code) {
        setMotion(motionOf(code));
        if (m_motion && !m_motion->ended && m_motion->code != code && m_motion->token != 0)
            motionOver(MotionEnd::Stopped);
    });
    connect(&session, &ArmSession::looksReset, this, [this] {
        if (m_session.running())
            return;
        setMotion({});
        if (m_motion && m_motion->token != 0)
            motionOver(MotionEnd::Stopped);
    });
    // Told right after the looks went out: the stop was theirs.
    const auto because = [this](MotionEnd end) {
        return [this, end](const QString &message) {
            if (m_motion && m_motion->token == 0)
                m_motion->ended = MotionResult{MotionEnd::Refused, message, 0};
            else if (m_motion && m_motion->ended && m_motion->ended->end == MotionEnd::Stopped)
                m_motion->ended = MotionResult{end, message, m_motion->ended->ranMs};
        };
    };
    connect(&session, &ArmSession::runLimitReached, this, because(MotionEnd::TimeLimit));
    connect(&session, &ArmSession::endStopReached, this, because(MotionEnd::EndStop));
    connect(&session, &ArmSession::armsChanged, this, &SessionArm::tellConnection);
    connect(&session, &ArmSession::readyChanged, this, &SessionArm::tellConnection);
    connect(&session, &ArmSession::poseChanged, this, [this] { Q_EMIT poseChanged(pose()); });
    m_ready = session.isReady();
    m_arms = session.attachedArms();
}

SessionArm::~SessionArm() = default;

bool SessionArm::ready() const
{
    return m_session.isReady();
}

QStringList SessionArm::arms() const
{
    return m_session.attachedArms();
}

void SessionArm::startMotion(Token token, const ServiceMotion &motion, int ms)
{
    const auto refuse = [&](const QString &why) { Q_EMIT motionEnded(token, MotionResult{MotionEnd::Refused, why, 0}); };
    const int code = codeOf(motion);
    if (code == 0)
        return refuse(QStringLiteral("no joint to drive"));
    if (!m_session.isReady())
        return refuse(QStringLiteral("no arm is connected"));
    if (m_session.running() || m_runToken)
        return refuse(QStringLiteral("a run is in progress"));
    if (armCodeCombined(code)) {
        if (const QString why = m_session.refusesSeveral(); !why.isEmpty())
            return refuse(why);
    }
    // The motion in force is replaced: a motion of the same code goes on under the new one's time.
    if (m_motion && !m_motion->ended)
        motionOver(MotionEnd::Stopped);
    tellMotionEnd();

    // Token 0 while the click starts it: the looks it changes are its own, and an end stop's word
    // is its refusal.
    m_motion.emplace();
    m_motion->code = code;
    if (!m_session.motionActive() || m_session.activeCode() != code)
        m_session.click(code);
    if (!m_session.motionActive() || m_session.activeCode() != code) {
        const QString why = m_motion->ended ? m_motion->ended->message : QString();
        m_motion.reset();
        return refuse(why.isEmpty() ? QStringLiteral("the motion was refused") : why);
    }
    m_motion->token = token;
    m_motion->clock.start();
    if (ms > 0) {
        m_session.boundMotion(code, ms);
        m_motionTimer.start(ms);
    }
    setMotion(motion);
}

void SessionArm::stopMotion(Token token)
{
    if (!m_motion || m_motion->token != token || m_motion->ended)
        return;
    motionOver(MotionEnd::Stopped);
    if (!m_session.running())
        m_session.stopEverything();
}

void SessionArm::stopEverything()
{
    m_runCancelled = m_runToken != 0;
    if (m_motion && !m_motion->ended)
        motionOver(MotionEnd::Stopped);
    m_session.stopEverything();
}

void SessionArm::motionOver(MotionEnd end, const QString &message)
{
    if (!m_motion || m_motion->ended)
        return;
    m_motionTimer.stop();
    m_motion->ended = MotionResult{end, message, m_motion->clock.isValid() ? m_motion->clock.elapsed() : 0};
    QMetaObject::invokeMethod(this, &SessionArm::tellMotionEnd, Qt::QueuedConnection);
}

void SessionArm::tellMotionEnd()
{
    if (!m_motion || !m_motion->ended || m_motion->token == 0)
        return;
    const Token token = m_motion->token;
    const MotionResult result = *m_motion->ended;
    m_motion.reset();
    Q_EMIT motionEnded(token, result);
}

void SessionArm::setMotion(const ServiceMotion &motion)
{
    if (motion == m_inForce)
        return;
    m_inForce = motion;
    if (motion.isEmpty())
        m_poseTick.stop();
    else if (!m_poseTick.isActive())
        m_poseTick.start();
    Q_EMIT motionChanged(motion);
}

void SessionArm::tellConnection()
{
    const bool ready = m_session.isReady();
    const QStringList arms = m_session.attachedArms();
    if (!ready && m_motion && !m_motion->ended) {
        motionOver(MotionEnd::Disconnected, QStringLiteral("the arm was disconnected"));
        // The panel lets go of the motion the arm lost, so that the next one starts afresh.
        if (!m_session.running())
            m_session.stopEverything();
    }
    if (ready == m_ready && arms == m_arms)
        return;
    m_ready = ready;
    m_arms = arms;
    Q_EMIT connectionChanged(ready, arms);
}

bool SessionArm::setLight(bool on, QString *error)
{
    if (!m_session.lightAttached()) {
        *error = QStringLiteral("no interface kit is connected: the HID board has no light");
        return false;
    }
    if (!m_session.setLight(on, error))
        return false;
    if (std::exchange(m_light, on) != on)
        Q_EMIT lightChanged(on);
    return true;
}

bool SessionArm::light() const
{
    return m_session.light();
}

ServicePose SessionArm::pose() const
{
    const PoseEstimate estimate = m_session.poseEstimate();
    ServicePose pose;
    pose.startSet = estimate.started;
    for (int j = 0; j < ArmJointCount; ++j) {
        const JointEstimate &e = estimate.joints[size_t(j)];
        pose.joints[size_t(j)] = JointPose{knowledgeOf(e.knowledge), e.degrees,         e.low,
                                           e.high,                   e.uncertainty(),   e.uncertain,
                                           std::max(-e.offsetLow, e.offsetHigh)};
    }
    return pose;
}

bool SessionArm::declareStartPose(QString *)
{
    m_session.declareStartPose();
    return true;
}

bool SessionArm::runRefused(Token token)
{
    QString why;
    if (m_runToken || m_session.running())
        why = QStringLiteral("a run is in progress");
    else if (!m_session.isReady())
        why = QStringLiteral("no arm is connected");
    if (why.isEmpty())
        return false;
    Q_EMIT runEnded(token, RunResult{RunOutcome::Refused, why});
    return true;
}

void SessionArm::playSteps(Token token, const QList<ServiceStep> &steps, int repetitions)
{
    if (runRefused(token))
        return;
    QList<ScriptRow> rows;
    for (const ServiceStep &step : steps)
        rows.append({QString::number(rows.size() + 1), StepFunctions::canonical(step.function).isEmpty()
                                                            ? step.function
                                                            : StepFunctions::canonical(step.function),
                     QString::number(step.seconds, 'f', 3)});
    if (const QString why = unplayable(rows); !why.isEmpty())
        return Q_EMIT runEnded(token, RunResult{RunOutcome::Refused, why});
    playLater(token, std::make_shared<RowScript>(rows, repetitions, [this, token](int row, int code) {
                  stepStarted(token, row, code);
              }));
}

void SessionArm::playFile(Token token, const QString &path, int repetitions)
{
    if (runRefused(token))
        return;
    const ScriptLoad load = LoadScriptFile(path);
    QString why = load.error;
    if (why.isEmpty() && load.countTooLarge)
        why = QStringLiteral("%1: a script holds at most %2 steps").arg(path).arg(MaxScriptSteps);
    else if (why.isEmpty() && (!load.countValid || load.nextStep <= 1))
        why = QStringLiteral("%1: the script is empty").arg(path);
    const QList<ScriptRow> rows = load.records.mid(1, load.nextStep - 1);
    if (why.isEmpty())
        why = unplayable(rows);
    if (!why.isEmpty())
        return Q_EMIT runEnded(token, RunResult{RunOutcome::Refused, why});
    playLater(token, std::make_shared<RowScript>(rows, repetitions, [this, token](int row, int code) {
                  stepStarted(token, row, code);
              }));
}

void SessionArm::returnToStart(Token token)
{
    if (runRefused(token))
        return;
    playLater(token, nullptr);
}

void SessionArm::playLater(Token token, std::shared_ptr<ScriptSource> source)
{
    m_runToken = token;
    m_runCancelled = false;
    if (m_motion && !m_motion->ended)
        motionOver(MotionEnd::Stopped, QStringLiteral("a run was started"));
    QMetaObject::invokeMethod(
        this, [this, token, source] { play(token, source.get()); }, Qt::QueuedConnection);
}

void SessionArm::play(Token token, ScriptSource *source)
{
    if (m_runCancelled || !m_session.isReady()) {
        finishRun(token, RunResult{m_runCancelled ? RunOutcome::Stopped : RunOutcome::Disconnected,
                                   m_runCancelled ? QString() : QStringLiteral("the arm was disconnected")});
        return;
    }
    // A motion left on is ended first, as the window's Run does.
    if (m_session.motionActive())
        m_session.stopEverything();
    m_runStep = 0;
    m_runRepetition = 0;
    m_runClock.start();
    QPointer<SessionArm> alive(this);
    ArmSession::RunEnd end = ArmSession::RunEnd::Finished;
    QString refusal;
    if (source) {
        end = m_session.runScript(*source);
    } else {
        // The plan the session is about to play, for the motion of each of its steps.
        const qint64 now = ArmSession::clockNs();
        const PoseEstimator estimator = m_session.poseEstimator();
        const QList<PlanStep> plan = estimator.known(now) ? estimator.returnToStart(now) : QList<PlanStep>();
        const QMetaObject::Connection telling =
            connect(&m_session, &ArmSession::returnStepStarting, this,
                    [this, token, plan](int row) { stepStarted(token, row, plan.value(row - 1).code); });
        end = m_session.returnToStart(&refusal);
        disconnect(telling);
    }
    if (!alive)
        return;
    RunResult result;
    result.seconds = double(m_runClock.elapsed()) / 1000.0;
    result.step = m_runStep;
    result.repetition = m_runRepetition;
    switch (end) {
    case ArmSession::RunEnd::Finished:
        if (!refusal.isEmpty()) {
            result = RunResult{RunOutcome::Refused, refusal};
            break;
        }
        for (const CutStep &cut : m_session.lastRunCutSteps())
            result.message += (result.message.isEmpty() ? QString() : QStringLiteral("\n")) + cut.text();
        break;
    case ArmSession::RunEnd::Stopped:
        result.outcome = RunOutcome::Stopped;
        break;
    case ArmSession::RunEnd::Disconnected:
        result.outcome = RunOutcome::Disconnected;
        result.message = QStringLiteral("the arm was disconnected");
        break;
    case ArmSession::RunEnd::CommandFailed:
        result.outcome = RunOutcome::Failed;
        result.message = m_session.lastRunFailure();
        break;
    case ArmSession::RunEnd::Stalled:
        result.outcome = RunOutcome::Failed;
        result.message = QStringLiteral("the arm stopped taking commands: a motor may still be running");
        break;
    }
    finishRun(token, result);
}

void SessionArm::finishRun(Token token, RunResult result)
{
    m_runToken = 0;
    m_runCancelled = false;
    setMotion({});
    Q_EMIT runEnded(token, result);
}

void SessionArm::stepStarted(Token token, int row, int code)
{
    if (m_runRepetition == 0 || row <= m_runStep)
        ++m_runRepetition;
    m_runStep = row;
    Q_EMIT runProgress(token, row, m_runRepetition);
    if (code >= 0)
        setMotion(motionOf(code));
}
