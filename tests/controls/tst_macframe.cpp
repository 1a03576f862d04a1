#include "ControlEvents.h"
#include "MacComboD.h"
#include "MacFrame.h"
#include "SkinPicture.h"

#include <QLabel>
#include <QSignalSpy>
#include <QTest>

using namespace ControlEvents;

class TestMacFrame : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void heightRuleInTwips_data();
    void heightRuleInTwips();
    void heightRuleOnWidget_data();
    void heightRuleOnWidget();
    void piecesFollowEdges_data();
    void piecesFollowEdges();
    void mouseMoveTranslation_data();
    void mouseMoveTranslation();
    void heldControlsAreNotReported();
    void childrenPaintAboveFace();
    void framePersistence();

    void comboWidthRule_data();
    void comboWidthRule();
    void comboPressLooks_data();
    void comboPressLooks();
    void comboPersistence();
};

void TestMacFrame::heightRuleInTwips_data()
{
    QTest::addColumn<int>("asked");
    QTest::addColumn<int>("expected");
    QTest::newRow("1000 grows") << 1000 << 1050;
    QTest::newRow("990 stays") << 990 << 990;
    QTest::newRow("0 becomes 90") << 0 << 90;
    QTest::newRow("2600 grows") << 2600 << 2610;
    QTest::newRow("2610 stays") << 2610 << 2610;
    QTest::newRow("30 stays") << 30 << 30;
    QTest::newRow("31 grows a step") << 31 << 90;
    QTest::newRow("29 climbs past") << 29 << 90;
}

void TestMacFrame::heightRuleInTwips()
{
    QFETCH(int, asked);
    QFETCH(int, expected);
    QCOMPARE(MacFrame::adjustedHeightTwips(asked), expected);
}

void TestMacFrame::heightRuleOnWidget_data()
{
    QTest::addColumn<int>("askedPixels");
    QTest::addColumn<int>("expectedPixels");
    QTest::newRow("66 px (990 twips) stays") << 66 << 66;
    QTest::newRow("67 px (1005 twips) grows to 1050") << 67 << 70;
    QTest::newRow("174 px, the settings panel") << 174 << 174;
    QTest::newRow("0 px becomes 90 twips") << 0 << 6;
    QTest::newRow("1 px becomes 90 twips") << 1 << 6;
}

void TestMacFrame::heightRuleOnWidget()
{
    QFETCH(int, askedPixels);
    QFETCH(int, expectedPixels);
    // A hidden widget hears of its size only when shown.
    QWidget host;
    auto *frame = new MacFrame(&host);
    frame->resize(120, askedPixels);
    host.show();
    QCOMPARE(frame->height(), expectedPixels);
    frame->resize(121, askedPixels);
    QCOMPARE(frame->height(), expectedPixels);
    QCOMPARE(frame->width(), 121);
}

void TestMacFrame::piecesFollowEdges_data()
{
    QTest::addColumn<QSize>("size");
    QTest::newRow("settings panel") << QSize(149, 174);
    QTest::newRow("wider than the face") << QSize(900, 50);
    QTest::newRow("tiny") << QSize(5, 2);
}

void TestMacFrame::piecesFollowEdges()
{
    QFETCH(QSize, size);
    for (bool shownFirst : {false, true}) {
        QWidget host;
        auto *frame = new MacFrame(&host);
        if (shownFirst)
            host.show();
        frame->resize(120, 30);
        frame->resize(size);
        host.show();
        const int w = frame->width();
        const int h = frame->height();
        QCOMPARE(frame->picRight()->geometry(), QRect(w - 7, 0, 7, h));
        QCOMPARE(frame->picBottom()->geometry(), QRect(0, h - 8, w, 8));
        QCOMPARE(frame->picCorner()->geometry(), QRect(w - 12, h - 8, 12, 8));
        // The corner lies above both borders.
        QCOMPARE(frame->childAt(w - 1, h - 1), frame->picCorner());
    }
}

void TestMacFrame::mouseMoveTranslation_data()
{
    QTest::addColumn<QString>("piece");
    QTest::addColumn<QPoint>("at");
    QTest::addColumn<float>("x");
    QTest::addColumn<float>("y");
    // A frame 3795 twips (253 px) wide and 1050 twips (70 px) high.
    QTest::newRow("face") << QString() << QPoint(10, 20) << 150.0f << 300.0f;
    QTest::newRow("right border, first column")
        << QStringLiteral("picRight") << QPoint(0, 5) << 3690.0f << 75.0f;
    QTest::newRow("right border, last column")
        << QStringLiteral("picRight") << QPoint(6, 5) << 3780.0f << 75.0f;
    QTest::newRow("bottom border") << QStringLiteral("picBottom") << QPoint(4, 3) << 60.0f << 975.0f;
    QTest::newRow("corner") << QStringLiteral("picCorner") << QPoint(11, 7) << 3780.0f << 1035.0f;
}

void TestMacFrame::mouseMoveTranslation()
{
    QFETCH(QString, piece);
    QFETCH(QPoint, at);
    QFETCH(float, x);
    QFETCH(float, y);
    QWidget host;
    auto *frame = new MacFrame(&host);
    frame->resize(253, 70);
    host.show();
    QWidget *target = piece.isEmpty() ? static_cast<QWidget *>(frame) : frame->findChild<QWidget *>(piece);
    QVERIFY(target);
    QSignalSpy moves(frame, &MacFrame::MouseMove);
    move(target, at, Qt::LeftButton | Qt::RightButton, Qt::ShiftModifier | Qt::AltModifier);
    QCOMPARE(moves.count(), 1);
    const QList<QVariant> args = moves.takeFirst();
    QCOMPARE(args.at(0).toInt(), 3);
    QCOMPARE(args.at(1).toInt(), 5);
    QCOMPARE(args.at(2).toFloat(), x);
    QCOMPARE(args.at(3).toFloat(), y);
    if (piece == QLatin1String("picRight")) {
        QVERIFY(x >= 3795 - 105);
        QVERIFY(x <= 3795);
    }
}

void TestMacFrame::heldControlsAreNotReported()
{
    QWidget host;
    auto *frame = new MacFrame(&host);
    frame->resize(150, 70);
    auto *label = new QLabel(QStringLiteral("Color 1"), frame);
    label->move(20, 20);
    host.show();
    QVERIFY(QTest::qWaitForWindowExposed(&host));
    QSignalSpy moves(frame, &MacFrame::MouseMove);
    // The label ignores the movement, so it bubbles up to the frame.
    move(label, QPoint(3, 3));
    QCOMPARE(moves.count(), 0);
    move(frame, QPoint(3, 3));
    QCOMPARE(moves.count(), 1);
}

void TestMacFrame::childrenPaintAboveFace()
{
    QWidget host;
    auto *frame = new MacFrame(&host);
    frame->resize(100, 50);
    auto *child = new QWidget(frame);
    child->setAutoFillBackground(true);
    QPalette palette = child->palette();
    palette.setColor(QPalette::Window, Qt::red);
    child->setPalette(palette);
    child->setGeometry(10, 10, 20, 20);
    host.show();
    const QImage image = frame->grab().toImage();
    QCOMPARE(image.pixelColor(15, 15), QColor(Qt::red));
    // Elsewhere the face shows its grey stripes.
    const QColor face = image.pixelColor(50, 20);
    QVERIFY(face.red() > 225 && face.red() == face.green() && face.green() == face.blue());
}

void TestMacFrame::framePersistence()
{
    MacFrame frame;
    PropertyBag bag;
    frame.WriteProperties(bag);
    QCOMPARE(bag.count(), 0);
    frame.SetEnabled(false);
    frame.WriteProperties(bag);
    QCOMPARE(bag.readProperty(QStringLiteral("Enabled")), QVariant(false));
    MacFrame loaded;
    loaded.ReadProperties(bag);
    QVERIFY(!loaded.Enabled());
    loaded.ReadProperties(PropertyBag());
    QVERIFY(loaded.Enabled());
}

void TestMacFrame::comboWidthRule_data()
{
    QTest::addColumn<float>("asked");
    QTest::addColumn<float>("expected");
    QTest::addColumn<int>("pixels");
    QTest::newRow("5000 shrinks") << 5000.0f << 3315.0f << 221;
    QTest::newRow("1000 stays") << 1000.0f << 1000.0f << 67;
    QTest::newRow("3315 stays") << 3315.0f << 3315.0f << 221;
    QTest::newRow("no minimum") << 150.0f << 150.0f << 10;
}

void TestMacFrame::comboWidthRule()
{
    QFETCH(float, asked);
    QFETCH(float, expected);
    QFETCH(int, pixels);
    QWidget host;
    auto *combo = new MacComboD(&host);
    host.show();
    combo->SetWidth(asked);
    QCOMPARE(combo->Width(), expected);
    QCOMPARE(combo->width(), pixels);
    combo->SetHeight(900);
    QCOMPARE(combo->Height(), 330.0f);
    QCOMPARE(combo->height(), 22);
    // The arrow button stays docked to the right edge.
    QCOMPARE(combo->pctButton()->geometry(), QRect(pixels - 22, 0, 22, 22));
    // A host resize in pixels is reported in pixels' twips.
    combo->resize(400, 40);
    QCOMPARE(combo->Width(), 3315.0f);
    QCOMPARE(combo->height(), 22);
}

void TestMacFrame::comboPressLooks_data()
{
    QTest::addColumn<QString>("where");
    QTest::newRow("caption") << QStringLiteral("ButtonCaption");
    QTest::newRow("arrow button") << QStringLiteral("pctButton");
    QTest::newRow("field") << QString();
}

void TestMacFrame::comboPressLooks()
{
    QFETCH(QString, where);
    QWidget host;
    auto *combo = new MacComboD(&host);
    combo->SetCaption(QStringLiteral("Arm"));
    host.show();
    QVERIFY(QTest::qWaitForWindowExposed(&host));
    QPoint at(5, 18);
    if (!where.isEmpty()) {
        const QWidget *part = combo->findChild<QWidget *>(where);
        QVERIFY(part);
        at = part->geometry().center();
    }
    QSignalSpy clicks(combo, &MacComboD::Click);
    QTest::mousePress(combo, Qt::LeftButton, {}, at);
    QCOMPARE(combo->pctButton()->pictureName(), QStringLiteral("pctButtonD"));
    QTest::mouseRelease(combo, Qt::LeftButton, {}, at);
    QCOMPARE(combo->pctButton()->pictureName(), QStringLiteral("pctButtonN"));
    QCOMPARE(clicks.count(), 1);
}

void TestMacFrame::comboPersistence()
{
    MacComboD saved;
    saved.SetCaption(QString());
    saved.SetWidth(900);
    PropertyBag bag;
    saved.WriteProperties(bag);
    // The caption is always stored; the height never equals its written default.
    QCOMPARE(bag.names(), (QStringList{"Caption", "Height"}));
    QCOMPARE(bag.readProperty(QStringLiteral("Height")).toFloat(), 330.0f);

    MacComboD loaded;
    loaded.SetCaption(QStringLiteral("before"));
    loaded.ReadProperties(PropertyBag::fromJson(bag.toJson()));
    QCOMPARE(loaded.Caption(), QString());
    // An absent width keeps the current one.
    QCOMPARE(loaded.Width(), 3315.0f);

    bag.writeProperty(QStringLiteral("Width"), 1000.0f, 900.0f);
    loaded.ReadProperties(bag);
    QCOMPARE(loaded.Width(), 1000.0f);
}

QTEST_MAIN(TestMacFrame)
#include "tst_macframe.moc"
