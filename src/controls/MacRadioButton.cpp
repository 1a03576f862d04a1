#include "MacRadioButton.h"

#include "SkinAccessible.h"
#include "SkinArt.h"
#include "Twips.h"

#include <QPainter>

namespace {

void paintOption(QPainter &painter, const QString &name, const QSize &size)
{
    const bool selected = name.at(6) == QLatin1Char('T');
    const bool held = name.endsWith(QLatin1Char('D'));
    static const SkinArt::Gloss clear{QColor(255, 255, 255), QColor(245, 245, 245), QColor(226, 226, 226),
                                      QColor(246, 246, 246), QColor(128, 128, 128), 170};
    static const SkinArt::Gloss blue{QColor(188, 222, 255), QColor(120, 186, 248), QColor(74, 150, 236),
                                     QColor(150, 208, 255), QColor(42, 58, 140),   170};
    SkinArt::Gloss gloss = selected ? blue : clear;
    if (held)
        gloss = SkinArt::darker(gloss, 118);

    const QPainterPath disc = SkinArt::roundedBox(QRectF(0.5, 0.5, size.width() - 1.0, size.height() - 1.0),
                                                  (size.width() - 1.0) / 2);
    SkinArt::paintGloss(painter, disc, gloss);
    if (selected) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(held ? QColor(10, 16, 40) : QColor(22, 30, 64));
        painter.drawEllipse(QPointF(size.width() / 2.0, size.height() / 2.0), 2.2, 2.2);
    }
}

} // namespace

MacRadioButton::MacRadioButton(QWidget *parent)
    : SkinToggle(parent, QStringLiteral("MacRadioButton"), QStringLiteral("Option"),
                 QSize(Twips::toPixels(SizeTwips), Twips::toPixels(SizeTwips)),
                 QSize(Twips::toPixels(SizeTwips), Twips::toPixels(SizeTwips)), paintOption)
{
}

MacRadioButton::~MacRadioButton() = default;

void MacRadioButton::SetValue(bool value)
{
    m_value = value;
    if (value) {
        const QList<MacRadioButton *> radios = window()->findChildren<MacRadioButton *>();
        for (MacRadioButton *other : radios) {
            if (other->ContainerHwnd() == ContainerHwnd() && other->hWnd() != hWnd())
                other->SetValue(false);
        }
    }
    showState(value);
    SkinAccessible::notifyChecked(this);
    if (m_value)
        Q_EMIT Click();
}

void MacRadioButton::ReadProperties(const PropertyBag &bag)
{
    m_value = bag.readProperty(QStringLiteral("Value"), false).toBool();
    showState(m_value);
    setEnabled(bag.readProperty(QStringLiteral("Enabled"), true).toBool());
}

void MacRadioButton::WriteProperties(PropertyBag &bag) const
{
    bag.writeProperty(QStringLiteral("Value"), m_value, false);
    bag.writeProperty(QStringLiteral("Enabled"), Enabled(), true);
}

void MacRadioButton::onClicked()
{
    // A click on the selected button changes nothing and raises nothing.
    if (m_value)
        return;
    SetValue(true);
}
