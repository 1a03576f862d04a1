#include "MacFrame.h"

#include "SkinAccessible.h"
#include "SkinArt.h"
#include "SkinPicture.h"
#include "Twips.h"

#include <QMouseEvent>
#include <QPainter>

namespace {

const QColor BorderColor(158, 158, 158);
constexpr qreal Radius = 6.0;
// Frame heights are 2 more than a multiple of 4 pixels, so the bottom pieces
// start two rows into the stripe period.
constexpr int BottomPhase = 2;
// Rounded outlines are drawn larger than the piece so only the wanted corner
// shows.
constexpr qreal Overhang = 20.0;

void paintFramePiece(QPainter &painter, const QString &name, const QSize &size)
{
    const qreal w = size.width();
    const qreal h = size.height();
    QRectF outline;
    int phase = 0;
    if (name == QLatin1String("Face")) {
        outline = QRectF(0.5, 0.5, w + Overhang, h + Overhang);
    } else if (name == QLatin1String("picRight")) {
        outline = QRectF(-Overhang, 0.5, w - 0.5 + Overhang, h + Overhang);
    } else if (name == QLatin1String("picBottom")) {
        outline = QRectF(0.5, -Overhang, w + Overhang, h - 0.5 + Overhang);
        phase = BottomPhase;
    } else {
        outline = QRectF(-Overhang, -Overhang, w - 0.5 + Overhang, h - 0.5 + Overhang);
        phase = BottomPhase;
    }
    const QPainterPath shape = SkinArt::roundedBox(outline, Radius);
    SkinArt::paintPinstripes(painter, shape, phase);
    painter.setPen(QPen(BorderColor, 1.0));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(shape);
}

int vbButtons(Qt::MouseButtons buttons)
{
    return (buttons & Qt::LeftButton ? 1 : 0) | (buttons & Qt::RightButton ? 2 : 0) |
           (buttons & Qt::MiddleButton ? 4 : 0);
}

int vbShift(Qt::KeyboardModifiers modifiers)
{
    return (modifiers & Qt::ShiftModifier ? 1 : 0) | (modifiers & Qt::ControlModifier ? 2 : 0) |
           (modifiers & Qt::AltModifier ? 4 : 0);
}

} // namespace

MacFrame::MacFrame(QWidget *parent)
    : QWidget(parent),
      m_pictures(std::make_unique<SkinPictures>(
          QStringLiteral("MacFrame"),
          std::vector<SkinPictures::Holder>{{QStringLiteral("Face"), QSize(FaceWidth, FaceHeight)},
                                            {QStringLiteral("picRight"), QSize(RightWidth, FaceHeight)},
                                            {QStringLiteral("picBottom"), QSize(FaceWidth, BottomHeight)},
                                            {QStringLiteral("picCorner"), QSize(CornerWidth, CornerHeight)}},
          paintFramePiece))
{
    SkinAccessible::install();
    setMouseTracking(true);
    m_picRight = new SkinPicture(this);
    m_picBottom = new SkinPicture(this);
    m_picCorner = new SkinPicture(this);
    m_picRight->setObjectName(QStringLiteral("picRight"));
    m_picBottom->setObjectName(QStringLiteral("picBottom"));
    m_picCorner->setObjectName(QStringLiteral("picCorner"));
    m_picCorner->resize(CornerWidth, CornerHeight);
    for (SkinPicture *piece : {m_picRight, m_picBottom, m_picCorner}) {
        piece->setMouseTracking(true);
        piece->installEventFilter(this);
    }
    refreshPictures();
    placePieces();
}

MacFrame::~MacFrame() = default;

bool MacFrame::Enabled() const
{
    return !testAttribute(Qt::WA_ForceDisabled);
}

void MacFrame::SetEnabled(bool enabled)
{
    setEnabled(enabled);
}

void MacFrame::ReadProperties(const PropertyBag &bag)
{
    setEnabled(bag.readProperty(QStringLiteral("Enabled"), true).toBool());
}

void MacFrame::WriteProperties(PropertyBag &bag) const
{
    bag.writeProperty(QStringLiteral("Enabled"), Enabled(), true);
}

int MacFrame::adjustedHeightTwips(int heightTwips)
{
    // The remainder keeps the sign of (h - 30), so heights below 30 twips
    // climb past the first step: 0 becomes 90.
    const int remainder = (heightTwips - 30) % 60;
    return remainder != 0 ? heightTwips + 60 - remainder : heightTwips;
}

void MacFrame::refreshPictures()
{
    m_pictures->ensure(devicePixelRatioF());
    m_picRight->setPicture(m_pictures->picture(QStringLiteral("picRight")), QStringLiteral("picRight"));
    m_picBottom->setPicture(m_pictures->picture(QStringLiteral("picBottom")), QStringLiteral("picBottom"));
    m_picCorner->setPicture(m_pictures->picture(QStringLiteral("picCorner")), QStringLiteral("picCorner"));
}

void MacFrame::placePieces()
{
    m_picRight->setGeometry(width() - RightWidth, 0, RightWidth, height());
    m_picBottom->setGeometry(0, height() - BottomHeight, width(), BottomHeight);
    m_picCorner->move(width() - m_picCorner->width(), height() - m_picCorner->height());
    m_picCorner->raise();
    // The pieces' rounded corners are see-through; whatever lies under a
    // corner must not show a straight edge there.
    m_picRight->setPaintedRect(QRect(0, 0, RightWidth, height() - m_picCorner->height()));
    m_picBottom->setPaintedRect(QRect(0, 0, width() - m_picCorner->width(), BottomHeight));
}

void MacFrame::paintEvent(QPaintEvent *)
{
    if (!qFuzzyCompare(m_pictures->devicePixelRatio(), devicePixelRatioF()))
        refreshPictures();
    QPainter painter(this);
    painter.setClipRect(0, 0, width() - RightWidth, height() - BottomHeight);
    painter.drawPixmap(0, 0, m_pictures->picture(QStringLiteral("Face")));
}

void MacFrame::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    const int heightTwips = Twips::fromPixels(height());
    const int wanted = adjustedHeightTwips(heightTwips);
    // A hidden frame gets no second resize event, so place the pieces for
    // the corrected size right away.
    if (wanted != heightTwips)
        resize(width(), Twips::toPixels(wanted));
    placePieces();
}

void MacFrame::raiseMouseMove(const QMouseEvent *event, float xTwips, float yTwips)
{
    Q_EMIT MouseMove(vbButtons(event->buttons()), vbShift(event->modifiers()), xTwips, yTwips);
}

void MacFrame::mouseMoveEvent(QMouseEvent *event)
{
    // Movement over the controls the frame holds bubbles up here; it is not ours.
    const QPoint position = event->position().toPoint();
    if (childAt(position) == nullptr) {
        raiseMouseMove(event, float(event->position().x() * Twips::PerPixel),
                       float(event->position().y() * Twips::PerPixel));
    }
    event->accept();
}

bool MacFrame::eventFilter(QObject *watched, QEvent *event)
{
    const bool onPiece = watched == m_picRight || watched == m_picBottom || watched == m_picCorner;
    if (!onPiece || event->type() != QEvent::MouseMove)
        return QWidget::eventFilter(watched, event);
    const auto *mouse = static_cast<QMouseEvent *>(event);
    const auto *piece = static_cast<QWidget *>(watched);
    float x = float(mouse->position().x() * Twips::PerPixel);
    float y = float(mouse->position().y() * Twips::PerPixel);
    if (piece == m_picRight || piece == m_picCorner)
        x += float(Twips::fromPixels(width()) - Twips::fromPixels(piece->width()));
    if (piece == m_picBottom || piece == m_picCorner)
        y += float(Twips::fromPixels(height()) - Twips::fromPixels(piece->height()));
    raiseMouseMove(mouse, x, y);
    return true;
}
