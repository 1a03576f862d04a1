#include "ControlEvents.h"
#include "MacButton.h"
#include "MacButtonD.h"
#include "MacComboD.h"
#include "WinColor.h"

#include <QLabel>
#include <QSignalSpy>
#include <QTest>

using namespace ControlEvents;

class TestMacButton : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void hostCannotResize_data();
    void hostCannotResize();
    void captionLabelFollowsWidth();
    void longStyleShowsLongNormalPicture();

    void hoverLightsAndPollingStops();
    void pollEdgeRule_data();
    void pollEdgeRule();
    void movementOverCaptionDoesNotLight();
    void pressReleaseLooks_data();
    void pressReleaseLooks();
    void clickOnCaptionRaisesClick();
    void keysNeverClick();
    void ampersandMakesNoShortcut_data();
    void ampersandMakesNoShortcut();
    void disabledCaptionAndPollStillEnds();
    void captionDrawnInItsColour_data();
    void captionDrawnInItsColour();
    void heldButtonLitOnlyOverSurface_data();
    void heldButtonLitOnlyOverSurface();

    void persistence_data();
    void persistence();
    void backdropDiffersBetweenKinds();
    void picturesFollowDevicePixelRatio();
};

void TestMacButton::hostCannotResize_data()
{
    QTest::addColumn<bool>("longStyle");
    QTest::addColumn<QSize>("asked");
    QTest::addColumn<QSize>("expected");
    QTest::newRow("standard, larger") << false << QSize(200, 60) << QSize(73, 23);
    QTest::newRow("standard, smaller") << false << QSize(10, 5) << QSize(73, 23);
    QTest::newRow("long, larger") << true << QSize(300, 40) << QSize(100, 23);
    QTest::newRow("long, standard size") << true << QSize(73, 23) << QSize(100, 23);
}

void TestMacButton::hostCannotResize()
{
    QFETCH(bool, longStyle);
    QFETCH(QSize, asked);
    QFETCH(QSize, expected);
    QWidget host;
    auto *button = new MacButton(&host);
    button->SetLongStyle(longStyle);
    button->resize(asked);
    QCOMPARE(button->size(), expected);
    button->setGeometry(QRect(QPoint(4, 4), asked));
    QCOMPARE(button->size(), expected);
}

void TestMacButton::captionLabelFollowsWidth()
{
    MacButton button;
    // 1095 - 285 = 810 twips and 1500 - 285 = 1215 twips.
    QCOMPARE(button.ButtonCaption()->geometry(), QRect(10, 4, 54, 13));
    button.SetLongStyle(true);
    QCOMPARE(button.ButtonCaption()->geometry(), QRect(10, 4, 81, 13));
    button.SetLongStyle(false);
    QCOMPARE(button.ButtonCaption()->width(), 54);
    QCOMPARE(button.ButtonCaption()->alignment(), Qt::AlignCenter);
}

void TestMacButton::longStyleShowsLongNormalPicture()
{
    MacButton button;
    QCOMPARE(button.currentPicture(), QStringLiteral("pctButtonN"));
    button.SetLongStyle(true);
    QCOMPARE(button.currentPicture(), QStringLiteral("pctLButtonN"));
    QCOMPARE(button.width(), 100);
    const QPixmap longPicture = button.pictures().picture(QStringLiteral("pctLButtonN"));
    QCOMPARE(longPicture.deviceIndependentSize().toSize(), QSize(100, 23));
    QCOMPARE(button.pictures().picture(QStringLiteral("pctButtonD")).deviceIndependentSize().toSize(),
             QSize(73, 23));
}

void TestMacButton::hoverLightsAndPollingStops()
{
    FakeCursor cursor;
    QWidget host;
    auto *button = new MacButton(&host);
    button->move(20, 20);
    host.show();
    QVERIFY(!button->TimerMouseTrack()->isActive());

    cursor.placeOver(button, QPoint(4, 2));
    move(button, QPoint(4, 2));
    QCOMPARE(button->currentPicture(), QStringLiteral("pctButtonH"));
    QVERIFY(button->Hovering());
    QVERIFY(button->TimerMouseTrack()->isActive());
    QCOMPARE(button->TimerMouseTrack()->interval(), 25);

    cursor.placeOver(button, QPoint(-10, 5));
    QTRY_VERIFY(!button->TimerMouseTrack()->isActive());
    QCOMPARE(button->currentPicture(), QStringLiteral("pctButtonN"));
    QVERIFY(!button->Hovering());
}

void TestMacButton::pollEdgeRule_data()
{
    QTest::addColumn<bool>("longStyle");
    QTest::addColumn<QPoint>("pointer");
    QTest::addColumn<bool>("staysLit");
    QTest::newRow("left column") << false << QPoint(0, 10) << false;
    QTest::newRow("top row") << false << QPoint(30, 0) << false;
    QTest::newRow("first inner pixel") << false << QPoint(1, 1) << true;
    QTest::newRow("last inner column") << false << QPoint(72, 10) << true;
    QTest::newRow("last inner row") << false << QPoint(30, 22) << true;
    QTest::newRow("right of the button") << false << QPoint(73, 10) << false;
    QTest::newRow("below the button") << false << QPoint(30, 23) << false;
    QTest::newRow("long, last column") << true << QPoint(99, 10) << true;
    QTest::newRow("long, right of it") << true << QPoint(100, 10) << false;
}

void TestMacButton::pollEdgeRule()
{
    QFETCH(bool, longStyle);
    QFETCH(QPoint, pointer);
    QFETCH(bool, staysLit);
    FakeCursor cursor;
    QWidget host;
    auto *button = new MacButton(&host);
    button->SetLongStyle(longStyle);
    button->move(30, 30);
    host.show();
    move(button, QPoint(3, 2));
    QVERIFY(button->Hovering());

    cursor.placeOver(button, pointer);
    QSignalSpy ticks(button->TimerMouseTrack(), &QTimer::timeout);
    QVERIFY(ticks.wait(1000));
    QCOMPARE(button->Hovering(), staysLit);
    QCOMPARE(button->TimerMouseTrack()->isActive(), staysLit);
    const QString look = longStyle ? QStringLiteral("pctLButton") : QStringLiteral("pctButton");
    QCOMPARE(button->currentPicture(), look + (staysLit ? QLatin1Char('H') : QLatin1Char('N')));
}

void TestMacButton::movementOverCaptionDoesNotLight()
{
    MacButton button;
    move(&button, button.ButtonCaption()->geometry().center());
    QVERIFY(!button.Hovering());
    QVERIFY(!button.TimerMouseTrack()->isActive());
    QCOMPARE(button.currentPicture(), QStringLiteral("pctButtonN"));
}

void TestMacButton::pressReleaseLooks_data()
{
    QTest::addColumn<int>("mouseButton");
    QTest::addColumn<bool>("clicks");
    QTest::newRow("left") << int(Qt::LeftButton) << true;
    QTest::newRow("right") << int(Qt::RightButton) << false;
    QTest::newRow("middle") << int(Qt::MiddleButton) << false;
}

void TestMacButton::pressReleaseLooks()
{
    QFETCH(int, mouseButton);
    QFETCH(bool, clicks);
    const auto which = Qt::MouseButton(mouseButton);
    MacButtonD button;
    QSignalSpy clicked(&button, &MacButton::Click);
    press(&button, QPoint(3, 3), which);
    QCOMPARE(button.currentPicture(), QStringLiteral("pctButtonD"));
    release(&button, QPoint(3, 3), which);
    QCOMPARE(button.currentPicture(), QStringLiteral("pctButtonH"));
    QCOMPARE(clicked.count(), clicks ? 1 : 0);
}

void TestMacButton::clickOnCaptionRaisesClick()
{
    QWidget host;
    auto *button = new MacButton(&host);
    button->SetCaption(QStringLiteral("Save"));
    button->move(10, 10);
    host.show();
    QVERIFY(QTest::qWaitForWindowExposed(&host));
    QSignalSpy clicked(button, &MacButton::Click);
    QTest::mouseClick(button, Qt::LeftButton, {}, button->ButtonCaption()->geometry().center());
    QCOMPARE(clicked.count(), 1);
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(3, 12));
    QCOMPARE(clicked.count(), 2);
}

void TestMacButton::keysNeverClick()
{
    QWidget host;
    auto *button = new MacButton(&host);
    host.show();
    QCOMPARE(button->focusPolicy(), Qt::NoFocus);
    QSignalSpy clicked(button, &MacButton::Click);
    for (Qt::Key key : {Qt::Key_Space, Qt::Key_Return, Qt::Key_Enter, Qt::Key_Select})
        QTest::keyClick(button, key);
    QCOMPARE(clicked.count(), 0);
    QCOMPARE(button->currentPicture(), QStringLiteral("pctButtonN"));
}

namespace {

enum class Kind { Light, Dark, Drop };

QAbstractButton *makeControl(Kind kind, QWidget *host, const QString &caption)
{
    if (kind == Kind::Drop) {
        auto *combo = new MacComboD(host);
        combo->SetCaption(caption);
        return combo;
    }
    auto *button = kind == Kind::Dark ? new MacButtonD(host) : new MacButton(host);
    button->SetCaption(caption);
    return button;
}

} // namespace

void TestMacButton::ampersandMakesNoShortcut_data()
{
    QTest::addColumn<int>("kind");
    QTest::newRow("MacButton") << int(Kind::Light);
    QTest::newRow("MacButtonD") << int(Kind::Dark);
    QTest::newRow("MacComboD") << int(Kind::Drop);
}

void TestMacButton::ampersandMakesNoShortcut()
{
    QFETCH(int, kind);
    QWidget host;
    QAbstractButton *control = makeControl(Kind(kind), &host, QStringLiteral("&Load"));
    host.show();
    host.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&host));
    QSignalSpy clicked(control, &QAbstractButton::clicked);
    QTest::keyClick(&host, Qt::Key_L, Qt::AltModifier);
    // A shortcut would press the control at once and click it a moment later.
    QVERIFY(!control->isDown());
    QCOMPARE(clicked.count(), 0);
    QCOMPARE(control->findChild<QLabel *>(QStringLiteral("ButtonCaption"))->text(), QStringLiteral("&Load"));
}

void TestMacButton::captionDrawnInItsColour_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<QColor>("ink");
    QTest::newRow("MacButton enabled") << int(Kind::Light) << true << QColor(18, 18, 18);
    QTest::newRow("MacButton disabled") << int(Kind::Light) << false << QColor(114, 114, 114);
    QTest::newRow("MacButtonD enabled") << int(Kind::Dark) << true << QColor(18, 18, 18);
    QTest::newRow("MacButtonD disabled") << int(Kind::Dark) << false << QColor(114, 114, 114);
    QTest::newRow("MacComboD") << int(Kind::Drop) << true << QColor(18, 18, 18);
}

void TestMacButton::captionDrawnInItsColour()
{
    QFETCH(int, kind);
    QFETCH(bool, enabled);
    QFETCH(QColor, ink);
    QWidget host;
    QAbstractButton *control = makeControl(Kind(kind), &host, QStringLiteral("HHHH"));
    if (auto *button = qobject_cast<MacButton *>(control))
        button->SetEnabled(enabled);
    // Whole pixels of ink only, so that the darkest pixel is the caption colour itself.
    auto *caption = control->findChild<QLabel *>(QStringLiteral("ButtonCaption"));
    QFont font = caption->font();
    font.setStyleStrategy(QFont::NoAntialias);
    caption->setFont(font);
    host.show();
    QVERIFY(QTest::qWaitForWindowExposed(&host));

    const QImage image = control->grab().toImage();
    const QRect area = caption->geometry();
    QColor darkest(255, 255, 255);
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.lightness() < darkest.lightness())
                darkest = c;
        }
    }
    QCOMPARE(darkest.rgb(), ink.rgb());
}

void TestMacButton::heldButtonLitOnlyOverSurface_data()
{
    QTest::addColumn<QList<QPoint>>("drag"); // moves with the left button held
    QTest::addColumn<QPoint>("releaseAt");
    QTest::addColumn<bool>("litAfter");
    QTest::newRow("released off the button") << QList<QPoint>{{-20, 5}} << QPoint(-20, 5) << false;
    QTest::newRow("moved on outside, released there")
        << QList<QPoint>{{-20, 5}, {-30, 8}, {90, 40}} << QPoint(90, 40) << false;
    QTest::newRow("dragged off and back") << QList<QPoint>{{-20, 5}, {5, 5}} << QPoint(5, 5) << true;
    QTest::newRow("released on the caption") << QList<QPoint>{{-20, 5}} << QPoint(36, 11) << true;
    QTest::newRow("never left") << QList<QPoint>{{6, 6}} << QPoint(6, 6) << true;
}

void TestMacButton::heldButtonLitOnlyOverSurface()
{
    QFETCH(QList<QPoint>, drag);
    QFETCH(QPoint, releaseAt);
    QFETCH(bool, litAfter);
    FakeCursor cursor;
    QWidget host;
    auto *button = new MacButton(&host);
    button->move(40, 40);
    host.show();
    QSignalSpy ticks(button->TimerMouseTrack(), &QTimer::timeout);
    // Whatever is shown, a lit look has a poll running that can take it away.
    const auto consistent = [button] {
        return button->currentPicture().endsWith(QLatin1Char('N')) != button->TimerMouseTrack()->isActive();
    };

    cursor.placeOver(button, QPoint(5, 5));
    move(button, QPoint(5, 5));
    press(button, QPoint(5, 5));
    QCOMPARE(button->currentPicture(), QStringLiteral("pctButtonD"));
    for (const QPoint &at : drag) {
        const QString look =
            button->rect().contains(at) ? QStringLiteral("pctButtonD") : QStringLiteral("pctButtonN");
        cursor.placeOver(button, at);
        move(button, at, Qt::LeftButton);
        QCOMPARE(button->currentPicture(), look);
        QVERIFY(consistent());
        // Also once the poll has seen the pointer where it now is.
        if (button->TimerMouseTrack()->isActive())
            QVERIFY(ticks.wait(1000));
        QCOMPARE(button->currentPicture(), look);
    }
    cursor.placeOver(button, releaseAt);
    release(button, releaseAt);
    QCOMPARE(button->currentPicture(), litAfter ? QStringLiteral("pctButtonH") : QStringLiteral("pctButtonN"));
    QCOMPARE(button->Hovering(), litAfter);
    QVERIFY(consistent());
}

void TestMacButton::disabledCaptionAndPollStillEnds()
{
    FakeCursor cursor;
    QWidget host;
    auto *button = new MacButton(&host);
    host.show();
    const auto captionColour = [button] {
        return qColorToWinColor(button->ButtonCaption()->palette().color(QPalette::WindowText));
    };
    QCOMPARE(captionColour(), MacButton::CaptionColor);

    cursor.placeOver(button, QPoint(5, 5));
    move(button, QPoint(3, 2));
    button->SetEnabled(false);
    QVERIFY(!button->Enabled());
    QCOMPARE(captionColour(), quint32(7500402));
    QCOMPARE(button->currentPicture(), QStringLiteral("pctButtonH"));

    cursor.placeOver(button, QPoint(-1, -1));
    QTRY_COMPARE(button->currentPicture(), QStringLiteral("pctButtonN"));

    // A disabled container leaves the button's own flag, and its caption, alone.
    button->SetEnabled(true);
    QCOMPARE(captionColour(), quint32(1184274));
    host.setEnabled(false);
    QVERIFY(button->Enabled());
    QCOMPARE(captionColour(), quint32(1184274));
}

void TestMacButton::persistence_data()
{
    QTest::addColumn<QString>("caption");
    QTest::addColumn<bool>("longStyle");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<QStringList>("stored");
    QTest::newRow("all defaults") << QStringLiteral("Button") << false << true << QStringList{};
    QTest::newRow("caption only") << QStringLiteral("Close") << false << true << QStringList{"Caption"};
    QTest::newRow("long and disabled")
        << QStringLiteral("Button") << true << false << QStringList{"Enabled", "LongStyle"};
    QTest::newRow("empty caption") << QString() << false << true << QStringList{"Caption"};
}

void TestMacButton::persistence()
{
    QFETCH(QString, caption);
    QFETCH(bool, longStyle);
    QFETCH(bool, enabled);
    QFETCH(QStringList, stored);
    MacButton saved;
    saved.SetCaption(caption);
    saved.SetLongStyle(longStyle);
    saved.SetEnabled(enabled);
    PropertyBag bag;
    saved.WriteProperties(bag);
    QCOMPARE(bag.names(), stored);

    MacButton loaded;
    loaded.SetCaption(QStringLiteral("Something else"));
    loaded.ReadProperties(PropertyBag::fromJson(bag.toJson()));
    QCOMPARE(loaded.Caption(), caption);
    QCOMPARE(loaded.LongStyle(), longStyle);
    QCOMPARE(loaded.Enabled(), enabled);
    QCOMPARE(loaded.width(), longStyle ? 100 : 73);
    QCOMPARE(loaded.currentPicture(),
             longStyle ? QStringLiteral("pctLButtonN") : QStringLiteral("pctButtonN"));
    QCOMPARE(qColorToWinColor(loaded.ButtonCaption()->palette().color(QPalette::WindowText)),
             enabled ? MacButton::CaptionColor : MacButton::DisabledCaptionColor);
}

void TestMacButton::backdropDiffersBetweenKinds()
{
    MacButton light;
    MacButtonD dark;
    const auto corner = [](const MacButton &button, const char *name, int y) {
        const QImage image = button.pictures().picture(QLatin1String(name)).toImage();
        return image.pixelColor(0, y * image.height() / 23);
    };
    QCOMPARE(corner(light, "pctButtonN", 0), QColor(238, 238, 238));
    QCOMPARE(corner(light, "pctButtonN", 22), QColor(243, 243, 243));
    QCOMPARE(corner(dark, "pctButtonH", 0), QColor(228, 228, 228));
    QCOMPARE(corner(dark, "pctLButtonD", 0), QColor(230, 230, 230));
    QCOMPARE(corner(dark, "pctLButtonD", 22), QColor(230, 230, 230));

    // The middle of each face carries the look's colour.
    const QColor hoverMiddle =
        light.pictures().picture(QStringLiteral("pctButtonH")).toImage().pixelColor(36, 12);
    QVERIFY2(qAbs(hoverMiddle.blue() - 250) < 12 && hoverMiddle.blue() > hoverMiddle.red() + 80,
             qPrintable(hoverMiddle.name()));
}

void TestMacButton::picturesFollowDevicePixelRatio()
{
    SkinPictures pictures(QStringLiteral("test"), {{QStringLiteral("a"), QSize(73, 23)}},
                          [](QPainter &, const QString &, const QSize &) {});
    pictures.ensure(1.0);
    pictures.ensure(1.0);
    QCOMPARE(pictures.renderCount(), 1);
    pictures.ensure(2.0);
    QCOMPARE(pictures.renderCount(), 2);
    const QPixmap twice = pictures.picture(QStringLiteral("a"));
    QCOMPARE(twice.size(), QSize(146, 46));
    QCOMPARE(twice.devicePixelRatio(), 2.0);

    MacButton button;
    const int before = button.pictures().renderCount();
    button.repaint();
    button.repaint();
    QCOMPARE(button.pictures().renderCount(), before);
}

QTEST_MAIN(TestMacButton)
#include "tst_macbutton.moc"
