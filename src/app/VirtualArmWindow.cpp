#include "VirtualArmWindow.h"

#include "ArmViewGeometry.h"
#include "ProcessClock.h"
#include "StepFunctions.h"
#include "VirtualArm.h"

#include <QGridLayout>
#include <QLabel>
#include <QLinearGradient>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QRadialGradient>
#include <QVBoxLayout>

#include <array>
#include <cmath>
#include <numbers>

namespace {

// "ElbowUp", or for several joints at once "ShoulderUp + ElbowUp".
QString motionName(int code)
{
    QStringList names;
    for (const int part : armCodeParts(code))
        names << StepFunctions::name(part);
    return names.join(QStringLiteral(" + "));
}

using namespace ArmViewGeometry;

// About 60 frames a second while a motor turns.
constexpr int FrameIntervalMs = 16;

const QColor Background(0xee, 0xf2, 0xf7);
const QColor PanelColor(0xfd, 0xfe, 0xff);
const QColor PanelBorder(0xc8, 0xd2, 0xde);
const QColor Ink(0x27, 0x33, 0x40);
const QColor FaintInk(0x7a, 0x88, 0x98);
const QColor ArmColor(0xe8, 0x9a, 0x2c);
const QColor ArmShade(0xb8, 0x6e, 0x12);
const QColor JointColor(0x38, 0x42, 0x4e);
const QColor StrainColor(0xd6, 0x28, 0x28);
// The light in the gripper, as the interface kit lights it.
const QColor LampColor(0xff, 0xd8, 0x3a);

double radians(double degrees)
{
    return degrees * std::numbers::pi / 180.0;
}

QPointF unit(QPointF v)
{
    const double length = std::hypot(v.x(), v.y());
    return length > 1e-9 ? v / length : QPointF();
}

QString degreesText(double degrees)
{
    // Adding 0.0 keeps a rounded negative zero from showing as "-0".
    return QStringLiteral("%1\u00B0").arg(std::round(degrees) + 0.0, 0, 'f', 0);
}

QString jointCaption(ArmJoint joint)
{
    switch (joint) {
    case ArmJoint::Base:
        return QStringLiteral("Base");
    case ArmJoint::Shoulder:
        return QStringLiteral("Shoulder");
    case ArmJoint::Elbow:
        return QStringLiteral("Elbow");
    case ArmJoint::Wrist:
        return QStringLiteral("Wrist");
    case ArmJoint::Gripper:
        return QStringLiteral("Gripper");
    }
    return {};
}

} // namespace

// Draws a pose: a side view of shoulder, elbow, wrist and gripper, and a top view of the base.
//
// Everything that does not move (panels, table, pedestal, reach circle) is painted once per size into
// a pixmap; a new pose repaints only the panel whose drawing it changes, from that pixmap plus the arm.
class ArmView : public QWidget
{
public:

    explicit ArmView(QWidget *parent) : QWidget(parent)
    {
        setObjectName(QStringLiteral("armView"));
        setMinimumSize(MinimumViewWidth, MinimumViewHeight);
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

    const ArmPose &pose() const { return m_pose; }

    // The estimate instead of a true pose: the best guess drawn as the arm, the joints' extremes as a
    // faint arm on either side, and the uncertainty in the labels. A joint not known is drawn in the
    // middle of where it may be.
    void setEstimate(const PoseEstimate &estimate, int code)
    {
        ArmPose guess;
        for (int i = 0; i < ArmJointCount; ++i) {
            const JointEstimate &j = estimate.joints[size_t(i)];
            guess.degrees[size_t(i)] = j.known ? j.degrees : (j.low + j.high) / 2;
            m_low.degrees[size_t(i)] = j.low;
            m_high.degrees[size_t(i)] = j.high;
            m_jointKnown[size_t(i)] = j.known;
            m_spread[size_t(i)] = j.known ? j.uncertainty() : (j.high - j.low) / 2;
        }
        const bool changed = !m_estimated || guess.degrees != m_pose.degrees || estimate.known() != m_known ||
                             m_lowShown != m_low.degrees || m_highShown != m_high.degrees || code != m_code;
        m_estimated = true;
        m_known = estimate.known();
        m_statusText = estimate.statusText();
        m_lowShown = m_low.degrees;
        m_highShown = m_high.degrees;
        m_pose = guess;
        m_code = code;
        if (changed)
            update();
    }

    void setPose(const ArmPose &pose, int code)
    {
        const Panels panels = panelRects();
        QRegion dirty;
        if (code != m_code || sideChanged(m_pose, pose))
            dirty += panels.side.toAlignedRect();
        if (topChanged(m_pose, pose))
            dirty += panels.top.toAlignedRect();
        m_pose = pose;
        m_code = code;
        if (!dirty.isEmpty())
            update(dirty);
    }

    void setLight(bool on)
    {
        if (on == m_light)
            return;
        m_light = on;
        update(panelRects().side.toAlignedRect());
    }

protected:
    void paintEvent(QPaintEvent *event) override
    {
        const qreal dpr = devicePixelRatioF();
        if (m_still.isNull() || m_still.size() != size() * dpr || m_still.devicePixelRatio() != dpr)
            paintStillParts(dpr);
        QPainter p(this);
        for (const QRect &r : event->region())
            p.drawPixmap(r, m_still, QRectF(QPointF(r.topLeft()) * dpr, QSizeF(r.size()) * dpr));

        p.setRenderHint(QPainter::Antialiasing);
        p.setRenderHint(QPainter::TextAntialiasing);
        const Panels panels = panelRects();
        if (event->region().intersects(panels.side.toAlignedRect())) {
            drawSideView(p, sideArea(), Layer::Moving);
            drawMotion(p, panels.side);
        }
        if (event->region().intersects(panels.top.toAlignedRect())) {
            drawTopView(p, panels.top.adjusted(10, 34, -10, -10), Layer::Moving);
        }
    }

    void changeEvent(QEvent *event) override
    {
        if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
            m_still = QPixmap();
        QWidget::changeEvent(event);
    }

private:
    enum class Layer { Still, Moving };

    Panels panelRects() const { return viewPanels(QSizeF(size())); }
    // The side view's drawing area: its panel less the title and margins.
    QRectF sideArea() const { return panelRects().side.adjusted(10, 34, -10, -10); }

    static bool jointChanged(const ArmPose &a, const ArmPose &b, ArmJoint joint)
    {
        return a.angle(joint) != b.angle(joint) || a.isStraining(joint) != b.isStraining(joint);
    }
    static bool sideChanged(const ArmPose &a, const ArmPose &b)
    {
        return jointChanged(a, b, ArmJoint::Shoulder) || jointChanged(a, b, ArmJoint::Elbow) ||
               jointChanged(a, b, ArmJoint::Wrist) || jointChanged(a, b, ArmJoint::Gripper);
    }
    // The top view shows the base, and how far the arm reaches out, which the three bends decide.
    static bool topChanged(const ArmPose &a, const ArmPose &b)
    {
        return jointChanged(a, b, ArmJoint::Base) ||
               a.angle(ArmJoint::Shoulder) != b.angle(ArmJoint::Shoulder) ||
               a.angle(ArmJoint::Elbow) != b.angle(ArmJoint::Elbow) ||
               a.angle(ArmJoint::Wrist) != b.angle(ArmJoint::Wrist);
    }

    void paintStillParts(qreal dpr)
    {
        m_still = QPixmap(size() * dpr);
        m_still.setDevicePixelRatio(dpr);
        QPainter p(&m_still);
        p.setRenderHint(QPainter::Antialiasing);
        p.setRenderHint(QPainter::TextAntialiasing);
        p.fillRect(rect(), Background);
        const Panels panels = panelRects();
        drawPanel(p, panels.side, QStringLiteral("Side view"));
        drawPanel(p, panels.top, QStringLiteral("Top view"));
        drawSideView(p, sideArea(), Layer::Still);
        drawTopView(p, panels.top.adjusted(10, 34, -10, -10), Layer::Still);
    }

    void drawPanel(QPainter &p, const QRectF &r, const QString &title) const
    {
        p.setPen(QPen(PanelBorder, 1));
        p.setBrush(PanelColor);
        p.drawRoundedRect(r, 10, 10);
        QFont f = font();
        f.setBold(true);
        f.setPointSizeF(f.pointSizeF() * 1.05);
        p.setFont(f);
        p.setPen(Ink);
        p.drawText(r.adjusted(14, 8, -14, 0), Qt::AlignLeft | Qt::AlignTop, title);
    }

    void drawMotion(QPainter &p, const QRectF &panel) const
    {
        if (m_estimated) {
            // The real arm: what is drawn is where the estimate puts it, and says so.
            QFont f = font();
            f.setItalic(true);
            p.setFont(f);
            p.setPen(m_known ? Ink : StrainColor);
            p.drawText(panel.adjusted(14, 9, -14, 0), Qt::AlignRight | Qt::AlignTop,
                       m_known ? QStringLiteral("Estimate \u2013 %1").arg(m_statusText) : m_statusText);
            return;
        }
        QString text = QStringLiteral("Stopped");
        if (m_code > 0)
            text = QStringLiteral("%1 (code %2)").arg(motionName(m_code)).arg(m_code);
        p.setFont(font());
        p.setPen(m_code > 0 ? Ink : FaintInk);
        p.drawText(panel.adjusted(14, 9, -14, 0), Qt::AlignRight | Qt::AlignTop, text);
    }

    static void drawSegment(QPainter &p, QPointF from, QPointF to, double width)
    {
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(ArmShade, width + 3, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(from, to);
        p.setPen(QPen(ArmColor, width, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(from, to);
        // A light stripe along the top edge gives the segments some body.
        const QPointF n = unit(QPointF(-(to - from).y(), (to - from).x())) * (width * 0.22);
        p.setPen(QPen(QColor(255, 255, 255, 90), width * 0.25, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(from - n, to - n);
    }

    static void drawGlow(QPainter &p, QPointF at, double radius)
    {
        QRadialGradient glow(at, radius);
        QColor inner = StrainColor;
        inner.setAlpha(170);
        QColor outer = StrainColor;
        outer.setAlpha(0);
        glow.setColorAt(0, inner);
        glow.setColorAt(0.45, QColor(StrainColor.red(), StrainColor.green(), StrainColor.blue(), 90));
        glow.setColorAt(1, outer);
        p.setPen(Qt::NoPen);
        p.setBrush(glow);
        p.drawEllipse(at, radius, radius);
    }

    // The light in the gripper: a warm glow between the jaws.
    static void drawLamp(QPainter &p, QPointF at, double radius)
    {
        QRadialGradient glow(at, radius * 2.2);
        glow.setColorAt(0, LampColor);
        glow.setColorAt(0.35, LampColor);
        glow.setColorAt(1, QColor(LampColor.red(), LampColor.green(), LampColor.blue(), 0));
        p.setPen(Qt::NoPen);
        p.setBrush(glow);
        p.drawEllipse(at, radius * 2.2, radius * 2.2);
    }

    static void drawJoint(QPainter &p, QPointF at, double radius, bool straining)
    {
        p.setPen(QPen(straining ? StrainColor : QColor(0xf4, 0xf6, 0xf9), radius * 0.35));
        p.setBrush(JointColor);
        p.drawEllipse(at, radius, radius);
    }

    QString labelText(ArmJoint joint) const
    {
        QString text = QStringLiteral("%1 %2").arg(jointCaption(joint), degreesText(m_pose.angle(joint)));
        if (m_estimated) {
            const size_t i = size_t(armJointIndex(joint));
            return m_jointKnown[i] ? QStringLiteral("%1 \u00B1 %2").arg(text, degreesText(std::ceil(m_spread[i])))
                                   : QStringLiteral("%1 ?").arg(jointCaption(joint));
        }
        if (m_pose.isStraining(joint))
            text += QStringLiteral(" \u2013 straining");
        return text;
    }
    // The labels keep the window's text size however small the drawing gets.
    QFont labelFont(ArmJoint joint) const
    {
        QFont f = font();
        f.setPointSizeF(f.pointSizeF() * 0.92);
        f.setBold(m_pose.isStraining(joint));
        return f;
    }
    QSizeF labelSize(ArmJoint joint) const
    {
        const QFontMetricsF fm(labelFont(joint));
        return {fm.horizontalAdvance(labelText(joint)) + 14, fm.height() + 6};
    }

    // A caption chip "Elbow -90°" in `box`; red with "straining" when the clutch slips.
    void drawLabel(QPainter &p, const QRectF &box, ArmJoint joint) const
    {
        const bool straining = m_pose.isStraining(joint);
        p.setFont(labelFont(joint));
        p.setPen(QPen(straining ? StrainColor : PanelBorder, 1));
        p.setBrush(straining ? QColor(0xfd, 0xec, 0xec, 235) : QColor(255, 255, 255, 225));
        p.drawRoundedRect(box, box.height() / 2, box.height() / 2);
        p.setPen(straining ? StrainColor : Ink);
        p.drawText(box, Qt::AlignCenter, labelText(joint));
    }

    static void drawTableAndPedestal(QPainter &p, const QRectF &r, QPointF shoulder, double scale,
                                     double floorY)
    {
        // Table top.
        p.setPen(QPen(PanelBorder, 2));
        p.drawLine(QPointF(r.left() + 8, floorY), QPointF(r.right() - 8, floorY));
        p.setPen(QPen(QColor(0xdd, 0xe3, 0xea), 1));
        for (double x = r.left() + 16; x < r.right() - 8; x += 14)
            p.drawLine(QPointF(x, floorY + 2), QPointF(x - 8, floorY + 10));

        // Pedestal with the base gearbox.
        const double pw = 70 * scale * 1.6;
        QPainterPath pedestal;
        pedestal.moveTo(shoulder.x() - pw / 2, floorY);
        pedestal.lineTo(shoulder.x() - pw / 3, shoulder.y() - 4);
        pedestal.lineTo(shoulder.x() + pw / 3, shoulder.y() - 4);
        pedestal.lineTo(shoulder.x() + pw / 2, floorY);
        pedestal.closeSubpath();
        QLinearGradient body(pedestal.boundingRect().topLeft(), pedestal.boundingRect().topRight());
        body.setColorAt(0, QColor(0x4a, 0x55, 0x62));
        body.setColorAt(0.5, QColor(0x62, 0x6e, 0x7c));
        body.setColorAt(1, QColor(0x3c, 0x46, 0x52));
        p.setPen(Qt::NoPen);
        p.setBrush(body);
        p.drawPath(pedestal);
    }

    void drawSideView(QPainter &p, const QRectF &r, Layer layer) const
    {
        const SideFrame frame = sideFrame(r);
        const double scale = frame.scale;
        const QPointF shoulder = frame.shoulder;
        const double floorY = frame.floorY;
        p.save();
        p.setClipRect(r.adjusted(-6, -30, 6, 6));
        if (layer == Layer::Still) {
            drawTableAndPedestal(p, r, shoulder, scale, floorY);
            p.restore();
            return;
        }

        // The table stops the arm as the real one would, and nothing is drawn through it; the labels
        // stand apart from each other and, where there is room, off the joints.
        constexpr ArmJoint joints[] = {ArmJoint::Shoulder, ArmJoint::Elbow, ArmJoint::Wrist, ArmJoint::Gripper};
        QList<QSizeF> sizes;
        for (ArmJoint joint : joints)
            sizes << labelSize(joint);
        const SideLayout layout = sideLayout(m_pose, QSizeF(size()), sizes);
        const SideChain &chain = layout.chain;
        const double w = layout.segmentWidth;
        const double jointRadius = layout.jointRadius;
        p.save();
        p.setClipRect(QRectF(r.left() - 6, r.top() - 30, r.width() + 12, floorY - r.top() + 30), Qt::IntersectClip);

        for (auto [joint, at] : {std::pair{ArmJoint::Shoulder, chain.shoulder}, std::pair{ArmJoint::Elbow, chain.elbow},
                                 std::pair{ArmJoint::Wrist, chain.wrist}, std::pair{ArmJoint::Gripper, chain.hand}}) {
            if (m_pose.isStraining(joint))
                drawGlow(p, at, w * 2.4);
        }

        // An estimate: the arm as the extremes of every joint put it, faint, on either side of the guess
        // (of a pose not known, only the guess, fainter still).
        if (m_estimated) {
            for (const ArmPose &extreme : m_known ? QList<ArmPose>{m_low, m_high} : QList<ArmPose>{}) {
                const SideChain ghost = sideLayout(extreme, QSizeF(size()), sizes).chain;
                p.setOpacity(0.28);
                drawSegment(p, ghost.shoulder, ghost.elbow, w);
                drawSegment(p, ghost.elbow, ghost.wrist, w * 0.85);
                drawSegment(p, ghost.wrist, ghost.hand, w * 0.7);
                p.setPen(QPen(JointColor, w * 0.38, Qt::SolidLine, Qt::RoundCap));
                p.drawLine(ghost.hand, ghost.upperJaw);
                p.drawLine(ghost.hand, ghost.lowerJaw);
            }
            p.setOpacity(m_known ? 0.9 : 0.45);
        }
        drawSegment(p, chain.shoulder, chain.elbow, w);
        drawSegment(p, chain.elbow, chain.wrist, w * 0.85);
        drawSegment(p, chain.wrist, chain.hand, w * 0.7);
        p.setPen(QPen(JointColor, w * 0.38, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(chain.hand, chain.upperJaw);
        p.drawLine(chain.hand, chain.lowerJaw);
        // Dashed round the guess: no sensor saw it there.
        if (m_estimated) {
            p.setOpacity(1.0);
            p.setPen(QPen(Ink, 1.2, Qt::DashLine, Qt::RoundCap));
            p.drawLine(chain.shoulder, chain.elbow);
            p.drawLine(chain.elbow, chain.wrist);
            p.drawLine(chain.wrist, chain.hand);
        }

        drawJoint(p, chain.shoulder, jointRadius * 1.15, m_pose.isStraining(ArmJoint::Shoulder));
        drawJoint(p, chain.elbow, jointRadius, m_pose.isStraining(ArmJoint::Elbow));
        drawJoint(p, chain.wrist, jointRadius * 0.85, m_pose.isStraining(ArmJoint::Wrist));
        drawJoint(p, chain.hand, jointRadius * 0.6, m_pose.isStraining(ArmJoint::Gripper));
        if (m_light)
            drawLamp(p, (chain.upperJaw + chain.lowerJaw + chain.hand) / 3.0, jointRadius);
        p.restore();

        for (int i = 0; i < 4; ++i)
            drawLabel(p, layout.labels[i], joints[i]);
        p.restore();
    }

    void drawReach(QPainter &p, QPointF c, double radius) const
    {
        const ArmJointMotion &m = armJointMotion(ArmJoint::Base);
        // Reach circle, with the travel the base cannot make shaded.
        p.setPen(QPen(PanelBorder, 1, Qt::DashLine));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(c, radius, radius);
        // Qt's arcs start at three o'clock; our zero is straight up (forward), both counter-clockwise.
        const QRectF box(c.x() - radius, c.y() - radius, 2 * radius, 2 * radius);
        const double deadStart = 90 + m.maxDegrees;
        const double deadSpan = 360 - m.range();
        QPainterPath dead;
        dead.moveTo(c);
        dead.arcTo(box, deadStart, deadSpan);
        dead.closeSubpath();
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0xe4, 0xe9, 0xef));
        p.drawPath(dead);
        p.setPen(QPen(FaintInk, 1));
        for (int a = -180; a < 180; a += 45) {
            const QPointF dir(-std::sin(radians(a)), -std::cos(radians(a)));
            p.drawLine(c + dir * radius * 0.94, c + dir * radius);
        }
        p.setFont(font());
        p.drawText(QRectF(c.x() - 40, c.y() - radius - 22, 80, 18), Qt::AlignCenter, QStringLiteral("front"));
    }

    void drawTopView(QPainter &p, const QRectF &r, Layer layer) const
    {
        const QPointF c = r.center() + QPointF(0, 8);
        const double radius = std::min(r.width(), r.height() - 40) / 2 * 0.88;
        const double scale = radius / Reach;
        const double base = m_pose.angle(ArmJoint::Base);
        if (layer == Layer::Still) {
            drawReach(p, c, radius);
            return;
        }

        // The arm seen from above: how far each joint reaches forward of the base, along its heading, as
        // the side view stands it on the table (in millimetres, the shoulder at 0).
        const double sideScale = sideFrame(sideArea()).scale;
        const SideChain mm = restOnTable(sideChain(m_pose, QPointF(0, 0), 1.0),
                                         ShoulderHeight - restingHeight(sideScale) / sideScale);
        const QPointF heading(-std::sin(radians(base)), -std::cos(radians(base)));
        const QPointF jaws = (mm.upperJaw + mm.lowerJaw) / 2 - mm.hand;
        const double jawsLength = std::hypot(jaws.x(), jaws.y());
        const double rElbow = mm.elbow.x();
        const double rWrist = mm.wrist.x();
        const double rHand = mm.hand.x();
        const double rTip = rHand + (jawsLength > 1e-9 ? jaws.x() / jawsLength * JawLength : 0.0);
        const double w = segmentWidth(scale);

        // An estimate: the headings the base may have, as a faint wedge.
        if (m_estimated && m_known) {
            const QRectF box(c.x() - radius, c.y() - radius, 2 * radius, 2 * radius);
            QPainterPath wedge;
            wedge.moveTo(c);
            // Qt's arcs start at three o'clock; our zero is straight up, both counter-clockwise.
            wedge.arcTo(box, 90 + m_low.angle(ArmJoint::Base), m_high.angle(ArmJoint::Base) - m_low.angle(ArmJoint::Base));
            wedge.closeSubpath();
            QColor band = ArmColor;
            band.setAlpha(60);
            p.setPen(Qt::NoPen);
            p.setBrush(band);
            p.drawPath(wedge);
        }
        const double turntable = std::max(16.0, 42 * scale * 1.6);
        if (m_pose.isStraining(ArmJoint::Base))
            drawGlow(p, c, turntable * 1.9);
        QRadialGradient disc(c - QPointF(turntable * 0.3, turntable * 0.3), turntable * 1.4);
        disc.setColorAt(0, QColor(0x70, 0x7c, 0x8a));
        disc.setColorAt(1, QColor(0x3c, 0x46, 0x52));
        p.setPen(QPen(m_pose.isStraining(ArmJoint::Base) ? StrainColor : JointColor, 2));
        p.setBrush(disc);
        p.drawEllipse(c, turntable, turntable);

        const QPointF elbow = c + heading * rElbow * scale;
        const QPointF wrist = c + heading * rWrist * scale;
        const QPointF hand = c + heading * rHand * scale;
        const QPointF tip = c + heading * rTip * scale;
        drawSegment(p, c, elbow, w);
        drawSegment(p, elbow, wrist, w * 0.85);
        drawSegment(p, wrist, hand, w * 0.7);
        p.setPen(QPen(JointColor, w * 0.38, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(hand, tip);
        drawJoint(p, c, w * 0.5, false);

        // Heading pointer on the rim.
        p.setPen(QPen(m_pose.isStraining(ArmJoint::Base) ? StrainColor : ArmShade, 3, Qt::SolidLine,
                      Qt::RoundCap));
        p.drawLine(c + heading * radius * 0.86, c + heading * radius * 1.02);

        const QList<QRectF> box =
            placeLabels({QPointF(c.x(), r.bottom() - 12)}, {labelSize(ArmJoint::Base)},
                        panelRects().top.adjusted(4, 30, -4, -4));
        drawLabel(p, box.first(), ArmJoint::Base);
    }

    ArmPose m_pose = ArmPose::home();
    int m_code = 0;
    bool m_light = false;
    QPixmap m_still;
    // What an estimate adds: where each joint may be at either extreme, and how far from the guess.
    bool m_estimated = false;
    bool m_known = false;
    QString m_statusText;
    ArmPose m_low;
    ArmPose m_high;
    std::array<double, ArmJointCount> m_lowShown{};
    std::array<double, ArmJointCount> m_highShown{};
    std::array<bool, ArmJointCount> m_jointKnown{};
    std::array<double, ArmJointCount> m_spread{};
};

VirtualArmWindow::VirtualArmWindow(VirtualArm &arm, QWidget *parent)
    : QWidget(parent), m_arm(&arm), m_clock(&ProcessClock::monotonicNs)
{
    build();
    connect(&m_simulator, &ArmSimulator::codeApplied, this, &VirtualArmWindow::refresh);
    connect(&m_simulator, &ArmSimulator::poseReset, this, &VirtualArmWindow::refresh);
    m_simulator.attach(arm);

    connect(m_plugIn, &QPushButton::clicked, this, [this] {
        m_arm->plugIn();
        showPlugState();
    });
    connect(m_unplug, &QPushButton::clicked, this, [this] {
        m_arm->unplug();
        showPlugState();
    });
    connect(m_resetPose, &QPushButton::clicked, this, [this] { m_simulator.reset(m_clock()); });
    connect(&arm, &VirtualArm::lightChanged, this, [this](bool on) { showLight(on); });

    showLight(arm.light());
    showPlugState();
    refresh();
}

VirtualArmWindow::VirtualArmWindow(EstimateSource source, QWidget *parent)
    : QWidget(parent), m_estimateSource(std::move(source)), m_clock(&ProcessClock::monotonicNs)
{
    build();
    // Nothing to plug or put back: the arm is the real one.
    for (QWidget *w : {static_cast<QWidget *>(m_plugLabel), static_cast<QWidget *>(m_plugIn),
                       static_cast<QWidget *>(m_unplug), static_cast<QWidget *>(m_resetPose)})
        w->hide();
    refresh();
}

void VirtualArmWindow::build()
{
    setWindowTitle(QStringLiteral("Virtual Arm"));
    setWindowFlag(Qt::Window);
    setObjectName(QStringLiteral("VirtualArmWindow"));

    m_view = new ArmView(this);
    m_plugLabel = new QLabel(this);
    m_motionLabel = new QLabel(this);
    m_motionLabel->setObjectName(QStringLiteral("motionLabel"));
    m_lightLabel = new QLabel(this);
    m_lightLabel->setObjectName(QStringLiteral("lightLabel"));
    // Only the interface kit has a light.
    m_lightLabel->setVisible(m_arm && m_arm->kitDevice() != nullptr);
    m_plugIn = new QPushButton(QStringLiteral("Plug in"), this);
    m_plugIn->setObjectName(QStringLiteral("plugInButton"));
    m_unplug = new QPushButton(QStringLiteral("Unplug"), this);
    m_unplug->setObjectName(QStringLiteral("unplugButton"));
    m_resetPose = new QPushButton(QStringLiteral("Reset pose"), this);
    m_resetPose->setObjectName(QStringLiteral("resetPoseButton"));

    // A long strain message wraps rather than widen the window.
    m_motionLabel->setWordWrap(true);
    m_motionLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_controls = new QGridLayout;
    m_controls->setContentsMargins(12, 0, 0, 0);
    m_controls->setHorizontalSpacing(8);
    m_controls->setColumnStretch(1, 1);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 10, 10);
    layout->addWidget(m_view, 1);
    layout->addLayout(m_controls);
    arrangeControls(false);
    resize(940, 540);

    m_animation.setInterval(FrameIntervalMs);
    connect(&m_animation, &QTimer::timeout, this, &VirtualArmWindow::refresh);
}

VirtualArmWindow::~VirtualArmWindow() = default;

void VirtualArmWindow::setClock(Clock clock)
{
    m_clock = std::move(clock);
    refresh();
}

QString VirtualArmWindow::messageText() const
{
    return m_motionLabel->text();
}

void VirtualArmWindow::refresh()
{
    if (m_estimateSource) {
        const EstimatedPose estimated = m_estimateSource();
        m_view->setEstimate(estimated.estimate, estimated.code);
        m_pose = m_view->pose();
        const QString text =
            estimated.estimate.known()
                ? QStringLiteral("Estimated from the time each motion ran (the arm has no sensors): %1")
                      .arg(estimated.estimate.statusText().replace(QLatin1Char('\n'), QStringLiteral("; ")))
                : QStringLiteral("Pose unknown: say where the arm is with \u201CThis is the start pose\u201D");
        if (text != m_motionLabel->text())
            m_motionLabel->setText(text);
        if (estimated.code > 0) {
            if (!m_animation.isActive())
                m_animation.start();
        } else {
            m_animation.stop();
        }
        return;
    }
    const qint64 now = m_clock();
    m_pose = m_simulator.poseAt(now);
    const int code = m_simulator.code();
    m_view->setPose(m_pose, code);

    QStringList straining;
    for (const ArmJointMotion &m : armJointMotions) {
        if (m_pose.isStraining(m.joint))
            straining << jointCaption(m.joint);
    }
    const QString text = !straining.isEmpty()
                             ? QStringLiteral("%1 straining: clutch slipping at the end stop")
                                   .arg(straining.join(QStringLiteral(", ")))
                         : code > 0 ? QStringLiteral("Moving: %1").arg(motionName(code))
                                    : QStringLiteral("Stopped");
    // Called every frame while a joint moves; restyling the label each time would cost more than the
    // drawing.
    if (text != m_motionLabel->text()) {
        m_motionLabel->setText(text);
        m_motionLabel->setStyleSheet(
            straining.isEmpty() ? QString() : QStringLiteral("color: #d62828; font-weight: bold;"));
    }

    // Redraw on a timer only while something moves; a motor pushing against its stop shows no change.
    if (m_simulator.isMovingAt(now)) {
        if (!m_animation.isActive())
            m_animation.start();
    } else {
        m_animation.stop();
    }
}

void VirtualArmWindow::resizeEvent(QResizeEvent *event)
{
    arrangeControls(width() < NarrowWidth);
    QWidget::resizeEvent(event);
}

void VirtualArmWindow::arrangeControls(bool narrow)
{
    if (m_controls->count() > 0 && narrow == m_narrow)
        return;
    m_narrow = narrow;
    for (QWidget *w : {static_cast<QWidget *>(m_plugLabel), static_cast<QWidget *>(m_lightLabel),
                       static_cast<QWidget *>(m_motionLabel),
                       static_cast<QWidget *>(m_plugIn), static_cast<QWidget *>(m_unplug),
                       static_cast<QWidget *>(m_resetPose)})
        m_controls->removeWidget(w);
    // Wide: one row. Narrow: the motion (or strain) message on a row of its own above the buttons.
    const int buttonRow = narrow ? 1 : 0;
    if (narrow)
        m_controls->addWidget(m_motionLabel, 0, 0, 1, 6);
    else
        m_controls->addWidget(m_motionLabel, 0, 1);
    m_controls->addWidget(m_plugLabel, buttonRow, 0);
    m_controls->addWidget(m_lightLabel, buttonRow, 2);
    m_controls->addWidget(m_plugIn, buttonRow, 3);
    m_controls->addWidget(m_unplug, buttonRow, 4);
    m_controls->addWidget(m_resetPose, buttonRow, 5);
}

void VirtualArmWindow::showLight(bool on)
{
    m_lightShown = on;
    m_lightLabel->setText(on ? QStringLiteral("Light on") : QStringLiteral("Light off"));
    m_view->setLight(on);
}

void VirtualArmWindow::showPlugState()
{
    const bool plugged = m_arm->isPluggedIn();
    m_plugLabel->setText(plugged ? QStringLiteral("Plugged in") : QStringLiteral("Unplugged"));
    m_plugIn->setEnabled(!plugged);
    m_unplug->setEnabled(plugged);
}

QWidget *createEstimatedArmWindow(VirtualArmWindow::EstimateSource source, QWidget *parent)
{
    return new VirtualArmWindow(std::move(source), parent);
}

QWidget *createVirtualArmWindow(VirtualArm &arm, QWidget *parent, const ArmFaults &faults)
{
    auto *window = new VirtualArmWindow(arm, parent);
    window->simulator().setFaults(faults, ProcessClock::monotonicNs());
    return window;
}
