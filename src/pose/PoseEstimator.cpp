#include "PoseEstimator.h"

#include "PoseConstants.h"

#include <QStringList>

#include <algorithm>
#include <cmath>

using namespace PoseConstants;

namespace {

QString capitalised(const char *name)
{
    QString text = QLatin1String(name);
    text[0] = text[0].toUpper();
    return text;
}

// A figure rounded up to a whole degree, so that a line never claims more than the estimate does; the
// small allowance keeps a figure that is whole but for rounding from reading one degree more.
QString wholeDegrees(double degrees)
{
    return QString::number(std::max(0.0, std::ceil(degrees - 1e-6)), 'f', 0);
}

} // namespace

double JointEstimate::uncertainty() const
{
    switch (knowledge) {
    case PoseKnowledge::AtEnds:
        return std::max({0.0, degrees - low, high - degrees});
    case PoseKnowledge::FromStart:
        return offsetUncertainty();
    case PoseKnowledge::Unknown:
        break;
    }
    return (high - low) / 2;
}

double JointEstimate::offsetUncertainty() const
{
    return std::max({0.0, offset - offsetLow, offsetHigh - offset});
}

bool PoseEstimate::known() const
{
    return std::all_of(joints.begin(), joints.end(), [](const JointEstimate &j) { return j.known; });
}

JointAngles PoseEstimate::degrees() const
{
    JointAngles angles{};
    for (int i = 0; i < ArmJointCount; ++i)
        angles[i] = joints[i].degrees;
    return angles;
}

double PoseEstimate::largestUncertainty() const
{
    double largest = 0.0;
    for (const JointEstimate &j : joints)
        largest = std::max(largest, j.uncertainty());
    return largest;
}

QString PoseEstimate::statusText() const
{
    if (std::none_of(joints.begin(), joints.end(), [](const JointEstimate &j) { return j.known; }))
        return QStringLiteral("Pose unknown");
    QStringList lines;
    for (const ArmJointMotion &m : armJointMotions) {
        const JointEstimate &j = joint(m.joint);
        QString line = capitalised(m.name) + QStringLiteral(": ");
        if (j.knowledge == PoseKnowledge::Unknown) {
            lines << line + QStringLiteral("unknown");
            continue;
        }
        line += j.knowledge == PoseKnowledge::AtEnds ? QStringLiteral("known at its ends")
                                                     : QStringLiteral("known from the start");
        line += QStringLiteral(" \u00B1 %1\u00B0").arg(wholeDegrees(j.uncertainty()));
        if (j.uncertain)
            line += QStringLiteral(" (uncertain)");
        lines << line;
    }
    return lines.join(QLatin1Char('\n'));
}

QString PoseEstimate::offsetBandText() const
{
    QStringList parts;
    for (const ArmJointMotion &m : armJointMotions) {
        const JointEstimate &j = joint(m.joint);
        parts << (started && j.known ? QStringLiteral("%1 \u00B1%2\u00B0")
                                           .arg(QLatin1String(m.name), wholeDegrees(std::max(
                                                                           -j.offsetLow, j.offsetHigh)))
                                     : QStringLiteral("%1 unknown").arg(QLatin1String(m.name)));
    }
    return parts.join(QStringLiteral(", "));
}

QString PoseEstimate::poseText() const
{
    QStringList parts;
    for (const ArmJointMotion &m : armJointMotions) {
        const JointEstimate &j = joint(m.joint);
        parts << (j.knowledge == PoseKnowledge::AtEnds
                      ? QStringLiteral("%1 %2\u00B0 \u00B1%3\u00B0")
                            .arg(QLatin1String(m.name), QString::number(std::round(j.degrees), 'f', 0),
                                 wholeDegrees(j.uncertainty()))
                      : QStringLiteral("%1 unknown").arg(QLatin1String(m.name)));
    }
    return parts.join(QStringLiteral(", "));
}

PoseEstimator::PoseEstimator(const TravelCalibration &calibration) : m_calibration(calibration)
{
    for (const ArmJointMotion &m : armJointMotions) {
        Joint &joint = m_joints[armJointIndex(m.joint)];
        const Case nominal{.lean = 0,
                           .tilt = 0,
                           .lag = NominalLagSeconds,
                           .coast = NominalCoastSeconds,
                           .drain = 0.0,
                           .giveAtMax = nominalGive(m.joint),
                           .giveAtMin = nominalGive(m.joint),
                           .playSize = nominalPlay(m.joint),
                           .play = 0.0,
                           .degrees = m.homeDegrees,
                           .start = m.homeDegrees};
        joint.cases[0] = nominal;
        for (int k = 1; k < SureCount; ++k) {
            // Each lean and tilt, with and without play, lag, coasting; the slow cases with the
            // batteries running down at the most, the fast ones with batteries that do not; the case
            // that errs towards an end with the least give off it and the most off the other.
            Case &c = joint.cases[k];
            const int kind = (k - 1) % CornerKinds;
            c.lean = (kind & 1) != 0 ? 1 : -1;
            c.tilt = (kind & 16) != 0 ? 1 : -1;
            c.playSize = (kind & 2) != 0 ? mostPlay(m.joint) : 0.0;
            c.lag = (kind & 4) != 0 ? MostLagSeconds : 0.0;
            c.coast = (kind & 8) != 0 ? MostCoastSeconds : 0.0;
            c.drain = c.lean < 0 ? MostDrainPerSecond : 0.0;
            c.giveAtMax = c.tilt > 0 ? 0.0 : mostGive(m.joint);
            c.giveAtMin = c.tilt < 0 ? 0.0 : mostGive(m.joint);
            c.play = c.tilt * c.playSize / 2;
        }
        // Each figure at its extremes, the rest nominal.
        Case *figures = &joint.cases[SureCount];
        std::fill(figures, figures + FigureCases, nominal);
        for (int k = 0; k < 4; ++k) {
            figures[RateCorners + k].lean = (k & 1) != 0 ? 1 : -1;
            figures[RateCorners + k].tilt = (k & 2) != 0 ? 1 : -1;
        }
        figures[PlayNone].playSize = 0.0;
        figures[PlayMost].playSize = mostPlay(m.joint);
        figures[LagNone].lag = 0.0;
        figures[LagMost].lag = MostLagSeconds;
        figures[CoastNone].coast = 0.0;
        figures[CoastMost].coast = MostCoastSeconds;
        figures[GiveNone].giveAtMax = figures[GiveNone].giveAtMin = 0.0;
        figures[GiveMost].giveAtMax = figures[GiveMost].giveAtMin = mostGive(m.joint);
        figures[DrainMost].drain = MostDrainPerSecond;
    }
    forget(0);
}

JointAngles PoseEstimator::homePose()
{
    JointAngles pose{};
    for (const ArmJointMotion &m : armJointMotions)
        pose[armJointIndex(m.joint)] = m.homeDegrees;
    return pose;
}

QString PoseEstimator::endReachedText(int code)
{
    const std::optional<ArmCodeMotion> motion = armCodeMotion(code);
    if (!motion)
        return {};
    const ArmJointMotion &m = motion->motion();
    return QStringLiteral("%1 at its %2 end (estimated)")
        .arg(capitalised(m.name), QLatin1String(motion->direction > 0 ? m.maxEndName : m.minEndName));
}

double PoseEstimator::rate(int code) const
{
    const std::optional<ArmCodeMotion> motion = armCodeMotion(code);
    if (!motion)
        return 0.0;
    const ArmJointMotion &m = motion->motion();
    const double measured = m_calibration.seconds(code);
    // The measured time includes the motor's start-up lag, which the estimate takes apart.
    if (measured > 0)
        return m.range() / std::max(measured - NominalLagSeconds, measured / 2);
    if (!m.towardsMaxLifts)
        return m.degreesPerSecond();
    return m.degreesPerSecond() * (motion->direction > 0 ? 1.0 - GravityShare / 2 : 1.0 + GravityShare / 2);
}

double PoseEstimator::tolerance(int code) const
{
    const std::optional<ArmCodeMotion> motion = armCodeMotion(code);
    if (!motion)
        return 0.0;
    const double measured = m_calibration.seconds(code);
    if (measured > 0)
        return DrainTolerance + (motion->motion().towardsMaxLifts ? 0.0 : LoadTolerance) +
               KeyTimingSeconds / measured + tiltTolerance(code);
    return TableTolerance + tiltTolerance(code);
}

double PoseEstimator::tiltTolerance(int code) const
{
    const std::optional<ArmCodeMotion> motion = armCodeMotion(code);
    if (!motion)
        return 0.0;
    const double measured = m_calibration.seconds(code);
    if (measured > 0)
        return (motion->motion().towardsMaxLifts ? LoadTolerance : 0.0) + KeyTimingSeconds / measured;
    return TableTiltTolerance;
}

double PoseEstimator::lagSeconds(const Case &c, int) const
{
    return c.lag;
}

double PoseEstimator::coastSeconds(const Case &c, int direction) const
{
    return c.coast + (c.tilt * direction > 0 ? MostOneWayCoastSeconds : 0.0);
}

double PoseEstimator::caseRate(const Case &c, int code) const
{
    const double tilt = tiltTolerance(code);
    return rate(code) *
           (1.0 + c.lean * (tolerance(code) - tilt) + c.tilt * armCodeMotion(code)->direction * tilt) *
           std::max(0.5, 1.0 - c.drain * m_runSeconds);
}

void PoseEstimator::move(Case &c, const ArmJointMotion &m, int direction, double turned)
{
    const double slack = std::max(0.0, c.playSize / 2 - direction * c.play);
    if (turned <= slack) {
        c.play += direction * turned;
        return;
    }
    c.play = direction * c.playSize / 2;
    c.degrees = std::clamp(c.degrees + direction * (turned - slack), m.minDegrees, m.maxDegrees);
}

void PoseEstimator::turn(Joint &joint, int code, double fromSeconds, double toSeconds) const
{
    const ArmCodeMotion motion = *armCodeMotion(code);
    const ArmJointMotion &m = motion.motion();
    const int d = motion.direction;
    const double end = motion.endDegrees();
    bool allAtEnd = true;
    const double guessFrom = joint.cases[0].degrees;
    for (int k = 0; k < CaseCount; ++k) {
        Case &c = joint.cases[k];
        // Nothing turns until the motor has started.
        const double lag = lagSeconds(c, d);
        const double moving = std::max(0.0, toSeconds - lag) - std::max(0.0, fromSeconds - lag);
        if (moving > 0)
            move(c, m, d, caseRate(c, code) * moving);
        allAtEnd = allAtEnd && (k >= SureCount || c.degrees == end);
    }
    loosen(joint, joint.cases[0].degrees - guessFrom);
    // Even the slowest case from the farthest place is at the end: so is the joint.
    if (allAtEnd) {
        joint.knowledge = PoseKnowledge::AtEnds;
        joint.tighten();
    }
}

void PoseEstimator::loosen(Joint &joint, double degrees)
{
    joint.motionDegrees += std::abs(degrees);
}

double PoseEstimator::Joint::looseNow() const
{
    return std::sqrt(looseSquares + std::pow(VariableShare * motionDegrees, 2));
}

double PoseEstimator::Joint::looseFromStart() const
{
    return std::sqrt(looseStartSquares + looseSquares + std::pow(VariableShare * motionDegrees, 2));
}

void PoseEstimator::Joint::settle()
{
    looseSquares += std::pow(VariableShare * motionDegrees, 2);
    motionDegrees = 0.0;
}

void PoseEstimator::Joint::tighten()
{
    looseSquares = 0.0;
    motionDegrees = 0.0;
}

void PoseEstimator::stopTurning(Joint &joint, int code, double ranSeconds) const
{
    const ArmCodeMotion motion = *armCodeMotion(code);
    const ArmJointMotion &m = motion.motion();
    const int d = motion.direction;
    const double guessFrom = joint.cases[0].degrees;
    for (Case &c : joint.cases) {
        if (ranSeconds > lagSeconds(c, d))
            move(c, m, d, caseRate(c, code) * coastSeconds(c, d));
    }
    loosen(joint, joint.cases[0].degrees - guessFrom);
    joint.settle();
    for (Case &c : joint.cases) {
        // Let go at its stop, the joint comes back off it a little.
        if (c.degrees == motion.endDegrees())
            c.degrees -= d * (d > 0 ? c.giveAtMax : c.giveAtMin);
    }
}

double PoseEstimator::ranSecondsAt(qint64 tNs) const
{
    return m_code == 0 ? 0.0 : static_cast<double>(std::max(tNs, m_timeNs) - m_codeNs) / NsPerSecond;
}

const PoseEstimator::Joint &PoseEstimator::jointAt(int i, qint64 tNs, Joint &moved) const
{
    const int part = partInForce(ArmJoint(i));
    if (part == 0 || tNs <= m_timeNs)
        return m_joints[i];
    moved = m_joints[i];
    turn(moved, part, ranSecondsAt(m_timeNs), ranSecondsAt(tNs));
    return moved;
}

PoseEstimator::Joints PoseEstimator::jointsAt(qint64 tNs) const
{
    Joints joints = m_joints;
    if (tNs > m_timeNs) {
        for (const int part : armCodeParts(m_code))
            turn(joints[armJointIndex(armCodeMotion(part)->joint)], part, ranSecondsAt(m_timeNs), ranSecondsAt(tNs));
    }
    return joints;
}

int PoseEstimator::partInForce(ArmJoint joint) const
{
    const int direction = armCodeDirection(m_code, joint);
    return direction == 0 ? 0 : armCodeFor(joint, direction);
}

void PoseEstimator::advanceTo(qint64 tNs)
{
    m_joints = jointsAt(tNs);
    m_timeNs = std::max(m_timeNs, tNs);
}

void PoseEstimator::setCalibration(const TravelCalibration &calibration, qint64 tNs)
{
    advanceTo(tNs);
    m_calibration = calibration;
}

void PoseEstimator::apply(int code, qint64 tNs)
{
    advanceTo(tNs);
    const int next = armCodeMoves(code) ? code : 0;
    // The same code again is the motion going on.
    if (next == m_code)
        return;
    // Every joint of the motion in force stops, also one that the next motion drives on: the estimate
    // takes it as stopped and started again, which its cases' lag and coasting cover.
    for (const int part : armCodeParts(m_code))
        stopTurning(m_joints[armJointIndex(armCodeMotion(part)->joint)], part, ranSecondsAt(m_timeNs));
    if (m_code != 0)
        m_runSeconds += ranSecondsAt(m_timeNs);
    m_code = next;
    m_codeNs = m_timeNs;
}

void PoseEstimator::spread(Joint &joint, ArmJoint which)
{
    const ArmJointMotion &m = armJointMotion(which);
    const auto place = [&m](int spot) { return m.minDegrees + m.range() * spot / (StartSpread - 1); };
    static_assert(SureCount == 1 + CornerKinds * StartSpread);
    for (int k = 1; k < CaseCount; ++k) {
        Case &c = joint.cases[k];
        const double offset = c.degrees - c.start;
        c.degrees = k < SureCount ? place((k - 1) / CornerKinds) : joint.cases[0].degrees;
        c.start = c.degrees - offset;
    }
}

void PoseEstimator::setKnownAt(Joint &joint, double degrees, int bearing)
{
    joint.knowledge = PoseKnowledge::AtEnds;
    // The truth's distance from the start keeps what the cases do not follow; where it is, not.
    joint.settle();
    joint.looseStartSquares += joint.looseSquares;
    joint.tighten();
    for (Case &c : joint.cases) {
        // Each case keeps its distance from the start.
        c.start = degrees - (c.degrees - c.start);
        c.degrees = degrees;
        c.play = bearing * c.playSize / 2;
    }
}

void PoseEstimator::declareStart(qint64 tNs)
{
    advanceTo(tNs);
    m_started = true;
    for (const ArmJointMotion &m : armJointMotions) {
        const int i = armJointIndex(m.joint);
        Joint &joint = m_joints[i];
        for (Case &c : joint.cases)
            c.start = c.degrees;
        // A joint known at its ends starts from where it may be; any other starts from here.
        if (joint.knowledge != PoseKnowledge::AtEnds)
            joint.tighten();
        joint.looseStartSquares = std::pow(joint.looseNow(), 2);
        if (joint.knowledge == PoseKnowledge::Unknown)
            joint.knowledge = PoseKnowledge::FromStart;
        m_start[i] = joint.cases[0].degrees;
    }
}

void PoseEstimator::markAtEnd(int code, qint64 tNs)
{
    const std::optional<ArmCodeMotion> motion = armCodeMotion(code);
    if (!motion)
        return;
    advanceTo(tNs);
    Joint &joint = m_joints[armJointIndex(motion->joint)];
    setKnownAt(joint, motion->endDegrees(), motion->direction);
    // The motor has let go already: the joint has come back off its stop.
    if (partInForce(motion->joint) != code)
        stopTurning(joint, code, 0.0);
}

void PoseEstimator::overridden(int code, qint64 tNs)
{
    const std::optional<ArmCodeMotion> motion = armCodeMotion(code);
    if (!motion)
        return;
    advanceTo(tNs);
    Joint &joint = m_joints[armJointIndex(motion->joint)];
    spread(joint, motion->joint);
    joint.knowledge = m_started ? PoseKnowledge::FromStart : PoseKnowledge::Unknown;
}

void PoseEstimator::forget(qint64 tNs)
{
    advanceTo(tNs);
    m_started = false;
    for (const ArmJointMotion &m : armJointMotions) {
        Joint &joint = m_joints[armJointIndex(m.joint)];
        joint.knowledge = PoseKnowledge::Unknown;
        joint.tighten();
        joint.looseStartSquares = 0.0;
        for (Case &c : joint.cases)
            c.start = c.degrees;
        spread(joint, m.joint);
    }
}

double PoseEstimator::Joint::figureStray(int direction) const
{
    const Case *figures = &cases[SureCount];
    const double nominal = figures[Nominal].degrees;
    // How far one figure's cases stray from the nominal one the way of `direction`, squared.
    const auto squared = [&](int first, int count) {
        double most = 0.0;
        for (int k = first; k < first + count; ++k)
            most = std::max(most, direction * (figures[k].degrees - nominal));
        return most * most;
    };
    double squares = squared(RateCorners, 4) + squared(DrainMost, 1);
    for (int first = PlayNone; first < DrainMost; first += 2)
        squares += squared(first, 2);
    return std::sqrt(squares) + looseNow();
}

PoseEstimate PoseEstimator::estimateAt(qint64 tNs) const
{
    PoseEstimate estimate;
    estimate.started = m_started;
    Joint moved;
    for (int i = 0; i < ArmJointCount; ++i) {
        JointEstimate &e = estimate.joints[i];
        const Joint &joint = jointAt(i, tNs, moved);
        const ArmJointMotion &m = armJointMotions[i];
        e.knowledge = joint.knowledge;
        e.known = joint.knowledge != PoseKnowledge::Unknown;
        const Case &guess = joint.cases[0];
        e.degrees = guess.degrees;
        e.low = e.high = e.degrees;
        e.offset = e.offsetLow = e.offsetHigh = guess.degrees - guess.start;
        // The worst case: every figure off at once, and the loose share on top.
        for (int k = 0; k < SureCount; ++k) {
            const Case &c = joint.cases[k];
            e.low = std::min(e.low, c.degrees);
            e.high = std::max(e.high, c.degrees);
            e.offsetLow = std::min(e.offsetLow, c.degrees - c.start);
            e.offsetHigh = std::max(e.offsetHigh, c.degrees - c.start);
        }
        e.low = std::max(m.minDegrees, e.low - joint.looseNow());
        e.high = std::min(m.maxDegrees, e.high + joint.looseNow());
        e.offsetLow -= joint.looseFromStart();
        e.offsetHigh += joint.looseFromStart();
        // Whether the end stops give way goes by the worst case.
        e.uncertain = !e.known || e.uncertainty() > UncertainShare * m.range();
        // Where a joint known at its ends, with both its rates measured, is: its figures as independent
        // errors, and the share no figure follows on top. A rate from the table is a guess at an arm
        // never measured, and the worst case stands.
        if (joint.knowledge == PoseKnowledge::AtEnds && m_calibration.seconds(m.codeTowardsMax) > 0 &&
            m_calibration.seconds(m.codeTowardsMin) > 0) {
            e.low = std::max(m.minDegrees, e.degrees - joint.figureStray(-1));
            e.high = std::min(m.maxDegrees, e.degrees + joint.figureStray(1));
        }
    }
    return estimate;
}

bool PoseEstimator::atEnd(int code, qint64 tNs) const
{
    if (armCodeCombined(code))
        return endOfParts(code, tNs) == 0.0;
    const std::optional<ArmCodeMotion> motion = armCodeMotion(code);
    if (!motion)
        return false;
    const JointEstimate e = estimateAt(tNs).joint(motion->joint);
    // Let go, the joint rests a little off its stop: that is at the end still.
    return e.knowledge == PoseKnowledge::AtEnds && !e.uncertain &&
           std::abs(e.degrees - motion->endDegrees()) <= nominalGive(motion->joint) + EndDegrees;
}

double PoseEstimator::secondsFor(const Case &c, int code, double target, double ranSeconds) const
{
    const int d = armCodeMotion(code)->direction;
    const double distance = d * (target - c.degrees);
    if (distance <= 0)
        return 0.0;
    const double slack = std::max(0.0, c.playSize / 2 - d * c.play);
    return std::max(0.0, lagSeconds(c, d) - ranSeconds) + (distance + slack) / caseRate(c, code);
}

double PoseEstimator::endOfParts(int code, qint64 tNs, int *first) const
{
    double earliest = -1.0;
    for (const int part : armCodeParts(code)) {
        const double seconds = secondsToEnd(part, tNs);
        if (seconds >= 0.0 && (earliest < 0.0 || seconds < earliest)) {
            earliest = seconds;
            if (first)
                *first = part;
        }
    }
    return earliest;
}

double PoseEstimator::secondsToEnd(int code, qint64 tNs, int *first) const
{
    if (armCodeCombined(code))
        return endOfParts(code, tNs, first);
    if (first)
        *first = code;
    const std::optional<ArmCodeMotion> motion = armCodeMotion(code);
    if (!motion)
        return -1.0;
    const int i = armJointIndex(motion->joint);
    const JointEstimate e = estimateAt(tNs).joints[i];
    if (e.knowledge != PoseKnowledge::AtEnds || e.uncertain)
        return -1.0;
    if (atEnd(code, tNs))
        return 0.0;
    Joint moved;
    const double ran = partInForce(motion->joint) == code ? ranSecondsAt(tNs) : 0;
    return secondsFor(jointAt(i, tNs, moved).cases[0], code, motion->endDegrees(), ran);
}

double PoseEstimator::secondsToSureEnd(int code, qint64 tNs) const
{
    if (armCodeCombined(code)) {
        double earliest = -1.0;
        for (const int part : armCodeParts(code)) {
            const double seconds = secondsToSureEnd(part, tNs);
            earliest = earliest < 0.0 ? seconds : std::min(earliest, seconds);
        }
        return earliest;
    }
    const std::optional<ArmCodeMotion> motion = armCodeMotion(code);
    if (!motion)
        return -1.0;
    Joint moved;
    const Joint &joint = jointAt(armJointIndex(motion->joint), tNs, moved);
    const double ran = partInForce(motion->joint) == code ? ranSecondsAt(tNs) : 0;
    double longest = 0.0;
    for (const Case &c : joint.cases)
        longest = std::max(longest, secondsFor(c, code, motion->endDegrees(), ran));
    return longest;
}
