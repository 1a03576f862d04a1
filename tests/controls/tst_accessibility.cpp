#include "HoverButton.h"
#include "MacButton.h"
#include "MacButtonD.h"
#include "MacCheckBox.h"
#include "MacComboD.h"
#include "MacFrame.h"
#include "MacRadioButton.h"
#include "SkinAccessible.h"

#include <QAccessible>
#include <QSignalSpy>
#include <QTest>

#include <functional>

class tst_Accessibility : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void rolesNamesAndStates_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("caption");     // the control's own caption, if it has one
        QTest::addColumn<QString>("given");       // an accessible name set by the host
        QTest::addColumn<int>("role");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("checkable");
        QTest::newRow("push button, caption") << "MacButton" << "Run" << "" << int(QAccessible::Button) << "Run"
                                              << false;
        QTest::newRow("dark push button, mnemonic") << "MacButtonD" << "Save &As" << "" << int(QAccessible::Button)
                                                    << "Save As" << false;
        QTest::newRow("hover button, host's name wins")
            << "HoverButton" << "Up" << "Shoulder Up" << int(QAccessible::Button) << "Shoulder Up" << false;
        QTest::newRow("swatch without a caption") << "HoverButton" << "" << "" << int(QAccessible::Button) << ""
                                                  << false;
        QTest::newRow("drop button") << "MacComboD" << "Fish && Chips" << "" << int(QAccessible::ButtonDropDown)
                                     << "Fish & Chips" << false;
        QTest::newRow("check box") << "MacCheckBox" << "" << "Highlight Grid" << int(QAccessible::CheckBox)
                                   << "Highlight Grid" << true;
        QTest::newRow("radio button") << "MacRadioButton" << "" << "Interactive" << int(QAccessible::RadioButton)
                                      << "Interactive" << true;
        QTest::newRow("frame") << "MacFrame" << "" << "Toolbox" << int(QAccessible::Grouping) << "Toolbox" << false;
    }
    void rolesNamesAndStates()
    {
        QFETCH(QString, kind);
        QFETCH(QString, caption);
        QFETCH(QString, given);
        QFETCH(int, role);
        QFETCH(QString, name);
        QFETCH(bool, checkable);

        QWidget host;
        QWidget *control = nullptr;
        std::function<void(bool)> check;
        if (kind == u"MacButton" || kind == u"MacButtonD") {
            auto *button = kind == u"MacButton" ? new MacButton(&host) : new MacButtonD(&host);
            button->SetCaption(caption);
            control = button;
        } else if (kind == u"HoverButton") {
            auto *button = new HoverButton(&host);
            button->setCaption(caption);
            control = button;
        } else if (kind == u"MacComboD") {
            auto *combo = new MacComboD(&host);
            combo->SetCaption(caption);
            control = combo;
        } else if (kind == u"MacCheckBox") {
            auto *box = new MacCheckBox(&host);
            check = [box](bool on) { box->SetValue(on ? 1 : 0); };
            control = box;
        } else if (kind == u"MacRadioButton") {
            auto *radio = new MacRadioButton(&host);
            check = [radio](bool on) { radio->SetValue(on); };
            control = radio;
        } else {
            control = new MacFrame(&host);
        }
        if (!given.isEmpty())
            control->setAccessibleName(given);

        // Found as a child of its host, as a screen reader walks the tree.
        QAccessibleInterface *parent = QAccessible::queryAccessibleInterface(&host);
        QAccessibleInterface *iface = nullptr;
        for (int i = 0; i < parent->childCount(); ++i) {
            if (parent->child(i)->object() == control)
                iface = parent->child(i);
        }
        QVERIFY(iface);
        QCOMPARE(int(iface->role()), role);
        QCOMPARE(iface->text(QAccessible::Name), name);
        QCOMPARE(bool(iface->state().checkable), checkable);
        QVERIFY(!iface->state().checked);
        if (check) {
            check(true);
            QVERIFY(iface->state().checked);
            check(false);
            QVERIFY(!iface->state().checked);
        }
        // A disabled control offers nothing to press.
        const QStringList actions = iface->actionInterface()->actionNames();
        const bool pressable = role != QAccessible::Grouping;
        QCOMPARE(actions.contains(QAccessibleActionInterface::pressAction()) ||
                     actions.contains(QAccessibleActionInterface::toggleAction()),
                 pressable);
        control->setEnabled(false);
        QVERIFY(iface->state().disabled);
        QVERIFY(!iface->actionInterface()->actionNames().contains(QAccessibleActionInterface::pressAction()));
    }

    void pressingThroughTheInterfaceClicks()
    {
        QWidget host;
        auto *box = new MacCheckBox(&host);
        auto *button = new MacButton(&host);
        QSignalSpy clicked(button, &MacButton::Click);
        QAccessible::queryAccessibleInterface(box)->actionInterface()->doAction(
            QAccessibleActionInterface::toggleAction());
        QCOMPARE(box->Value(), qint16(1));
        QAccessible::queryAccessibleInterface(button)->actionInterface()->doAction(
            QAccessibleActionInterface::pressAction());
        QCOMPARE(clicked.count(), 1);
    }
};

QTEST_MAIN(tst_Accessibility)
#include "tst_accessibility.moc"
