#include "MacButton.h"

#include "SkinAccessible.h"
#include "SkinArt.h"
#include "Twips.h"
#include "WinColor.h"

#include <QCursor>
#include <QLabel>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>

namespace {

std::function<QPoint()> &cursorSource()
{
    static std::function<QPoint()> source;
    return source;
}

QPoint cursorPosition()
{
    const auto &source = cursorSource();
    return source ? source() : QCursor::pos();
}

const SkinArt::Gloss &glossFor(QChar look)
{
    static const SkinArt::Gloss normal{QColor(246, 246, 246), QColor(234, 234, 234), QColor(222, 222, 222),
                                       QColor(240, 240, 240), QColor(94, 94, 94),    120};
    static const SkinArt::Gloss hover{QColor(196, 226, 255), QColor(150, 203, 252), QColor(116, 181, 248),
                                      QColor(176, 218, 255), QColor(38, 38, 153),   160};
    static const SkinArt::Gloss down{QColor(160, 204, 250), QColor(114, 182, 247), QColor(80, 156, 240),
                                     QColor(140, 196, 252), QColor(36, 36, 148),   110};
    if (look == QLatin1Char('H'))
        return hover;
    if (look == QLatin1Char('D'))
        return down;
    return normal;
}

void paintBackdrop(QPainter &painter, const QSize &size, bool dark, bool longImage)
{
    const QRectF area(QPointF(0, 0), QSizeF(size));
    if (!dark) {
        QLinearGradient backdrop(area.topLeft(), area.bottomLeft());
        backdrop.setColorAt(0.0, QColor(238, 238, 238));
        backdrop.setColorAt(1.0, QColor(243, 243, 243));
        painter.fillRect(area, backdrop);
    } else if (longImage) {
        painter.fillRect(area, QColor(230, 230, 230));
    } else {
        QLinearGradient backdrop(area.topLeft(), area.bottomLeft());
        backdrop.setColorAt(0.0, QColor(228, 228, 228));
        backdrop.setColorAt(1.0, QColor(232, 232, 232));
        painter.fillRect(area, backdrop);
    }
}

void paintButtonPicture(QPainter &painter, const QString &name, const QSize &size, bool dark)
{
    const bool longImage = name.startsWith(QLatin1String("pctL"));
    paintBackdrop(painter, size, dark, longImage);
    // One row is left below the pill for its shadow.
    const QPainterPath shape = SkinArt::pill(QRectF(0.5, 0.5, size.width() - 1.0, size.height() - 2.0));
    SkinArt::paintDropShadow(painter, shape, 45);
    SkinArt::paintGloss(painter, shape, glossFor(name.back()));
}

std::unique_ptr<SkinPictures> makePictures(bool dark)
{
    const QSize standard(Twips::toPixels(MacButton::WidthTwips), Twips::toPixels(MacButton::HeightTwips));
    const QSize longSize(Twips::toPixels(MacButton::LongWidthTwips), Twips::toPixels(MacButton::HeightTwips));
    std::vector<SkinPictures::Holder> holders;
    for (const char *look : {"N", "H", "D"}) {
        holders.push_back({QStringLiteral("pctButton") + QLatin1String(look), standard});
        holders.push_back({QStringLiteral("pctLButton") + QLatin1String(look), longSize});
    }
    return std::make_unique<SkinPictures>(dark ? QStringLiteral("MacButtonD") : QStringLiteral("MacButton"),
                                          std::move(holders),
                                          [dark](QPainter &painter, const QString &name, const QSize &size) {
                                              paintButtonPicture(painter, name, size, dark);
                                          });
}

} // namespace

MacButton::MacButton(QWidget *parent) : MacButton(parent, Backdrop::Light) {}

MacButton::MacButton(QWidget *parent, Backdrop backdrop)
    : QAbstractButton(parent), m_pictures(makePictures(backdrop == Backdrop::Dark))
{
    SkinAccessible::install();
    setFocusPolicy(Qt::NoFocus);
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);

    m_buttonCaption = new QLabel(DefaultCaption, this);
    m_buttonCaption->setObjectName(QStringLiteral("ButtonCaption"));
    m_buttonCaption->setAlignment(Qt::AlignCenter);
    m_buttonCaption->setAttribute(Qt::WA_TransparentForMouseEvents);
    // Inside a button a label would take the button-text role and ignore its caption colour.
    m_buttonCaption->setForegroundRole(QPalette::WindowText);
    QFont face(QStringLiteral("Arial"));
    face.setPointSizeF(8.25);
    m_buttonCaption->setFont(face);
    setText(DefaultCaption);

    m_timerMouseTrack.setInterval(PollIntervalMs);
    connect(&m_timerMouseTrack, &QTimer::timeout, this, &MacButton::trackMouse);
    connect(this, &QAbstractButton::clicked, this, &MacButton::Click);

    applyFixedSize();
    m_pictures->ensure(devicePixelRatioF());
    showLook(QLatin1Char('N'));
    colourCaption();
}

MacButton::~MacButton() = default;

void MacButton::setCursorSource(std::function<QPoint()> source)
{
    cursorSource() = std::move(source);
}

int MacButton::MouseX(const QWidget *window) const
{
    const QPoint position = cursorPosition();
    return window ? window->mapFromGlobal(position).x() : position.x();
}

int MacButton::MouseY(const QWidget *window) const
{
    const QPoint position = cursorPosition();
    return window ? window->mapFromGlobal(position).y() : position.y();
}

QString MacButton::Caption() const
{
    return m_buttonCaption->text();
}

void MacButton::SetCaption(const QString &caption)
{
    m_buttonCaption->setText(caption);
    setText(caption);
    // The button takes no keyboard input, so an "&" in the caption is just a character.
    setShortcut(QKeySequence());
    SkinAccessible::notifyName(this);
}

void MacButton::SetLongStyle(bool longStyle)
{
    m_longStyle = longStyle;
    // Shows the normal picture of the new style even while lit; the next
    // pointer movement does not relight it until a poll has seen it leave.
    showLook(QLatin1Char('N'));
    applyFixedSize();
}

bool MacButton::Enabled() const
{
    return !testAttribute(Qt::WA_ForceDisabled);
}

void MacButton::SetEnabled(bool enabled)
{
    setEnabled(enabled);
    colourCaption();
}

void MacButton::ReadProperties(const PropertyBag &bag)
{
    // Reading falls back on the same default that writing leaves out, so a
    // caption of "Button" survives a save and a load.
    SetCaption(bag.readProperty(QStringLiteral("Caption"), DefaultCaption).toString());
    SetLongStyle(bag.readProperty(QStringLiteral("LongStyle"), m_longStyle).toBool());
    setEnabled(bag.readProperty(QStringLiteral("Enabled"), true).toBool());
    showLook(QLatin1Char('N'));
    placeCaption();
    colourCaption();
    m_hovering = false;
}

void MacButton::WriteProperties(PropertyBag &bag) const
{
    bag.writeProperty(QStringLiteral("Caption"), Caption(), DefaultCaption);
    bag.writeProperty(QStringLiteral("LongStyle"), m_longStyle, false);
    bag.writeProperty(QStringLiteral("Enabled"), Enabled(), true);
}

void MacButton::showLook(QChar look)
{
    m_currentPicture = (m_longStyle ? QStringLiteral("pctLButton") : QStringLiteral("pctButton")) + look;
    update();
}

void MacButton::placeCaption()
{
    m_buttonCaption->setGeometry(Twips::toPixels(150), Twips::toPixels(60),
                                 Twips::toPixels(Twips::fromPixels(width()) - CaptionMarginTwips),
                                 Twips::toPixels(195));
}

void MacButton::colourCaption()
{
    QPalette palette = m_buttonCaption->palette();
    palette.setColor(QPalette::WindowText, winColorToQColor(Enabled() ? CaptionColor : DisabledCaptionColor));
    m_buttonCaption->setPalette(palette);
}

void MacButton::applyFixedSize()
{
    const int widthTwips = m_longStyle ? LongWidthTwips : WidthTwips;
    setFixedSize(Twips::toPixels(widthTwips), Twips::toPixels(HeightTwips));
    // A hidden button gets its resize event only when shown.
    placeCaption();
}

void MacButton::trackMouse()
{
    m_lastMouseX = MouseX(this);
    m_lastMouseY = MouseY(this);
    const float widthPixels = float(Twips::fromPixels(width())) / float(Twips::PerPixel);
    const float heightPixels = float(Twips::fromPixels(height())) / float(Twips::PerPixel);
    // The first row and column count as outside.
    const bool outside = m_lastMouseX <= 0 || m_lastMouseY <= 0 || float(m_lastMouseX) >= widthPixels ||
                         float(m_lastMouseY) >= heightPixels;
    if (!outside)
        return;
    darken();
}

void MacButton::light(QChar look)
{
    showLook(look);
    m_hovering = true;
    if (!m_timerMouseTrack.isActive())
        m_timerMouseTrack.start();
}

void MacButton::darken()
{
    showLook(QLatin1Char('N'));
    m_timerMouseTrack.stop();
    m_hovering = false;
}

void MacButton::paintEvent(QPaintEvent *)
{
    m_pictures->ensure(devicePixelRatioF());
    QPainter painter(this);
    painter.drawPixmap(0, 0, m_pictures->picture(m_currentPicture));
}

void MacButton::resizeEvent(QResizeEvent *event)
{
    QAbstractButton::resizeEvent(event);
    placeCaption();
}

void MacButton::changeEvent(QEvent *event)
{
    // Also follows a plain setEnabled() from the host.
    if (event->type() == QEvent::EnabledChange)
        colourCaption();
    QAbstractButton::changeEvent(event);
}

void MacButton::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint at = event->position().toPoint();
    // With a mouse button held the moves keep coming from outside; only the surface lights the
    // button. The caption label lies over the face; movement over it does not light the button
    // (it is reached across the face anyway).
    if (!rect().contains(at)) {
        if (m_hovering)
            darken();
    } else if (!m_buttonCaption->geometry().contains(at)) {
        if (event->buttons() != Qt::NoButton)
            light(QLatin1Char('D'));
        else if (!m_hovering)
            light(QLatin1Char('H'));
        else if (!m_timerMouseTrack.isActive())
            m_timerMouseTrack.start();
    }
    QAbstractButton::mouseMoveEvent(event);
}

void MacButton::mousePressEvent(QMouseEvent *event)
{
    light(QLatin1Char('D'));
    QAbstractButton::mousePressEvent(event);
}

void MacButton::mouseReleaseEvent(QMouseEvent *event)
{
    if (rect().contains(event->position().toPoint()))
        light(QLatin1Char('H'));
    else
        darken();
    QAbstractButton::mouseReleaseEvent(event);
}

void MacButton::leaveEvent(QEvent *event)
{
    // Comes when the pointer leaves, or when a modal window opened over the button takes it.
    darken();
    QAbstractButton::leaveEvent(event);
}

void MacButton::keyPressEvent(QKeyEvent *event)
{
    QWidget::keyPressEvent(event);
}

void MacButton::keyReleaseEvent(QKeyEvent *event)
{
    QWidget::keyReleaseEvent(event);
}
