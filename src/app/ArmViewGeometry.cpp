#include "ArmViewGeometry.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <optional>

namespace ArmViewGeometry {

namespace {

// A point counts as on the table up to this far below it (rounding of the rotations).
constexpr double TableSlack = 1e-6;
// Labels keep this many pixels apart.
constexpr double LabelGap = 2.0;

double radians(double degrees)
{
    return degrees * std::numbers::pi / 180.0;
}

// A direction in the side view with forward to the right: angles counter-clockwise from forward.
QPointF sideDirection(double degrees)
{
    return {std::cos(radians(degrees)), -std::sin(radians(degrees))};
}

double length(QPointF v)
{
    return std::hypot(v.x(), v.y());
}

QPointF unit(QPointF v)
{
    const double l = length(v);
    return l > 1e-9 ? v / l : QPointF();
}

// p turned by `angle` radians counter-clockwise (as seen on the screen) about c.
QPointF rotated(QPointF p, QPointF c, double angle)
{
    const double x = p.x() - c.x();
    const double up = c.y() - p.y();
    const double cs = std::cos(angle);
    const double sn = std::sin(angle);
    return {c.x() + x * cs - up * sn, c.y() - (x * sn + up * cs)};
}

bool aboveTable(const QList<QPointF> &points, double floorY)
{
    return std::all_of(points.cbegin(), points.cend(), [floorY](QPointF p) { return p.y() <= floorY + TableSlack; });
}

// The least turn about c (radians, counter-clockwise positive) that leaves none of `points` below the
// table; c itself is not below it. Each point is below the table on one arc of its circle about c; the
// least turn ends where one of the points leaves its arc, so only those turns need trying.
double liftAngle(const QList<QPointF> &points, QPointF c, double floorY)
{
    if (aboveTable(points, floorY))
        return 0.0;
    const double height = std::max(floorY - c.y(), 0.0); // of c above the table
    QList<double> turns;
    for (QPointF p : points) {
        const double x = p.x() - c.x();
        const double up = c.y() - p.y();
        const double r = std::hypot(x, up);
        if (r <= height)
            continue; // never reaches the table
        // Angle from straight down, counter-clockwise; the point is below the table within ±half.
        const double fromDown = std::remainder(std::atan2(up, x) + std::numbers::pi / 2, 2 * std::numbers::pi);
        const double half = std::acos(height / r);
        turns << half - fromDown << -half - fromDown;
    }
    std::sort(turns.begin(), turns.end(), [](double a, double b) { return std::abs(a) < std::abs(b); });
    for (double turn : turns) {
        QList<QPointF> moved;
        for (QPointF p : points)
            moved << rotated(p, c, turn);
        // Nudged a hair further, so that rounding does not leave the point just under the table.
        if (aboveTable(moved, floorY))
            return turn;
        const double nudged = turn + std::copysign(1e-9, turn);
        moved.clear();
        for (QPointF p : points)
            moved << rotated(p, c, nudged);
        if (aboveTable(moved, floorY))
            return nudged;
    }
    return 0.0;
}

// Labels' rectangles may not come closer than LabelGap to these.
bool clear(const QRectF &box, const QList<QRectF> &taken)
{
    const QRectF padded = box.adjusted(-LabelGap, -LabelGap, LabelGap, LabelGap);
    return std::none_of(taken.cbegin(), taken.cend(), [&padded](const QRectF &t) { return padded.intersects(t); });
}

QRectF inside(QRectF box, const QRectF &bounds)
{
    box.moveLeft(std::clamp(box.left(), bounds.left(), std::max(bounds.left(), bounds.right() - box.width())));
    box.moveTop(std::clamp(box.top(), bounds.top(), std::max(bounds.top(), bounds.bottom() - box.height())));
    return box;
}

} // namespace

Panels viewPanels(QSizeF view)
{
    const QRectF area = QRectF(QPointF(0, 0), view).adjusted(12, 12, -12, -12);
    const double gap = 12;
    if (area.width() < area.height() * 1.25) {
        const double sideHeight = std::round((area.height() - gap) * 0.6);
        const QRectF side(area.left(), area.top(), area.width(), sideHeight);
        return {side, QRectF(area.left(), side.bottom() + gap, area.width(), area.height() - sideHeight - gap)};
    }
    const double sideWidth = std::round((area.width() - gap) * 0.62);
    const QRectF side(area.left(), area.top(), sideWidth, area.height());
    return {side, QRectF(side.right() + gap, area.top(), area.width() - sideWidth - gap, area.height())};
}

SideFrame sideFrame(const QRectF &area)
{
    const double scale = std::max(std::min(area.width() / 2.0 - 8, area.height() * 0.72) * 0.95 / Reach, 0.05);
    const QPointF shoulder(area.center().x(), area.top() + area.height() * 0.74);
    return {shoulder, scale, shoulder.y() + ShoulderHeight * scale};
}

double segmentWidth(double scale)
{
    return std::max(6.0, 15 * scale * 1.6);
}

double restingHeight(double scale)
{
    // Half the upper arm with its shade line, or the elbow's disc with its rim, whichever is more.
    const double w = segmentWidth(scale);
    return std::max(w / 2 + 1.5, w * 0.45 * 1.175) + 0.5;
}

SideChain sideChain(const ArmPose &pose, QPointF shoulder, double scale)
{
    const double a1 = pose.angle(ArmJoint::Shoulder);
    const double a2 = a1 + pose.angle(ArmJoint::Elbow);
    const double a3 = a2 + pose.angle(ArmJoint::Wrist);
    const double jaw = pose.angle(ArmJoint::Gripper);
    SideChain c;
    c.shoulder = shoulder;
    c.elbow = shoulder + sideDirection(a1) * UpperArmLength * scale;
    c.wrist = c.elbow + sideDirection(a2) * ForearmLength * scale;
    c.hand = c.wrist + sideDirection(a3) * HandLength * scale;
    c.upperJaw = c.hand + sideDirection(a3 + jaw) * JawLength * scale;
    c.lowerJaw = c.hand + sideDirection(a3 - jaw) * JawLength * scale;
    return c;
}

SideChain restOnTable(SideChain chain, double floorY)
{
    // Each joint in turn, with the points beyond it.
    QPointF *points[] = {&chain.elbow, &chain.wrist, &chain.hand, &chain.upperJaw, &chain.lowerJaw};
    const QPointF *centres[] = {&chain.shoulder, &chain.elbow, &chain.wrist};
    for (int joint = 0; joint < 3; ++joint) {
        const double turn = liftAngle({*points[joint]}, *centres[joint], floorY);
        if (turn == 0.0)
            continue;
        const QPointF centre = *centres[joint];
        for (int i = joint; i < 5; ++i)
            *points[i] = rotated(*points[i], centre, turn);
    }
    const double turn = liftAngle({chain.upperJaw, chain.lowerJaw}, chain.hand, floorY);
    chain.upperJaw = rotated(chain.upperJaw, chain.hand, turn);
    chain.lowerJaw = rotated(chain.lowerJaw, chain.hand, turn);
    return chain;
}

namespace {

// Each label in turn as near its anchor as it finds room; empty when one finds none.
QList<QRectF> placeNear(const QList<QPointF> &anchors, const QList<QSizeF> &sizes, const QRectF &bounds,
                        const QList<QRectF> &obstacles)
{
    QList<QRectF> placed;
    const double farthest = std::hypot(bounds.width(), bounds.height());
    for (qsizetype i = 0; i < anchors.size(); ++i) {
        const QSizeF size = sizes.value(i);
        QRectF wanted(QPointF(), size);
        wanted.moveCenter(anchors[i]);
        // Rings of candidates about the anchor, nearest first; first clear of labels and joints, then
        // of labels alone.
        const double step = std::max(4.0, size.height() / 2);
        std::optional<QRectF> found;
        for (int pass = 0; pass < 2 && !found; ++pass) {
            QList<QRectF> taken = placed;
            if (pass == 0)
                taken += obstacles;
            for (double radius = 0; radius <= farthest && !found; radius += step) {
                const int directions = radius == 0 ? 1 : 16;
                for (int d = 0; d < directions && !found; ++d) {
                    const double angle = 2 * std::numbers::pi * d / directions;
                    const QRectF box =
                        inside(wanted.translated(radius * std::cos(angle), radius * std::sin(angle)), bounds);
                    if (clear(box, taken))
                        found = box;
                }
            }
        }
        if (!found) {
            // The places left are narrow gaps between the labels placed: any spot that takes it.
            for (double y = bounds.top(); y + size.height() <= bounds.bottom() && !found; y += 1) {
                for (double x = bounds.left(); x + size.width() <= bounds.right() && !found; x += 1) {
                    if (clear(QRectF(QPointF(x, y), size), placed))
                        found = QRectF(QPointF(x, y), size);
                }
            }
        }
        if (!found)
            return {};
        placed << *found;
    }
    return placed;
}

// The labels in rows from the top left, as many to a row as fit: for a panel too small to find each
// label a place near its joint. Empty when even so they do not fit.
QList<QRectF> shelveLabels(const QList<QSizeF> &sizes, const QRectF &bounds)
{
    QList<QRectF> placed;
    QPointF at = bounds.topLeft();
    double rowHeight = 0;
    for (const QSizeF &size : sizes) {
        if (at.x() > bounds.left() && at.x() + size.width() > bounds.right()) {
            at = QPointF(bounds.left(), at.y() + rowHeight + LabelGap * 2);
            rowHeight = 0;
        }
        const QRectF box(at, size);
        if (!bounds.contains(box))
            return {};
        placed << box;
        at.rx() += size.width() + LabelGap * 2;
        rowHeight = std::max(rowHeight, size.height());
    }
    return placed;
}

} // namespace

QList<QRectF> placeLabels(const QList<QPointF> &anchors, const QList<QSizeF> &sizes, const QRectF &bounds,
                          const QList<QRectF> &obstacles)
{
    QList<QRectF> placed = placeNear(anchors, sizes, bounds, obstacles);
    if (placed.isEmpty())
        placed = shelveLabels(sizes, bounds);
    if (placed.isEmpty()) {
        // Only when the labels cannot all fit apart does one lie over another.
        for (qsizetype i = 0; i < anchors.size(); ++i) {
            QRectF box(QPointF(), sizes.value(i));
            box.moveCenter(anchors[i]);
            placed << inside(box, bounds);
        }
    }
    return placed;
}

QList<QPointF> sideLabelAnchors(const SideChain &chain, double distance)
{
    // Outside the bend between the two segments that meet at a joint.
    auto outside = [](QPointF joint, QPointF towardsBefore, QPointF towardsAfter, double d) {
        QPointF away = -(unit(towardsBefore) + unit(towardsAfter));
        if (length(away) < 0.2)
            away = QPointF(-towardsAfter.y(), towardsAfter.x()); // straight through: beside it
        return joint + unit(away) * d;
    };
    // The gripper's label goes on ahead of the jaws, the way they point.
    QPointF pointing = unit((chain.upperJaw + chain.lowerJaw) / 2 - chain.hand);
    if (pointing.isNull())
        pointing = unit(chain.hand - chain.wrist);
    const double jaw = length(chain.upperJaw - chain.hand);
    return {outside(chain.shoulder, QPointF(0, 1), chain.elbow - chain.shoulder, distance * 1.2),
            outside(chain.elbow, chain.shoulder - chain.elbow, chain.wrist - chain.elbow, distance),
            outside(chain.wrist, chain.elbow - chain.wrist, chain.hand - chain.wrist, distance),
            chain.hand + pointing * (jaw + distance * 1.3)};
}

SideLayout sideLayout(const ArmPose &pose, QSizeF view, const QList<QSizeF> &labelSizes)
{
    const Panels panels = viewPanels(view);
    SideLayout layout;
    layout.frame = sideFrame(panels.side.adjusted(10, 34, -10, -10));
    layout.segmentWidth = segmentWidth(layout.frame.scale);
    layout.jointRadius = layout.segmentWidth * 0.45;
    // The thickest part, the upper arm with its shade, rests on the table.
    layout.chain = restOnTable(sideChain(pose, layout.frame.shoulder, layout.frame.scale),
                               layout.frame.floorY - restingHeight(layout.frame.scale));
    // Off the joints where there is room; below the panel's title.
    QList<QRectF> joints;
    const double r = layout.jointRadius;
    for (QPointF at : {layout.chain.shoulder, layout.chain.elbow, layout.chain.wrist, layout.chain.hand})
        joints << QRectF(at - QPointF(r, r), QSizeF(2 * r, 2 * r));
    layout.labelBounds = panels.side.adjusted(4, 30, -4, -4);
    layout.labels = placeLabels(sideLabelAnchors(layout.chain, layout.segmentWidth + 26), labelSizes,
                                layout.labelBounds, joints);
    return layout;
}

} // namespace ArmViewGeometry
