#include "ArmArtwork.h"

#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QtMath>

namespace ArmArtwork {

namespace {

QPixmap blankPixmap(QSize size, qreal dpr)
{
    QPixmap pixmap(size * dpr);
    pixmap.setDevicePixelRatio(dpr);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

QPointF unit(QPointF v)
{
    const qreal length = qSqrt(v.x() * v.x() + v.y() * v.y());
    return length > 0 ? v / length : QPointF(1, 0);
}

QPointF normal(QPointF v)
{
    const QPointF u = unit(v);
    return QPointF(-u.y(), u.x());
}

// A tapered link with round ends, as the arm's plastic limbs.
QPainterPath linkPath(QPointF from, QPointF to, qreal halfFrom, qreal halfTo)
{
    const QPointF n = normal(to - from);
    QPainterPath path;
    path.setFillRule(Qt::WindingFill);
    QPolygonF body;
    body << from + n * halfFrom << to + n * halfTo << to - n * halfTo << from - n * halfFrom;
    path.addPolygon(body);
    path.closeSubpath();
    path.addEllipse(from, halfFrom, halfFrom);
    path.addEllipse(to, halfTo, halfTo);
    return path.simplified();
}

// Light falls from the upper left: the face of a link is lit along its upper edge.
QLinearGradient linkShading(QPointF from, QPointF to, qreal half, QColor base)
{
    const QPointF mid = (from + to) / 2;
    QPointF n = normal(to - from);
    if (n.y() > 0)
        n = -n;
    QLinearGradient gradient(mid + n * half, mid - n * half);
    gradient.setColorAt(0.0, base.lighter(175));
    gradient.setColorAt(0.18, base.lighter(130));
    gradient.setColorAt(0.55, base);
    gradient.setColorAt(1.0, base.darker(165));
    return gradient;
}

const QColor Graphite(62, 67, 78);
const QColor Amber(242, 160, 38);
const QColor Outline(28, 31, 38);

void drawLink(QPainter &p, QPointF from, QPointF to, qreal halfFrom, qreal halfTo)
{
    const QPainterPath path = linkPath(from, to, halfFrom, halfTo);
    p.setPen(QPen(Outline, 1.2));
    p.setBrush(linkShading(from, to, qMax(halfFrom, halfTo), Graphite));
    p.drawPath(path);

    // A recessed amber strip along the link, like the trim of the real casing.
    const QPointF n = normal(to - from);
    const QPointF a = from + unit(to - from) * (halfFrom + 6);
    const QPointF b = to - unit(to - from) * (halfTo + 6);
    QPainterPath strip;
    const qreal w = qMin(halfFrom, halfTo) * 0.22;
    strip.moveTo(a + n * w);
    strip.lineTo(b + n * w);
    strip.lineTo(b - n * w);
    strip.lineTo(a - n * w);
    strip.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(Amber.darker(110));
    p.drawPath(strip);
    p.setPen(QPen(QColor(255, 230, 170, 140), 0.8));
    p.drawLine(a + n * w, b + n * w);
}

void drawHub(QPainter &p, QPointF centre, qreal radius)
{
    QRadialGradient rim(centre - QPointF(radius * 0.35, radius * 0.4), radius * 1.4);
    rim.setColorAt(0.0, QColor(120, 127, 140));
    rim.setColorAt(0.6, QColor(58, 63, 74));
    rim.setColorAt(1.0, QColor(30, 33, 40));
    p.setPen(QPen(Outline, 1.2));
    p.setBrush(rim);
    p.drawEllipse(centre, radius, radius);

    const qreal ring = radius * 0.68;
    QLinearGradient amber(centre - QPointF(0, ring), centre + QPointF(0, ring));
    amber.setColorAt(0.0, Amber.lighter(130));
    amber.setColorAt(1.0, Amber.darker(135));
    p.setPen(QPen(QColor(120, 70, 10), 1.0));
    p.setBrush(amber);
    p.drawEllipse(centre, ring, ring);

    const qreal cap = radius * 0.36;
    QRadialGradient metal(centre - QPointF(cap * 0.4, cap * 0.5), cap * 1.6);
    metal.setColorAt(0.0, QColor(250, 250, 252));
    metal.setColorAt(0.5, QColor(180, 186, 196));
    metal.setColorAt(1.0, QColor(100, 106, 118));
    p.setPen(QPen(QColor(70, 74, 84), 0.8));
    p.setBrush(metal);
    p.drawEllipse(centre, cap, cap);
}

void drawGearbox(QPainter &p, QRectF box)
{
    QLinearGradient shade(box.topLeft(), box.bottomLeft());
    shade.setColorAt(0.0, QColor(96, 103, 116));
    shade.setColorAt(1.0, QColor(44, 48, 57));
    p.setPen(QPen(Outline, 1.0));
    p.setBrush(shade);
    p.drawRoundedRect(box, 4, 4);
    p.setPen(QPen(QColor(255, 255, 255, 50), 1.0));
    p.drawLine(box.topLeft() + QPointF(4, 1.5), box.topRight() + QPointF(-4, 1.5));
}

void paintArm(QPainter &p, const ArmJoints &j)
{
    const QPointF s = j.shoulder, e = j.elbow, w = j.wrist;

    // Base: a broad foot, the turntable drum and the shoulder tower rising out of it.
    const QRectF foot(168, 352, 188, 38);
    QLinearGradient footShade(foot.topLeft(), foot.bottomLeft());
    footShade.setColorAt(0.0, QColor(90, 96, 108));
    footShade.setColorAt(0.25, QColor(64, 69, 80));
    footShade.setColorAt(1.0, QColor(30, 33, 40));
    p.setPen(QPen(Outline, 1.2));
    p.setBrush(footShade);
    p.drawRoundedRect(foot, 10, 10);
    p.setPen(QPen(QColor(255, 255, 255, 60), 1.0));
    p.drawLine(QPointF(foot.left() + 10, foot.top() + 1.5), QPointF(foot.right() - 10, foot.top() + 1.5));

    const QRectF drum(198, 318, 136, 40);
    QLinearGradient drumShade(drum.topLeft(), drum.topRight());
    drumShade.setColorAt(0.0, QColor(48, 52, 61));
    drumShade.setColorAt(0.3, QColor(110, 117, 130));
    drumShade.setColorAt(0.55, QColor(70, 75, 86));
    drumShade.setColorAt(1.0, QColor(34, 37, 45));
    p.setPen(QPen(Outline, 1.2));
    p.setBrush(drumShade);
    p.drawEllipse(QRectF(drum.left(), drum.bottom() - 8, drum.width(), 16));
    p.setPen(Qt::NoPen);
    p.drawRect(drum.adjusted(0, 8, 0, 0));
    p.setPen(QPen(Outline, 1.2));
    p.drawLine(QPointF(drum.left(), drum.top() + 8), QPointF(drum.left(), drum.bottom()));
    p.drawLine(QPointF(drum.right(), drum.top() + 8), QPointF(drum.right(), drum.bottom()));
    QLinearGradient topShade(drum.topLeft(), drum.topLeft() + QPointF(0, 16));
    topShade.setColorAt(0.0, Amber.lighter(125));
    topShade.setColorAt(1.0, Amber.darker(120));
    p.setBrush(topShade);
    p.drawEllipse(QRectF(drum.left(), drum.top(), drum.width(), 16));

    QPainterPath tower;
    tower.moveTo(214, 330);
    tower.lineTo(s.x() - 34, s.y() - 6);
    tower.quadTo(s.x(), s.y() - 44, s.x() + 34, s.y() - 6);
    tower.lineTo(318, 330);
    tower.closeSubpath();
    QLinearGradient towerShade(QPointF(214, 0), QPointF(318, 0));
    towerShade.setColorAt(0.0, QColor(104, 111, 124));
    towerShade.setColorAt(0.35, QColor(74, 80, 92));
    towerShade.setColorAt(1.0, QColor(36, 39, 47));
    p.setPen(QPen(Outline, 1.2));
    p.setBrush(towerShade);
    p.drawPath(tower);
    drawGearbox(p, QRectF(s.x() - 22, s.y() + 30, 44, 26));

    // Upper arm, elbow gearbox, forearm, wrist and gripper: drawn from the back to the front.
    drawLink(p, s, e, 24, 19);
    drawLink(p, e, w, 17, 13);
    drawHub(p, s, 26);
    drawHub(p, e, 21);

    // The gripper: a palm block ahead of the wrist and two jaws, slightly open.
    const qreal palmLeft = 150;
    QPainterPath palm;
    palm.addRoundedRect(QRectF(palmLeft, w.y() - 19, w.x() - palmLeft, 38), 7, 7);
    QLinearGradient palmShade(QPointF(0, w.y() - 19), QPointF(0, w.y() + 19));
    palmShade.setColorAt(0.0, QColor(118, 125, 138));
    palmShade.setColorAt(0.3, QColor(76, 82, 94));
    palmShade.setColorAt(1.0, QColor(34, 37, 45));
    p.setPen(QPen(Outline, 1.2));
    p.setBrush(palmShade);
    p.drawPath(palm);

    // Two jaws, slightly open, each hooked inwards at the tip with a rubber pad on its inner face.
    const qreal tip = j.gripperTip.x();
    const qreal wy = w.y();
    for (int side : {-1, 1}) {
        auto at = [wy, side](qreal x, qreal dy) { return QPointF(x, wy + side * dy); };
        QPainterPath jaw;
        jaw.moveTo(at(palmLeft + 8, 19));
        jaw.cubicTo(at(palmLeft - 24, 22), at(tip + 34, 20), at(tip + 6, 13));
        jaw.quadTo(at(tip - 2, 10), at(tip + 2, 4));
        jaw.lineTo(at(tip + 14, 4));
        jaw.cubicTo(at(tip + 34, 7), at(palmLeft - 26, 8), at(palmLeft + 8, 6));
        jaw.closeSubpath();
        QLinearGradient jawShade(at(0, 20), at(0, 4));
        jawShade.setColorAt(0.0, QColor(70, 76, 88));
        jawShade.setColorAt(0.45, QColor(150, 157, 170));
        jawShade.setColorAt(1.0, QColor(96, 102, 116));
        p.setPen(QPen(Outline, 1.1));
        p.setBrush(jawShade);
        p.drawPath(jaw);

        QPainterPath pad;
        pad.moveTo(at(tip + 3, 4.5));
        pad.lineTo(at(tip + 30, 6.5));
        pad.lineTo(at(tip + 30, 9));
        pad.lineTo(at(tip + 4, 7.5));
        pad.closeSubpath();
        p.setPen(Qt::NoPen);
        p.setBrush(Amber);
        p.drawPath(pad);
    }
    // The wrist collar between the palm and the wrist joint.
    drawGearbox(p, QRectF(w.x() - 30, wy - 23, 16, 46));
    drawHub(p, w, 15);
}

void paintPanelBackdrop(QPainter &p, QSizeF size)
{
    const QRectF area(QPointF(0, 0), size);
    QLinearGradient sky(area.topLeft(), area.bottomLeft());
    sky.setColorAt(0.0, QColor(238, 241, 247));
    sky.setColorAt(0.72, QColor(214, 220, 231));
    sky.setColorAt(1.0, QColor(190, 197, 211));
    p.setPen(Qt::NoPen);
    p.setBrush(sky);
    p.drawRoundedRect(area, 8, 8);

    // A faint drafting grid.
    p.setPen(QPen(QColor(90, 110, 150, 22), 1.0));
    for (qreal x = 16.5; x < size.width(); x += 24)
        p.drawLine(QPointF(x, 6), QPointF(x, size.height() - 6));
    for (qreal y = 16.5; y < size.height(); y += 24)
        p.drawLine(QPointF(6, y), QPointF(size.width() - 6, y));

    // The floor the arm stands on.
    QRadialGradient floor(QPointF(262, 392), 190);
    floor.setColorAt(0.0, QColor(60, 70, 90, 70));
    floor.setColorAt(1.0, QColor(60, 70, 90, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(floor);
    p.drawEllipse(QPointF(262, 392), 190, 26);

    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(255, 255, 255, 160), 1.0));
    p.drawRoundedRect(area.adjusted(1.5, 1.5, -1.5, -1.5), 7, 7);
    p.setPen(QPen(QColor(70, 78, 98), 1.0));
    p.drawRoundedRect(area.adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
}

void paintLamp(QPainter &p, bool lit)
{
    const QPointF c(10, 10);
    // Bezel.
    QLinearGradient bezel(QPointF(0, 0), QPointF(0, 20));
    bezel.setColorAt(0.0, QColor(60, 64, 74));
    bezel.setColorAt(1.0, QColor(200, 204, 212));
    p.setPen(Qt::NoPen);
    p.setBrush(bezel);
    p.drawEllipse(c, 9.5, 9.5);

    QRadialGradient glass(QPointF(8, 7.5), 9);
    if (lit) {
        glass.setColorAt(0.0, QColor(255, 190, 180));
        glass.setColorAt(0.35, QColor(250, 50, 40));
        glass.setColorAt(1.0, QColor(150, 10, 10));
    } else {
        glass.setColorAt(0.0, QColor(120, 90, 90));
        glass.setColorAt(0.4, QColor(80, 40, 40));
        glass.setColorAt(1.0, QColor(40, 20, 22));
    }
    p.setPen(QPen(QColor(30, 20, 20), 0.8));
    p.setBrush(glass);
    p.drawEllipse(c, 7.5, 7.5);

    // Specular highlight.
    QRadialGradient shine(QPointF(8, 6.5), 4);
    shine.setColorAt(0.0, QColor(255, 255, 255, lit ? 230 : 120));
    shine.setColorAt(1.0, QColor(255, 255, 255, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(shine);
    p.drawEllipse(QPointF(8, 6.5), 4, 3);
}

QPixmap lamp(bool lit, qreal dpr)
{
    QPixmap pixmap = blankPixmap(QSize(20, 20), dpr);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    paintLamp(p, lit);
    return pixmap;
}

// A small rendition of the arm for the about and splash windows.
void paintEmblem(QPainter &p, QRectF box)
{
    p.save();
    const qreal scale = qMin(box.width() / 527.0, box.height() / 410.0);
    p.translate(box.center() - QPointF(262 * scale, 235 * scale));
    p.scale(scale, scale);
    paintArm(p, ArmJoints());
    p.restore();
}

void paintBrandBand(QPainter &p, QRectF band, const QColor &from, const QColor &to)
{
    p.save();
    QLinearGradient shade(band.topLeft(), band.bottomLeft());
    shade.setColorAt(0.0, from);
    shade.setColorAt(1.0, to);
    p.setPen(Qt::NoPen);
    p.setBrush(shade);
    p.drawRect(band);
    p.setPen(QPen(Amber, 2.0));
    p.drawLine(band.bottomLeft() + QPointF(0, -1), band.bottomRight() + QPointF(0, -1));
    p.restore();
}

} // namespace

QSize armPictureSize()
{
    return QSize(527, 410);
}

QPixmap armPicture(qreal dpr)
{
    const QSize size = armPictureSize();
    QPixmap pixmap = blankPixmap(size, dpr);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    paintPanelBackdrop(p, size);

    // The arm casts a soft shadow down and to the right.
    QImage silhouette(size * dpr, QImage::Format_ARGB32_Premultiplied);
    silhouette.fill(Qt::transparent);
    {
        QPainter s(&silhouette);
        s.setRenderHint(QPainter::Antialiasing);
        s.scale(dpr, dpr);
        paintArm(s, ArmJoints());
    }
    // Shrinking the tinted silhouette and blowing it up again smears its edges into a soft shadow.
    QImage shadow(silhouette.size(), QImage::Format_ARGB32_Premultiplied);
    shadow.fill(Qt::transparent);
    {
        QPainter sp(&shadow);
        sp.drawImage(0, 0, silhouette);
        sp.setCompositionMode(QPainter::CompositionMode_SourceIn);
        sp.fillRect(shadow.rect(), QColor(20, 28, 48, 90));
    }
    const QSize smallSize = shadow.size() / 6;
    shadow = shadow.scaled(smallSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                 .scaled(size * dpr, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    p.save();
    p.scale(1.0 / dpr, 1.0 / dpr);
    p.drawImage(QPointF(7 * dpr, 9 * dpr), shadow);
    p.drawImage(QPointF(0, 0), silhouette);
    p.restore();
    return pixmap;
}

QPixmap windowTexture(QSize size, qreal dpr)
{
    QPixmap pixmap = blankPixmap(size, dpr);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF area(QPointF(0, 0), QSizeF(size));

    // The window colour (138, 146, 166) in the middle, a touch lighter above and darker below.
    QLinearGradient shade(area.topLeft(), area.bottomLeft());
    shade.setColorAt(0.0, QColor(156, 164, 184));
    shade.setColorAt(0.5, QColor(138, 146, 166));
    shade.setColorAt(1.0, QColor(122, 130, 150));
    p.fillRect(area, shade);

    // Fine diagonal brushing, barely visible.
    p.setPen(QPen(QColor(255, 255, 255, 10), 1.0));
    for (int x = -size.height(); x < size.width(); x += 4)
        p.drawLine(QPointF(x, size.height()), QPointF(x + size.height(), 0));
    return pixmap;
}

QPixmap windowBackground(QSize size, qreal dpr)
{
    QPixmap pixmap = windowTexture(size, dpr);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);

    // The title strip above the panels.
    QLinearGradient strip(QPointF(0, 0), QPointF(0, 32));
    strip.setColorAt(0.0, QColor(84, 92, 112));
    strip.setColorAt(1.0, QColor(110, 118, 138));
    p.fillRect(QRectF(0, 0, size.width(), 31), strip);
    p.setPen(QPen(QColor(255, 255, 255, 70), 1.0));
    p.drawLine(QPointF(0, 31.5), QPointF(size.width(), 31.5));

    QFont brand(QStringLiteral("DejaVu Sans"));
    brand.setPixelSize(15);
    brand.setBold(true);
    brand.setLetterSpacing(QFont::AbsoluteSpacing, 3.0);
    p.setFont(brand);
    p.setPen(QColor(255, 255, 255, 235));
    p.drawText(QRectF(14, 0, 200, 31), Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("TESSARO"));
    QFont sub(QStringLiteral("DejaVu Sans"));
    sub.setPixelSize(10);
    p.setFont(sub);
    p.setPen(QColor(255, 222, 160, 220));
    p.drawText(QRectF(122, 0, 150, 31), Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("arm control"));
    return pixmap;
}

QPixmap lampLitRed(qreal dpr)
{
    return lamp(true, dpr);
}

QPixmap lampDark(qreal dpr)
{
    return lamp(false, dpr);
}

QPixmap splashPicture(QSize size, qreal dpr)
{
    QPixmap pixmap = blankPixmap(size, dpr);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF area(QPointF(0, 0), QSizeF(size));
    p.fillRect(area, Qt::white);
    paintBrandBand(p, QRectF(0, 0, size.width(), 62), QColor(84, 92, 112), QColor(120, 128, 148));

    QFont brand(QStringLiteral("DejaVu Sans"));
    brand.setPixelSize(26);
    brand.setBold(true);
    brand.setLetterSpacing(QFont::AbsoluteSpacing, 4.0);
    p.setFont(brand);
    p.setPen(Qt::white);
    p.drawText(QRectF(22, 0, size.width() - 44, 62), Qt::AlignVCenter | Qt::AlignLeft,
               QStringLiteral("KORIV PRO"));

    // The version label sits under the emblem; the tag line closes the picture at the bottom.
    paintEmblem(p, QRectF(0, 68, size.width(), 104));

    QFont tag(QStringLiteral("DejaVu Sans"));
    tag.setPixelSize(11);
    tag.setLetterSpacing(QFont::AbsoluteSpacing, 1.0);
    p.setFont(tag);
    p.setPen(QColor(110, 116, 132));
    p.drawText(QRectF(0, size.height() - 40, size.width(), 24), Qt::AlignCenter,
               QStringLiteral("Robotic arm control and automation"));
    p.setPen(QPen(QColor(220, 224, 232), 1.0));
    p.setBrush(Qt::NoBrush);
    p.drawRect(area.adjusted(0.5, 0.5, -0.5, -0.5));
    return pixmap;
}

QPixmap aboutPicture(QSize size, qreal dpr)
{
    QPixmap pixmap = blankPixmap(size, dpr);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF area(QPointF(0, 0), QSizeF(size));

    QLinearGradient back(area.topLeft(), area.bottomLeft());
    back.setColorAt(0.0, QColor(204, 204, 204));
    back.setColorAt(1.0, QColor(184, 184, 184));
    p.fillRect(area, back);

    // A light card behind the texts.
    const QRectF card(18, 14, size.width() - 36, size.height() - 60);
    p.setPen(QPen(QColor(150, 150, 150), 1.0));
    p.setBrush(QColor(246, 247, 249));
    p.drawRoundedRect(card, 8, 8);
    paintBrandBand(p, QRectF(card.left() + 1, card.top() + 1, card.width() - 2, 30), QColor(84, 92, 112),
                   QColor(112, 120, 140));
    QFont brand(QStringLiteral("DejaVu Sans"));
    brand.setPixelSize(14);
    brand.setBold(true);
    brand.setLetterSpacing(QFont::AbsoluteSpacing, 3.0);
    p.setFont(brand);
    p.setPen(Qt::white);
    p.drawText(QRectF(card.left() + 14, card.top(), card.width() - 28, 31), Qt::AlignVCenter | Qt::AlignLeft,
               QStringLiteral("KORIV PRO"));

    paintEmblem(p, QRectF(card.left() + 20, card.top() + 36, card.width() - 40, 90));
    return pixmap;
}

QPixmap messageBackground(QSize size, qreal dpr)
{
    QPixmap pixmap = blankPixmap(size, dpr);
    QPainter p(&pixmap);
    const QRectF area(QPointF(0, 0), QSizeF(size));
    QLinearGradient back(area.topLeft(), area.bottomLeft());
    back.setColorAt(0.0, QColor(250, 251, 253));
    back.setColorAt(1.0, QColor(226, 229, 236));
    p.fillRect(area, back);
    p.fillRect(QRectF(0, 0, 4, size.height()), Amber);
    p.setPen(QPen(QColor(200, 204, 214), 1.0));
    p.drawLine(QPointF(0, size.height() - 52.5), QPointF(size.width(), size.height() - 52.5));
    return pixmap;
}

QPixmap informationIcon(qreal dpr)
{
    QPixmap pixmap = blankPixmap(QSize(64, 64), dpr);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF c(32, 32);
    QRadialGradient disc(QPointF(26, 22), 40);
    disc.setColorAt(0.0, QColor(120, 180, 250));
    disc.setColorAt(0.6, QColor(40, 110, 210));
    disc.setColorAt(1.0, QColor(20, 60, 140));
    p.setPen(QPen(QColor(16, 48, 110), 1.5));
    p.setBrush(disc);
    p.drawEllipse(c, 29, 29);
    QRadialGradient shine(QPointF(28, 16), 22);
    shine.setColorAt(0.0, QColor(255, 255, 255, 150));
    shine.setColorAt(1.0, QColor(255, 255, 255, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(shine);
    p.drawEllipse(QPointF(32, 20), 22, 14);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(32, 18), 4.5, 4.5);
    p.drawRoundedRect(QRectF(28, 27, 8, 23), 3, 3);
    return pixmap;
}

} // namespace ArmArtwork
