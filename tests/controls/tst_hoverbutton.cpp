#include "ControlEvents.h"
#include "HoverButton.h"
#include "PropertyBag.h"
#include "WinColor.h"

#include <QSignalSpy>
#include <QTest>

using namespace ControlEvents;

class TestHoverButton : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void winColorConversion_data();
    void winColorConversion();
    void captionAndColourFollowState_data();
    void captionAndColourFollowState();
    void paintsTheCurrentColours();
    void indexClicked_data();
    void indexClicked();
    void disablingDropsHover();

    void propertyBagDefaults_data();
    void propertyBagDefaults();
    void propertyBagJsonRoundTrip();
};

void TestHoverButton::winColorConversion_data()
{
    QTest::addColumn<quint32>("value");
    QTest::addColumn<QColor>("color");
    QTest::newRow("idle back") << quint32(14737632) << QColor(224, 224, 224);
    QTest::newRow("idle hover") << quint32(14270893) << QColor(173, 193, 217);
    QTest::newRow("on back") << quint32(6405021) << QColor(157, 187, 97);
    QTest::newRow("on border") << quint32(4754549) << QColor(117, 140, 72);
    QTest::newRow("pure red") << quint32(255) << QColor(255, 0, 0);
    QTest::newRow("pure blue") << quint32(0xFF0000) << QColor(0, 0, 255);
    QTest::newRow("black") << quint32(0) << QColor(0, 0, 0);
}

void TestHoverButton::winColorConversion()
{
    QFETCH(quint32, value);
    QFETCH(QColor, color);
    QCOMPARE(winColorToQColor(value), color);
    QCOMPARE(qColorToWinColor(color), value);
    QCOMPARE(winRgb(color.red(), color.green(), color.blue()), value);
}

void TestHoverButton::captionAndColourFollowState_data()
{
    QTest::addColumn<bool>("entered");
    QTest::addColumn<bool>("pressed");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<quint32>("back");
    QTest::addColumn<quint32>("fore");
    QTest::newRow("idle") << false << false << QStringLiteral("Down") << quint32(1) << quint32(10);
    QTest::newRow("over") << true << false << QStringLiteral("Over") << quint32(2) << quint32(20);
    QTest::newRow("pressed") << true << true << QStringLiteral(" Down") << quint32(2) << quint32(20);
}

void TestHoverButton::captionAndColourFollowState()
{
    QFETCH(bool, entered);
    QFETCH(bool, pressed);
    QFETCH(QString, caption);
    QFETCH(quint32, back);
    QFETCH(quint32, fore);
    HoverButton button;
    button.resize(45, 25);
    button.setCaption(QStringLiteral("Down"));
    button.setCaptionover(QStringLiteral("Over"));
    button.setCaptiondown(QStringLiteral(" Down"));
    button.setBackcolor(1);
    button.setHoverbackcolor(2);
    button.setForecolor(10);
    button.setHoverforecolor(20);
    if (entered)
        enter(&button, QPoint(5, 5));
    if (pressed)
        press(&button, QPoint(5, 5));
    QCOMPARE(button.currentCaption(), caption);
    QCOMPARE(button.currentBackcolor(), back);
    QCOMPARE(button.currentForecolor(), fore);
    leave(&button);
    if (pressed)
        release(&button, QPoint(5, 5));
    QCOMPARE(button.currentCaption(), QStringLiteral("Down"));
    QCOMPARE(button.currentBackcolor(), quint32(1));
}

void TestHoverButton::paintsTheCurrentColours()
{
    HoverButton swatch;
    swatch.resize(17, 17);
    swatch.setBackcolor(11954481);
    swatch.setHoverbackcolor(11954481);
    swatch.setBordercolor(4754549);
    const QImage idle = swatch.grab().toImage();
    QCOMPARE(idle.pixelColor(8, 8), winColorToQColor(11954481));
    QCOMPARE(idle.pixelColor(0, 0), winColorToQColor(4754549));
    QCOMPARE(idle.pixelColor(16, 16), winColorToQColor(4754549));

    // Equal colours keep the swatch's face under the pointer.
    enter(&swatch, QPoint(8, 8));
    QCOMPARE(swatch.grab().toImage().pixelColor(8, 8), winColorToQColor(11954481));

    // The sunken press darkens the top-left inner edge.
    press(&swatch, QPoint(8, 8));
    const QImage down = swatch.grab().toImage();
    QCOMPARE(down.pixelColor(1, 8), winColorToQColor(HoverButton::HoverShadowColor));
    QCOMPARE(down.pixelColor(8, 8), winColorToQColor(11954481));
    release(&swatch, QPoint(8, 8));
}

void TestHoverButton::indexClicked_data()
{
    QTest::addColumn<int>("index");
    QTest::newRow("pause") << 0;
    QTest::newRow("grip open") << 10;
    QTest::newRow("not in an array") << -1;
}

void TestHoverButton::indexClicked()
{
    QFETCH(int, index);
    QWidget host;
    auto *button = new HoverButton(&host);
    button->setGeometry(10, 10, 45, 25);
    if (index >= 0)
        button->setIndex(index);
    host.show();
    QVERIFY(QTest::qWaitForWindowExposed(&host));
    QSignalSpy indexed(button, &HoverButton::indexClicked);
    QSignalSpy clicked(button, &QAbstractButton::clicked);
    QTest::mouseClick(button, Qt::LeftButton);
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(clicked.count(), 2);
    QCOMPARE(indexed.count(), 2);
    QCOMPARE(indexed.at(1).at(0).toInt(), index);
    QTest::mouseClick(button, Qt::RightButton);
    QCOMPARE(indexed.count(), 2);
}

void TestHoverButton::disablingDropsHover()
{
    HoverButton button;
    enter(&button, QPoint(3, 3));
    QVERIFY(button.isHovered());
    button.setEnabled(false);
    QVERIFY(!button.isHovered());
    QCOMPARE(button.currentBackcolor(), button.backcolor());
}

void TestHoverButton::propertyBagDefaults_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QVariant>("defaultValue");
    QTest::addColumn<bool>("stored");
    QTest::newRow("equal text") << QVariant(QStringLiteral("Button")) << QVariant(QStringLiteral("Button"))
                                << false;
    QTest::newRow("other text") << QVariant(QStringLiteral("Save")) << QVariant(QStringLiteral("Button"))
                                << true;
    QTest::newRow("empty text") << QVariant(QString()) << QVariant(QStringLiteral("Button")) << true;
    QTest::newRow("equal bool") << QVariant(true) << QVariant(true) << false;
    QTest::newRow("float against int") << QVariant(345.0f) << QVariant(345) << false;
    QTest::newRow("int against float") << QVariant(330) << QVariant(345.0f) << true;
    QTest::newRow("no default") << QVariant(0) << QVariant() << true;
}

void TestHoverButton::propertyBagDefaults()
{
    QFETCH(QVariant, value);
    QFETCH(QVariant, defaultValue);
    QFETCH(bool, stored);
    PropertyBag bag;
    bag.writeProperty(QStringLiteral("Name"), QStringLiteral("stale"));
    bag.writeProperty(QStringLiteral("Name"), value, defaultValue);
    QCOMPARE(bag.contains(QStringLiteral("Name")), stored);
    const QVariant fallback = defaultValue.isValid() ? defaultValue : QVariant(42);
    const QVariant read = bag.readProperty(QStringLiteral("Name"), fallback);
    if (stored)
        QCOMPARE(read.toString(), value.toString());
    else
        QCOMPARE(read, fallback);
}

void TestHoverButton::propertyBagJsonRoundTrip()
{
    PropertyBag bag;
    bag.writeProperty(QStringLiteral("Caption"), QStringLiteral("Run"));
    bag.writeProperty(QStringLiteral("LongStyle"), true, false);
    bag.writeProperty(QStringLiteral("Width"), 1000.0f, 900.0f);
    const PropertyBag back = PropertyBag::fromJson(bag.toJson());
    QCOMPARE(back.names(), bag.names());
    QCOMPARE(back.readProperty(QStringLiteral("Caption"), QString()).toString(), QStringLiteral("Run"));
    QCOMPARE(back.readProperty(QStringLiteral("LongStyle"), false).toBool(), true);
    // Reading converts to the default's type.
    const QVariant width = back.readProperty(QStringLiteral("Width"), 900.0f);
    QCOMPARE(width.metaType(), QMetaType::fromType<float>());
    QCOMPARE(width.toFloat(), 1000.0f);
    // A stored value that cannot become the default's type reads as the default.
    QCOMPARE(back.readProperty(QStringLiteral("Caption"), QVariant::fromValue(QPoint(1, 2))).toPoint(),
             QPoint(1, 2));
}

QTEST_MAIN(TestHoverButton)
#include "tst_hoverbutton.moc"
