#include "MacCheckBox.h"

#include "SkinAccessible.h"
#include "SkinArt.h"
#include "Twips.h"

#include <QPainter>

namespace {

// The pictures are two rows taller than the control, which shows the top 13.
constexpr int PictureHeight = 15;

void paintCheck(QPainter &painter, const QString &name, const QSize &size)
{
    const bool checked = name.at(5) == QLatin1Char('T');
    const bool held = name.endsWith(QLatin1Char('D'));
    static const SkinArt::Gloss clear{QColor(255, 255, 255), QColor(245, 245, 245), QColor(226, 226, 226),
                                      QColor(246, 246, 246), QColor(128, 128, 128), 170};
    static const SkinArt::Gloss blue{QColor(188, 222, 255), QColor(120, 186, 248), QColor(74, 150, 236),
                                     QColor(150, 208, 255), QColor(42, 58, 140),   170};
    SkinArt::Gloss gloss = checked ? blue : clear;
    if (held)
        gloss = SkinArt::darker(gloss, 118);

    const int side = size.width();
    const QPainterPath box = SkinArt::roundedBox(QRectF(0.5, 0.5, side - 1.0, side - 1.0), 3.0);
    SkinArt::paintDropShadow(painter, box, 30);
    SkinArt::paintGloss(painter, box, gloss);
    if (checked) {
        // The tick's long stroke runs up to the top edge of the picture.
        QPainterPath tick;
        tick.moveTo(3.0, 6.6);
        tick.lineTo(5.6, 9.8);
        tick.lineTo(11.2, 0.4);
        painter.setPen(QPen(held ? QColor(0, 0, 0) : QColor(12, 12, 12), 1.8, Qt::SolidLine, Qt::RoundCap,
                            Qt::RoundJoin));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(tick);
    }
}

} // namespace

MacCheckBox::MacCheckBox(QWidget *parent)
    : SkinToggle(parent, QStringLiteral("MacCheckBox"), QStringLiteral("Check"),
                 QSize(Twips::toPixels(SizeTwips), Twips::toPixels(SizeTwips)),
                 QSize(Twips::toPixels(SizeTwips), PictureHeight), paintCheck)
{
}

MacCheckBox::~MacCheckBox() = default;

void MacCheckBox::SetValue(int value)
{
    m_value = value != 0 ? 1 : 0;
    showState(isOn());
    SkinAccessible::notifyChecked(this);
    Q_EMIT Click();
}

void MacCheckBox::ReadProperties(const PropertyBag &bag)
{
    m_value = qint16(bag.readProperty(QStringLiteral("Value"), 0).toInt());
    showState(isOn());
    setEnabled(bag.readProperty(QStringLiteral("Enabled"), true).toBool());
}

void MacCheckBox::WriteProperties(PropertyBag &bag) const
{
    bag.writeProperty(QStringLiteral("Value"), int(m_value), 0);
    bag.writeProperty(QStringLiteral("Enabled"), Enabled(), true);
}

void MacCheckBox::onClicked()
{
    SetValue(m_value == 1 ? 0 : 1);
}
