#include "SkinAccessible.h"

#include "HoverButton.h"
#include "MacButton.h"
#include "MacCheckBox.h"
#include "MacComboD.h"
#include "MacFrame.h"
#include "MacRadioButton.h"

#include <QAccessible>

namespace {

QAccessibleInterface *skinFactory(const QString &className, QObject *object)
{
    if (!object || !object->isWidgetType())
        return nullptr;
    auto *widget = static_cast<QWidget *>(object);
    // Asked once per class up the hierarchy; answering for the object's own class is enough.
    if (className != QLatin1StringView(object->metaObject()->className()))
        return nullptr;
    if (qobject_cast<MacCheckBox *>(object))
        return new SkinAccessible(widget, QAccessible::CheckBox);
    if (qobject_cast<MacRadioButton *>(object))
        return new SkinAccessible(widget, QAccessible::RadioButton);
    if (qobject_cast<MacComboD *>(object))
        return new SkinAccessible(widget, QAccessible::ButtonDropDown);
    if (qobject_cast<MacButton *>(object) || qobject_cast<HoverButton *>(object))
        return new SkinAccessible(widget, QAccessible::Button);
    if (qobject_cast<MacFrame *>(object))
        return new SkinAccessible(widget, QAccessible::Grouping);
    return nullptr;
}

QString captionOf(const QWidget *widget)
{
    if (const auto *button = qobject_cast<const MacButton *>(widget))
        return button->Caption();
    if (const auto *button = qobject_cast<const HoverButton *>(widget))
        return button->caption();
    if (const auto *combo = qobject_cast<const MacComboD *>(widget))
        return combo->Caption();
    return {};
}

} // namespace

SkinAccessible::SkinAccessible(QWidget *widget, QAccessible::Role role) : QAccessibleWidget(widget, role) {}

QString SkinAccessible::withoutMnemonic(const QString &caption)
{
    QString spoken;
    spoken.reserve(caption.size());
    for (qsizetype i = 0; i < caption.size(); ++i) {
        // "&&" stands for one "&"; a lone "&" marks the next letter and is not spoken.
        if (caption.at(i) == u'&' && ++i >= caption.size())
            break;
        spoken += caption.at(i);
    }
    return spoken;
}

QString SkinAccessible::text(QAccessible::Text t) const
{
    if (t == QAccessible::Name) {
        if (!widget()->accessibleName().isEmpty())
            return widget()->accessibleName();
        return withoutMnemonic(captionOf(widget()).trimmed());
    }
    return QAccessibleWidget::text(t);
}

QAccessible::State SkinAccessible::state() const
{
    QAccessible::State state = QAccessibleWidget::state();
    if (const auto *box = qobject_cast<const MacCheckBox *>(widget())) {
        state.checkable = true;
        state.checked = box->Value() == 1;
    } else if (const auto *radio = qobject_cast<const MacRadioButton *>(widget())) {
        state.checkable = true;
        state.checked = radio->Value();
    }
    return state;
}

QStringList SkinAccessible::actionNames() const
{
    QStringList names = QAccessibleWidget::actionNames();
    if (role() != QAccessible::Grouping && widget()->isEnabled())
        names.prepend(role() == QAccessible::CheckBox ? toggleAction() : pressAction());
    return names;
}

void SkinAccessible::doAction(const QString &actionName)
{
    auto *button = qobject_cast<QAbstractButton *>(widget());
    if (button && button->isEnabled() && (actionName == pressAction() || actionName == toggleAction())) {
        button->click();
        return;
    }
    QAccessibleWidget::doAction(actionName);
}

void SkinAccessible::install()
{
    static const bool installed = [] {
        QAccessible::installFactory(skinFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

void SkinAccessible::notifyChecked(QWidget *control, bool checkable)
{
    QAccessible::State changed;
    changed.checked = true;
    changed.checkable = checkable;
    QAccessibleStateChangeEvent event(control, changed);
    QAccessible::updateAccessibility(&event);
}

void SkinAccessible::notifyName(QWidget *control)
{
    QAccessibleEvent event(control, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&event);
}
