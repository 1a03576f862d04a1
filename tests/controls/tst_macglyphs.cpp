#include "ControlEvents.h"
#include "MacCheckBox.h"
#include "MacRadioButton.h"

#include <QSignalSpy>
#include <QTest>

using namespace ControlEvents;

class TestMacGlyphs : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void fixedSize();
    void checkBoxValue_data();
    void checkBoxValue();
    void checkBoxMouseToggles();
    void checkBoxLoadKeepsRawValue();
    void checkBoxPersistence_data();
    void checkBoxPersistence();

    void radioSelectByCodeClearsGroup();
    void radioGroupsFollowContainers();
    void radioClickRules();
    void radioPressLooks_data();
    void radioPressLooks();
    void radioLoadRaisesNothing();
    void glyphsIgnoreKeys();
    void disabledLookUnchanged();
};

void TestMacGlyphs::fixedSize()
{
    QWidget host;
    auto *check = new MacCheckBox(&host);
    auto *radio = new MacRadioButton(&host);
    check->resize(40, 40);
    radio->setGeometry(0, 0, 2, 2);
    QCOMPARE(check->size(), QSize(13, 13));
    QCOMPARE(radio->size(), QSize(13, 13));
    // The check box pictures are two rows taller than the control.
    QCOMPARE(check->pictures().picture(QStringLiteral("CheckT")).deviceIndependentSize().toSize(),
             QSize(13, 15));
    QCOMPARE(radio->pictures().picture(QStringLiteral("OptionTD")).deviceIndependentSize().toSize(),
             QSize(13, 13));
}

void TestMacGlyphs::checkBoxValue_data()
{
    QTest::addColumn<int>("initial");
    QTest::addColumn<int>("assigned");
    QTest::addColumn<int>("stored");
    QTest::newRow("5 stores 1") << 0 << 5 << 1;
    QTest::newRow("-1 stores 1") << 0 << -1 << 1;
    QTest::newRow("1 again") << 1 << 1 << 1;
    QTest::newRow("0 again") << 0 << 0 << 0;
    QTest::newRow("clear") << 1 << 0 << 0;
}

void TestMacGlyphs::checkBoxValue()
{
    QFETCH(int, initial);
    QFETCH(int, assigned);
    QFETCH(int, stored);
    MacCheckBox check;
    check.SetValue(initial);
    QSignalSpy clicks(&check, &MacCheckBox::Click);
    check.SetValue(assigned);
    QCOMPARE(int(check.Value()), stored);
    QCOMPARE(clicks.count(), 1);
    QCOMPARE(check.currentPicture(), stored == 1 ? QStringLiteral("CheckT") : QStringLiteral("CheckF"));
}

void TestMacGlyphs::checkBoxMouseToggles()
{
    MacCheckBox check;
    QSignalSpy clicks(&check, &MacCheckBox::Click);
    press(&check, QPoint(6, 6));
    QCOMPARE(check.currentPicture(), QStringLiteral("CheckFD"));
    release(&check, QPoint(6, 6));
    QCOMPARE(check.Value(), qint16(1));
    QCOMPARE(check.currentPicture(), QStringLiteral("CheckT"));
    QCOMPARE(clicks.count(), 1);

    press(&check, QPoint(6, 6));
    QCOMPARE(check.currentPicture(), QStringLiteral("CheckTD"));
    release(&check, QPoint(6, 6));
    QCOMPARE(check.Value(), qint16(0));
    QCOMPARE(check.currentPicture(), QStringLiteral("CheckF"));
    QCOMPARE(clicks.count(), 2);

    // A right button shows the held look but does not toggle.
    press(&check, QPoint(6, 6), Qt::RightButton);
    QCOMPARE(check.currentPicture(), QStringLiteral("CheckFD"));
    release(&check, QPoint(6, 6), Qt::RightButton);
    QCOMPARE(check.Value(), qint16(0));
    QCOMPARE(clicks.count(), 2);
}

void TestMacGlyphs::checkBoxLoadKeepsRawValue()
{
    PropertyBag bag;
    bag.writeProperty(QStringLiteral("Value"), 5);
    MacCheckBox check;
    QSignalSpy clicks(&check, &MacCheckBox::Click);
    check.ReadProperties(bag);
    QCOMPARE(check.Value(), qint16(5));
    QCOMPARE(check.currentPicture(), QStringLiteral("CheckF"));
    QCOMPARE(clicks.count(), 0);
    // The next click sees a value other than 1 and checks the box.
    press(&check, QPoint(3, 3));
    release(&check, QPoint(3, 3));
    QCOMPARE(check.Value(), qint16(1));
}

void TestMacGlyphs::checkBoxPersistence_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<QStringList>("stored");
    QTest::newRow("defaults") << 0 << true << QStringList{};
    QTest::newRow("checked") << 1 << true << QStringList{"Value"};
    QTest::newRow("checked, disabled") << 1 << false << QStringList{"Enabled", "Value"};
}

void TestMacGlyphs::checkBoxPersistence()
{
    QFETCH(int, value);
    QFETCH(bool, enabled);
    QFETCH(QStringList, stored);
    MacCheckBox saved;
    saved.SetValue(value);
    saved.SetEnabled(enabled);
    PropertyBag bag;
    saved.WriteProperties(bag);
    QCOMPARE(bag.names(), stored);
    MacCheckBox loaded;
    loaded.SetValue(1 - value);
    loaded.ReadProperties(PropertyBag::fromJson(bag.toJson()));
    QCOMPARE(int(loaded.Value()), value);
    QCOMPARE(loaded.Enabled(), enabled);
    QCOMPARE(loaded.currentPicture(), value ? QStringLiteral("CheckT") : QStringLiteral("CheckF"));
}

void TestMacGlyphs::radioSelectByCodeClearsGroup()
{
    QWidget host;
    MacRadioButton *radios[3];
    for (auto &radio : radios)
        radio = new MacRadioButton(&host);
    radios[0]->SetValue(true);
    QSignalSpy first(radios[0], &MacRadioButton::Click);
    QSignalSpy second(radios[1], &MacRadioButton::Click);
    QSignalSpy third(radios[2], &MacRadioButton::Click);

    radios[1]->SetValue(true);
    QVERIFY(!radios[0]->Value());
    QVERIFY(radios[1]->Value());
    QCOMPARE(radios[0]->currentPicture(), QStringLiteral("OptionF"));
    QCOMPARE(radios[1]->currentPicture(), QStringLiteral("OptionT"));
    QCOMPARE(first.count(), 0);
    QCOMPARE(second.count(), 1);
    QCOMPARE(third.count(), 0);

    // Selecting it again raises Click again.
    radios[1]->SetValue(true);
    QCOMPARE(second.count(), 2);
    radios[1]->SetValue(false);
    QCOMPARE(second.count(), 2);
    QCOMPARE(radios[1]->currentPicture(), QStringLiteral("OptionF"));
}

void TestMacGlyphs::radioGroupsFollowContainers()
{
    QWidget window;
    auto *left = new QWidget(&window);
    auto *right = new QWidget(&window);
    auto *nested = new QWidget(left);
    auto *a1 = new MacRadioButton(left);
    auto *a2 = new MacRadioButton(left);
    auto *b1 = new MacRadioButton(right);
    auto *b2 = new MacRadioButton(right);
    auto *c1 = new MacRadioButton(nested);
    QCOMPARE(a1->ContainerHwnd(), a2->ContainerHwnd());
    QVERIFY(a1->ContainerHwnd() != b1->ContainerHwnd());
    QVERIFY(a1->hWnd() != a2->hWnd());

    a1->SetValue(true);
    b1->SetValue(true);
    c1->SetValue(true);
    a2->SetValue(true);
    QVERIFY(!a1->Value());
    QVERIFY(a2->Value());
    QVERIFY(b1->Value());
    QVERIFY(c1->Value());
    b2->SetValue(true);
    QVERIFY(!b1->Value());
    QVERIFY(a2->Value());

    // A radio moved into another container joins that group on its next selection.
    a1->setParent(right);
    a1->SetValue(true);
    QVERIFY(!b2->Value());
    QVERIFY(a2->Value());

    // Another window's radio buttons are never touched.
    QWidget otherWindow;
    auto *stranger = new MacRadioButton(&otherWindow);
    stranger->SetValue(true);
    auto *local = new MacRadioButton(&window);
    local->SetValue(true);
    QVERIFY(stranger->Value());
}

void TestMacGlyphs::radioClickRules()
{
    QWidget host;
    auto *first = new MacRadioButton(&host);
    auto *second = new MacRadioButton(&host);
    first->move(0, 0);
    second->move(0, 20);
    host.show();
    QVERIFY(QTest::qWaitForWindowExposed(&host));
    QSignalSpy firstClicks(first, &MacRadioButton::Click);
    QSignalSpy secondClicks(second, &MacRadioButton::Click);

    QTest::mouseClick(first, Qt::LeftButton, {}, QPoint(6, 6));
    QVERIFY(first->Value());
    QCOMPARE(firstClicks.count(), 1);
    QTest::mouseClick(first, Qt::LeftButton, {}, QPoint(6, 6));
    QCOMPARE(firstClicks.count(), 1);
    QVERIFY(first->Value());

    QTest::mouseClick(second, Qt::LeftButton, {}, QPoint(6, 6));
    QVERIFY(second->Value());
    QVERIFY(!first->Value());
    QCOMPARE(firstClicks.count(), 1);
    QCOMPARE(secondClicks.count(), 1);
}

void TestMacGlyphs::radioPressLooks_data()
{
    QTest::addColumn<bool>("selected");
    QTest::addColumn<QString>("held");
    QTest::addColumn<QString>("after");
    QTest::newRow("unselected") << false << QStringLiteral("OptionFD") << QStringLiteral("OptionT");
    QTest::newRow("selected") << true << QStringLiteral("OptionTD") << QStringLiteral("OptionT");
}

void TestMacGlyphs::radioPressLooks()
{
    QFETCH(bool, selected);
    QFETCH(QString, held);
    QFETCH(QString, after);
    MacRadioButton radio;
    radio.SetValue(selected);
    press(&radio, QPoint(6, 6));
    QCOMPARE(radio.currentPicture(), held);
    release(&radio, QPoint(6, 6));
    QCOMPARE(radio.currentPicture(), after);
    QVERIFY(radio.Value());
}

void TestMacGlyphs::radioLoadRaisesNothing()
{
    QWidget host;
    auto *selected = new MacRadioButton(&host);
    auto *loaded = new MacRadioButton(&host);
    selected->SetValue(true);
    PropertyBag bag;
    bag.writeProperty(QStringLiteral("Value"), true, false);
    bag.writeProperty(QStringLiteral("Enabled"), false, true);
    QSignalSpy clicks(loaded, &MacRadioButton::Click);
    loaded->ReadProperties(bag);
    QVERIFY(loaded->Value());
    QVERIFY(!loaded->Enabled());
    QCOMPARE(loaded->currentPicture(), QStringLiteral("OptionT"));
    // Loading neither clears the group nor raises Click.
    QVERIFY(selected->Value());
    QCOMPARE(clicks.count(), 0);

    PropertyBag written;
    loaded->WriteProperties(written);
    QCOMPARE(written.names(), (QStringList{"Enabled", "Value"}));
    PropertyBag cleared;
    selected->SetValue(false);
    selected->WriteProperties(cleared);
    QCOMPARE(cleared.count(), 0);
}

void TestMacGlyphs::glyphsIgnoreKeys()
{
    QWidget host;
    auto *check = new MacCheckBox(&host);
    auto *radio = new MacRadioButton(&host);
    host.show();
    QSignalSpy checkClicks(check, &MacCheckBox::Click);
    QSignalSpy radioClicks(radio, &MacRadioButton::Click);
    for (QWidget *glyph : {static_cast<QWidget *>(check), static_cast<QWidget *>(radio)}) {
        QCOMPARE(glyph->focusPolicy(), Qt::NoFocus);
        QTest::keyClick(glyph, Qt::Key_Space);
        QTest::keyClick(glyph, Qt::Key_Select);
    }
    QCOMPARE(checkClicks.count(), 0);
    QCOMPARE(radioClicks.count(), 0);
    QCOMPARE(check->Value(), qint16(0));
    QVERIFY(!radio->Value());
}

void TestMacGlyphs::disabledLookUnchanged()
{
    MacCheckBox check;
    check.SetValue(1);
    const QImage enabledLook = check.grab().toImage();
    check.SetEnabled(false);
    QCOMPARE(check.grab().toImage(), enabledLook);
    QSignalSpy clicks(&check, &MacCheckBox::Click);
    QTest::mouseClick(&check, Qt::LeftButton, {}, QPoint(6, 6));
    QCOMPARE(clicks.count(), 0);
    QCOMPARE(check.Value(), qint16(1));
}

QTEST_MAIN(TestMacGlyphs)
#include "tst_macglyphs.moc"
