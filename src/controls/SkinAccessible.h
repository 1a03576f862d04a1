#pragma once

#include <QAccessibleWidget>

// What assistive technology hears of the skinned controls: a role (button, check box, radio button,
// drop button, group), a name (the accessible name when the host gave one, which it must for the
// check box and radio button whose captions are separate labels, else the caption) and the checked
// state. Qt would otherwise call every one of them an unnamed push button.
class SkinAccessible : public QAccessibleWidget
{
public:
    SkinAccessible(QWidget *widget, QAccessible::Role role);

    QString text(QAccessible::Text t) const override;
    QAccessible::State state() const override;
    QStringList actionNames() const override;
    void doAction(const QString &actionName) override;

    // Registers the interfaces with Qt; every skinned control calls it when it is made.
    static void install();
    // Tells a listening screen reader that the control's checked state or name changed.
    static void notifyChecked(QWidget *control, bool checkable = true);
    static void notifyName(QWidget *control);

    // A caption's text as spoken: the & of a mnemonic dropped, && kept as one &.
    static QString withoutMnemonic(const QString &caption);
};
