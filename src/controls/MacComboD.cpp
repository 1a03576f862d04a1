#include "MacComboD.h"

#include "SkinAccessible.h"
#include "SkinArt.h"
#include "SkinPicture.h"
#include "Twips.h"
#include "WinColor.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPainter>

namespace {

constexpr int FieldWidth = 199;
constexpr int FieldHeight = 22;

void paintArrow(QPainter &painter, QPointF tip, qreal halfWidth, qreal height, QColor color)
{
    QPainterPath arrow;
    arrow.moveTo(tip);
    arrow.lineTo(tip.x() - halfWidth, tip.y() + height);
    arrow.lineTo(tip.x() + halfWidth, tip.y() + height);
    arrow.closeSubpath();
    painter.fillPath(arrow, color);
}

void paintComboPicture(QPainter &painter, const QString &name, const QSize &size)
{
    if (name == QLatin1String("Field")) {
        // The field runs on under the arrow button, so only its left end is rounded.
        static const SkinArt::Gloss field{QColor(255, 255, 255), QColor(250, 250, 250), QColor(238, 238, 238),
                                          QColor(248, 248, 248), QColor(146, 146, 146), 90};
        const QPainterPath shape =
            SkinArt::roundedBox(QRectF(0.5, 0.5, size.width() + 8.0, size.height() - 1.0), 4.0);
        SkinArt::paintGloss(painter, shape, field);
        return;
    }
    static const SkinArt::Gloss blue{QColor(188, 222, 255), QColor(124, 188, 248), QColor(80, 154, 238),
                                     QColor(150, 208, 255), QColor(40, 56, 140),   170};
    const bool pressed = name == QLatin1String("pctButtonD");
    const QPainterPath shape =
        SkinArt::roundedBox(QRectF(0.5, 0.5, size.width() - 1.0, size.height() - 1.0), 4.0);
    SkinArt::paintGloss(painter, shape, pressed ? SkinArt::darker(blue, 122) : blue);
    const QColor ink = pressed ? QColor(8, 14, 40) : QColor(20, 30, 70);
    const qreal middle = size.width() / 2.0;
    paintArrow(painter, QPointF(middle, 5.5), 3.5, 4.0, ink);
    paintArrow(painter, QPointF(middle, 16.0), 3.5, -4.0, ink);
}

} // namespace

MacComboD::MacComboD(QWidget *parent) : QAbstractButton(parent)
{
    SkinAccessible::install();
    const int buttonSide = Twips::toPixels(ButtonTwips);
    m_pictures = std::make_unique<SkinPictures>(
        QStringLiteral("MacComboD"),
        std::vector<SkinPictures::Holder>{{QStringLiteral("Field"), QSize(FieldWidth, FieldHeight)},
                                          {QStringLiteral("pctButtonN"), QSize(buttonSide, buttonSide)},
                                          {QStringLiteral("pctButtonD"), QSize(buttonSide, buttonSide)}},
        paintComboPicture);

    setFocusPolicy(Qt::NoFocus);

    m_pctButton = new SkinPicture(this);
    m_pctButton->setObjectName(QStringLiteral("pctButton"));
    m_pctButton->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_pctButton->resize(buttonSide, buttonSide);

    m_buttonCaption = new QLabel(this);
    m_buttonCaption->setObjectName(QStringLiteral("ButtonCaption"));
    m_buttonCaption->setAttribute(Qt::WA_TransparentForMouseEvents);
    // Inside a button a label would take the button-text role and ignore its caption colour.
    m_buttonCaption->setForegroundRole(QPalette::WindowText);
    m_buttonCaption->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_buttonCaption->setGeometry(Twips::toPixels(150), Twips::toPixels(60), Twips::toPixels(2670),
                                 Twips::toPixels(195));
    QFont face(QStringLiteral("Arial"));
    face.setPointSizeF(8.25);
    m_buttonCaption->setFont(face);
    QPalette palette = m_buttonCaption->palette();
    palette.setColor(QPalette::WindowText, winColorToQColor(CaptionColor));
    m_buttonCaption->setPalette(palette);

    connect(this, &QAbstractButton::clicked, this, &MacComboD::Click);

    setFixedHeight(Twips::toPixels(HeightTwips));
    setMaximumWidth(Twips::toPixels(MaxWidthTwips));
    setMinimumWidth(0);
    m_widthTwips = float(MaxWidthTwips);
    resize(Twips::toPixels(MaxWidthTwips), Twips::toPixels(HeightTwips));
    m_pictures->ensure(devicePixelRatioF());
    showButton(QStringLiteral("pctButtonN"));
}

MacComboD::~MacComboD() = default;

float MacComboD::adjustedWidthTwips(float widthTwips)
{
    // No lower bound beyond zero, which no widget can go below.
    return qBound(0.0f, widthTwips, float(MaxWidthTwips));
}

float MacComboD::Height() const
{
    return float(Twips::fromPixels(height()));
}

void MacComboD::SetHeight(float heightTwips)
{
    // The height is fixed; asking for another one changes nothing.
    resize(width(), Twips::toPixels(double(heightTwips)));
}

float MacComboD::Width() const
{
    if (Twips::toPixels(double(m_widthTwips)) == width())
        return m_widthTwips;
    return float(Twips::fromPixels(width()));
}

void MacComboD::SetWidth(float widthTwips)
{
    m_widthTwips = adjustedWidthTwips(widthTwips);
    resize(Twips::toPixels(double(m_widthTwips)), height());
}

QString MacComboD::Caption() const
{
    return m_buttonCaption->text();
}

void MacComboD::SetCaption(const QString &caption)
{
    m_buttonCaption->setText(caption);
    setText(caption);
    // The control takes no keyboard input, so an "&" in the caption is just a character.
    setShortcut(QKeySequence());
    SkinAccessible::notifyName(this);
}

void MacComboD::ReadProperties(const PropertyBag &bag)
{
    SetCaption(bag.readProperty(QStringLiteral("Caption"), Caption()).toString());
    SetHeight(bag.readProperty(QStringLiteral("Height"), Height()).toFloat());
    SetWidth(bag.readProperty(QStringLiteral("Width"), Width()).toFloat());
}

void MacComboD::WriteProperties(PropertyBag &bag) const
{
    bag.writeProperty(QStringLiteral("Caption"), Caption());
    bag.writeProperty(QStringLiteral("Height"), Height(), 345.0f);
    bag.writeProperty(QStringLiteral("Width"), Width(), 900.0f);
}

void MacComboD::showButton(const QString &name)
{
    m_pctButton->setPicture(m_pictures->picture(name), name);
}

void MacComboD::paintEvent(QPaintEvent *)
{
    if (!qFuzzyCompare(m_pictures->devicePixelRatio(), devicePixelRatioF())) {
        m_pictures->ensure(devicePixelRatioF());
        showButton(m_pctButton->pictureName());
    }
    QPainter painter(this);
    painter.drawPixmap(0, 0, m_pictures->picture(QStringLiteral("Field")));
}

void MacComboD::resizeEvent(QResizeEvent *event)
{
    QAbstractButton::resizeEvent(event);
    if (Twips::toPixels(double(m_widthTwips)) != width())
        m_widthTwips = float(Twips::fromPixels(width()));
    m_pctButton->move(width() - m_pctButton->width(), 0);
}

void MacComboD::mousePressEvent(QMouseEvent *event)
{
    showButton(QStringLiteral("pctButtonD"));
    QAbstractButton::mousePressEvent(event);
}

void MacComboD::mouseReleaseEvent(QMouseEvent *event)
{
    showButton(QStringLiteral("pctButtonN"));
    QAbstractButton::mouseReleaseEvent(event);
}

void MacComboD::keyPressEvent(QKeyEvent *event)
{
    QWidget::keyPressEvent(event);
}

void MacComboD::keyReleaseEvent(QKeyEvent *event)
{
    QWidget::keyReleaseEvent(event);
}
