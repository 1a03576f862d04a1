#pragma once

#include "ArmSimulator.h"

#include <QList>
#include <QPointF>
#include <QRectF>
#include <QSizeF>

// The geometry of the Virtual Arm window's drawing, apart from the painting so that it can be checked
// on its own: where the arm's parts stand in the side view, how the table stops them, and where the
// joint labels go.
namespace ArmViewGeometry {

// Segment lengths in millimetres, roughly those of the real arm; only their ratios matter on screen.
constexpr double UpperArmLength = 90.0;
constexpr double ForearmLength = 110.0;
constexpr double HandLength = 40.0;
constexpr double JawLength = 38.0;
constexpr double Reach = UpperArmLength + ForearmLength + HandLength + JawLength;
// The shoulder axis stands this high above the table, in the same millimetres.
constexpr double ShoulderHeight = 34.0 * 1.6;

// The smallest the view gets: enough to stand beside the main window on a 1280 x 720 screen.
constexpr int MinimumViewWidth = 320;
constexpr int MinimumViewHeight = 300;

// The view's two panels: the side view and, beside it or (in a narrow view) under it, the top view.
struct Panels
{
    QRectF side;
    QRectF top;
};
Panels viewPanels(QSizeF view);

// Where the side view's drawing area (its panel less the title and margins) puts the arm: the shoulder
// axis, pixels to the millimetre, and the table's top. Sized for the arm stretched out upwards or
// sideways.
struct SideFrame
{
    QPointF shoulder;
    double scale;
    double floorY;
};
SideFrame sideFrame(const QRectF &area);
// The width of the upper arm's drawing at a scale; the other parts are narrower.
double segmentWidth(double scale);
// How far above the table the arm's axis line stays so that the drawn parts, with their thickness,
// rest on it rather than sink in.
double restingHeight(double scale);

// The points of the arm in the side view, in widget pixels (y grows downwards).
struct SideChain
{
    QPointF shoulder;
    QPointF elbow;
    QPointF wrist;
    QPointF hand; // where the jaws are hinged
    QPointF upperJaw;
    QPointF lowerJaw;
};

// The arm in `pose`, with the shoulder at `shoulder` and `scale` pixels to the millimetre, as the
// angles alone place it (the table not considered).
SideChain sideChain(const ArmPose &pose, QPointF shoulder, double scale);

// The arm as the table at floorY lets it stand: a part that would reach below the table rests on it.
// From the shoulder outwards, a joint below the table is turned up about the joint before it (with
// everything beyond) by the least angle that brings it onto the table; last the jaws, about their
// hinge, until neither is below it. Lengths are kept; a pose clear of the table is left as it is.
SideChain restOnTable(SideChain chain, double floorY);

// Places labels of the given sizes as near as they can go to the points they belong to (each label's
// centre wanted at its anchor), inside bounds, so that no two overlap and, where there is room, none
// covers an obstacle (the joints). Returns one rectangle per label, in the order given; earlier labels
// get the places nearer their anchors.
QList<QRectF> placeLabels(const QList<QPointF> &anchors, const QList<QSizeF> &sizes, const QRectF &bounds,
                          const QList<QRectF> &obstacles = {});

// Where the side view wants the labels of shoulder, elbow, wrist and gripper, in that order: outside
// the bend at each joint, `distance` pixels away, and beyond the jaws for the gripper.
QList<QPointF> sideLabelAnchors(const SideChain &chain, double distance);

// The side view of `pose` in a view of the given size, as it is drawn: the arm standing on the table,
// its parts' width, and the boxes of the labels of shoulder, elbow, wrist and gripper (of the sizes
// given, in that order), apart from each other and inside the panel.
struct SideLayout
{
    SideFrame frame;
    SideChain chain;
    double segmentWidth;
    double jointRadius;
    QRectF labelBounds;
    QList<QRectF> labels;
};
SideLayout sideLayout(const ArmPose &pose, QSizeF view, const QList<QSizeF> &labelSizes);

} // namespace ArmViewGeometry
