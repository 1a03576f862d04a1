#include "ColorSchemeHost.h"
#include "HoverButton.h"
#include "MacButton.h"
#include "MacCheckBox.h"
#include "MacFrame.h"
#include "MacRadioButton.h"
#include "frmColorScheme.h"

#include <QFile>
#include <QLabel>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

const QByteArray WorkedExample = "[Highlight]\r\nYes\r\n3\r\n[HighlightColor]\r\n 8421631 \r\n"
                                 "[DeviceID]\r\n\"ARM-01\"\r\n";

QByteArray fileWith(const QByteArray &highlight, const QByteArray &entry, const QByteArray &colour)
{
    return "[Highlight]\r\n" + highlight + "\r\n" + entry + "\r\n[HighlightColor]\r\n" + colour
         + "\r\n[DeviceID]\r\n\"ARM-01\"\r\n";
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

struct Message
{
    QMessageBox::Icon icon;
    QString title;
    QString text;
};

class FakeHost : public ColorSchemeHost
{
public:
    explicit FakeHost(const QString &folder)
        : path(folder + QStringLiteral("/KORIV.INI"))
    {
    }

    void SetHilight(bool on) override
    {
        calls << QStringLiteral("SetHilight(%1)").arg(on);
        hilight = on;
    }
    void SetGridSelectionColor(quint32 winColour) override
    {
        calls << QStringLiteral("SetGridSelectionColor(%1)").arg(winColour);
        colour = winColour;
        // The choice must reach the grid while the dialog is still up.
        dialogVisibleWhenColoured = dialog && dialog->isVisible();
    }
    QString CurrentDevice() const override { return device; }
    QPixmap BackgroundPicture() const override { return background; }
    QString SettingsFilePath() const override { return path; }
    QString SettingsReadPath() const override { return readPath.isEmpty() ? path : readPath; }

    QString path;
    QString readPath;
    QString device = QStringLiteral("ARM-01");
    QPixmap background;
    QStringList calls;
    bool hilight = false;
    quint32 colour = 0;
    QPointer<QWidget> dialog;
    bool dialogVisibleWhenColoured = false;
};

// Stands in for the colour dialog; lives outside the dialog so that it already works while the
// dialog is being built.
struct FakePicker
{
    QList<QColor> startedAt;
    std::optional<QColor> answer;
};

class TestableColorScheme : public frmColorScheme
{
    // Declared first: the references below are bound to it.
    std::shared_ptr<FakePicker> m_picker;

public:
    explicit TestableColorScheme(FakeHost &host,
                                 std::shared_ptr<FakePicker> picker = std::make_shared<FakePicker>())
        : frmColorScheme(host,
                         [picker](const QColor &initial) {
                             picker->startedAt << initial;
                             return picker->answer;
                         })
        , m_picker(std::move(picker))
    {
        host.dialog = this;
    }

    QList<Message> messages;
    QList<QColor> &pickerStartedAt = m_picker->startedAt;
    std::optional<QColor> &nextPick = m_picker->answer;

protected:
    void showMessage(QMessageBox::Icon icon, const QString &title, const QString &text) override
    {
        messages.append({icon, title, text});
    }
};

// The dialog deletes itself on closing; a test that leaves it open tidies up here.
struct DialogGuard
{
    QPointer<TestableColorScheme> dialog;
    ~DialogGuard() { delete dialog.data(); }
};

int chosenRadio(const frmColorScheme &dialog)
{
    const std::array<MacRadioButton *, 5> radios{dialog.optCol1, dialog.optCol2, dialog.optCol3,
                                                 dialog.optCol4, dialog.optCustom};
    int chosen = 0;
    for (int i = 0; i < 5; ++i) {
        if (radios[i]->Value())
            chosen = chosen == 0 ? i + 1 : -1; // -1: more than one is chosen
    }
    return chosen;
}

} // namespace

class TestColorScheme : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void opensWithTheStoredChoice_data()
    {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<int>("radio");
        QTest::addColumn<int>("ticked");
        QTest::addColumn<quint32>("customColour");
        QTest::newRow("no file") << QByteArray() << 1 << 0 << 12632256u;
        QTest::newRow("worked example") << WorkedExample << 3 << 1 << 12632256u;
        QTest::newRow("custom red from the file") << fileWith("No", "5", " 255 ") << 5 << 0 << 255u;
        QTest::newRow("custom with a damaged colour") << fileWith("Yes", "5", " red ") << 5 << 1 << 12632256u;
        QTest::newRow("custom with an empty colour") << fileWith("Yes", "5", "") << 5 << 1 << 0u;
        QTest::newRow("entry 2 with another colour") << fileWith("Yes", "2", " 255 ") << 2 << 1 << 12632256u;
        QTest::newRow("unknown entry keeps preset 1") << fileWith("Yes", "7", " 255 ") << 1 << 1 << 12632256u;
        QTest::newRow("only the first line") << QByteArray("[Highlight]\r\n") << 1 << 0 << 12632256u;
    }
    void opensWithTheStoredChoice()
    {
        QFETCH(QByteArray, contents);
        QTemporaryDir dir;
        FakeHost host(dir.path());
        if (!contents.isEmpty())
            QVERIFY(writeBytes(host.path, contents));

        DialogGuard guard{new TestableColorScheme(host)};
        TestableColorScheme &dialog = *guard.dialog;
        QTEST(chosenRadio(dialog), "radio");
        QTEST(int(dialog.chkHighlightGrid->Value()), "ticked");
        QTEST(dialog.lblCustom->backcolor(), "customColour");
        QTEST(dialog.lblCustom->hoverbackcolor(), "customColour");
        QVERIFY(!dialog.Loading());
        QVERIFY(dialog.pickerStartedAt.isEmpty());
        QVERIFY(host.calls.isEmpty());
    }

    void readsWhereTheHostSays()
    {
        QTemporaryDir dir;
        FakeHost host(dir.path());
        host.readPath = dir.filePath(QStringLiteral("shipped.ini"));
        QVERIFY(writeBytes(host.readPath, fileWith("Yes", "4", " 8454143 ")));
        DialogGuard guard{new TestableColorScheme(host)};
        QCOMPARE(chosenRadio(*guard.dialog), 4);
    }

    void layoutFollowsTheTwipGrid()
    {
        QTemporaryDir dir;
        FakeHost host(dir.path());
        DialogGuard guard{new TestableColorScheme(host)};
        TestableColorScheme &dialog = *guard.dialog;
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Settings"));
        QCOMPARE(dialog.size(), QSize(172, 234));
        QCOMPARE(dialog.MacFrame1->geometry(), QRect(12, 16, 149, 174));
        QCOMPARE(dialog.optCustom->parentWidget(), dialog.MacFrame1);
        QCOMPARE(dialog.optCustom->geometry(), QRect(32, 126, 13, 13));
        QCOMPARE(dialog.lblCustom->geometry(), QRect(52, 124, 17, 17));
        QCOMPARE(dialog.Label17[4]->text(), QStringLiteral("Custom"));
        QCOMPARE(dialog.Label17[4]->y(), dialog.optCustom->y());
        QCOMPARE(dialog.chkHighlightGrid->geometry(), QRect(32, 152, 13, 13));
        QCOMPARE(dialog.lblHighlight->pos(), QPoint(48, 152));
        QCOMPARE(dialog.lblHighlight->height(), 14);
        QVERIFY(dialog.lblHighlight->width() >= 63);
        QVERIFY(dialog.lblHighlight->width() >= dialog.lblHighlight->sizeHint().width());
        QCOMPARE(dialog.cmdSave->geometry(), QRect(12, 200, 73, 23));
        QCOMPARE(dialog.cmdClose->geometry(), QRect(88, 200, 73, 23));
        QCOMPARE(dialog.cmdSave->Caption(), QStringLiteral("Save"));
        QCOMPARE(dialog.lblCol2->backcolor(), 10916490u);
        QCOMPARE(dialog.lblCol4->hoverbackcolor(), 8454143u);
        QVERIFY(dialog.lblCol1->caption().isEmpty());
        QCOMPARE(dialog.lblCol1->bordercolor(), 0u);
        QVERIFY(dialog.lblSC->font().bold());
        QVERIFY(dialog.testAttribute(Qt::WA_DeleteOnClose));
        QVERIFY(!dialog.parentWidget());
    }

    void drawsTheSwatchesAndTheFrame()
    {
        QTemporaryDir dir;
        FakeHost host(dir.path());
        QVERIFY(writeBytes(host.path, fileWith("Yes", "5", " 4227327 ")));
        DialogGuard guard{new TestableColorScheme(host)};
        TestableColorScheme &dialog = *guard.dialog;
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));

        const QImage shot = dialog.grab().toImage();
        const qreal ratio = shot.devicePixelRatio();
        const auto pixel = [&](const QWidget *widget) {
            const QPoint centre = widget->mapTo(&dialog, widget->rect().center());
            return QColor(shot.pixel(qRound(centre.x() * ratio), qRound(centre.y() * ratio)));
        };
        QCOMPARE(pixel(dialog.lblCol1), QColor(49, 105, 182));
        QCOMPARE(pixel(dialog.lblCol3), QColor(255, 128, 128));
        QCOMPARE(pixel(dialog.lblCustom), QColor(255, 128, 64));
        // The frame paints its own face rather than leaving the dialog's background.
        const QColor outside(shot.pixel(qRound(4 * ratio), qRound(4 * ratio)));
        const QPoint inFrame = dialog.MacFrame1->mapTo(&dialog, QPoint(130, 150));
        QVERIFY(QColor(shot.pixel(qRound(inFrame.x() * ratio), qRound(inFrame.y() * ratio))) != outside);

        const QString folder = qEnvironmentVariable("TESSARO_SCREENSHOT_DIR");
        if (!folder.isEmpty())
            QVERIFY(shot.save(folder + QStringLiteral("/colorscheme.png")));
    }

    void swatchesChooseTheirColour()
    {
        QTemporaryDir dir;
        FakeHost host(dir.path());
        DialogGuard guard{new TestableColorScheme(host)};
        TestableColorScheme &dialog = *guard.dialog;

        QTest::mouseClick(dialog.lblCol2, Qt::LeftButton);
        QCOMPARE(chosenRadio(dialog), 2);
        QTest::mouseClick(dialog.lblCol4, Qt::LeftButton);
        QCOMPARE(chosenRadio(dialog), 4);
        QTest::mouseClick(dialog.optCol3, Qt::LeftButton);
        QCOMPARE(chosenRadio(dialog), 3);
        QVERIFY(dialog.pickerStartedAt.isEmpty());
        // Captions next to the radios do not react.
        QTest::mouseClick(dialog.Label17[0], Qt::LeftButton);
        QCOMPARE(chosenRadio(dialog), 3);
        QVERIFY(host.calls.isEmpty());
    }

    void customSwatchOpensThePickerEveryTime()
    {
        QTemporaryDir dir;
        FakeHost host(dir.path());
        DialogGuard guard{new TestableColorScheme(host)};
        TestableColorScheme &dialog = *guard.dialog;

        dialog.nextPick = QColor(10, 20, 30);
        QTest::mouseClick(dialog.lblCustom, Qt::LeftButton);
        QCOMPARE(chosenRadio(dialog), 5);
        QCOMPARE(dialog.pickerStartedAt, QList<QColor>{QColor(192, 192, 192)});
        QCOMPARE(dialog.lblCustom->backcolor(), 0x1E140Au);
        QCOMPARE(dialog.lblCustom->hoverbackcolor(), 0x1E140Au);

        dialog.nextPick = QColor(255, 0, 0);
        QTest::mouseClick(dialog.lblCustom, Qt::LeftButton);
        QCOMPARE(dialog.pickerStartedAt.size(), 2);
        QCOMPARE(dialog.pickerStartedAt.last(), QColor(10, 20, 30));
        QCOMPARE(dialog.lblCustom->backcolor(), 255u);

        // The radio itself does nothing once Custom is chosen ...
        QTest::mouseClick(dialog.optCustom, Qt::LeftButton);
        QCOMPARE(dialog.pickerStartedAt.size(), 2);
        // ... but opens the picker when it chooses Custom.
        QTest::mouseClick(dialog.optCol1, Qt::LeftButton);
        QTest::mouseClick(dialog.optCustom, Qt::LeftButton);
        QCOMPARE(dialog.pickerStartedAt.size(), 3);
        QCOMPARE(chosenRadio(dialog), 5);
        QVERIFY(host.calls.isEmpty());
    }

    void cancellingThePickerKeepsTheColour()
    {
        QTemporaryDir dir;
        FakeHost host(dir.path());
        QVERIFY(writeBytes(host.path, fileWith("No", "2", " 10916490 ")));
        DialogGuard guard{new TestableColorScheme(host)};
        TestableColorScheme &dialog = *guard.dialog;

        dialog.nextPick.reset();
        QTest::mouseClick(dialog.lblCustom, Qt::LeftButton);
        QCOMPARE(dialog.pickerStartedAt.size(), 1);
        QCOMPARE(chosenRadio(dialog), 5);
        QCOMPARE(dialog.lblCustom->backcolor(), 12632256u);

        dialog.nextPick = QColor(0, 0, 255);
        QTest::mouseClick(dialog.lblCustom, Qt::LeftButton);
        dialog.nextPick.reset();
        QTest::mouseClick(dialog.lblCustom, Qt::LeftButton);
        QCOMPARE(dialog.pickerStartedAt.size(), 3);
        QCOMPARE(dialog.lblCustom->backcolor(), 0xFF0000u);
        QCOMPARE(dialog.lblCustom->hoverbackcolor(), 0xFF0000u);
        QCOMPARE(chosenRadio(dialog), 5);
    }

    void highlightCaptionToggles()
    {
        QTemporaryDir dir;
        FakeHost host(dir.path());
        DialogGuard guard{new TestableColorScheme(host)};
        TestableColorScheme &dialog = *guard.dialog;

        QCOMPARE(int(dialog.chkHighlightGrid->Value()), 0);
        QTest::mouseClick(dialog.lblHighlight, Qt::LeftButton);
        QCOMPARE(int(dialog.chkHighlightGrid->Value()), 1);
        QTest::mouseClick(dialog.lblHighlight, Qt::LeftButton);
        QCOMPARE(int(dialog.chkHighlightGrid->Value()), 0);
        QTest::mouseClick(dialog.chkHighlightGrid, Qt::LeftButton);
        QCOMPARE(int(dialog.chkHighlightGrid->Value()), 1);
        QTest::mouseClick(dialog.lblHighlight, Qt::RightButton);
        QCOMPARE(int(dialog.chkHighlightGrid->Value()), 1);
        QVERIFY(host.calls.isEmpty());
    }

    void closeDiscardsTheChoice()
    {
        QTemporaryDir dir;
        FakeHost host(dir.path());
        QVERIFY(writeBytes(host.path, WorkedExample));
        {
            QPointer<TestableColorScheme> dialog = new TestableColorScheme(host);
            dialog->show();
            QTest::mouseClick(dialog->lblCol1, Qt::LeftButton);
            QTest::mouseClick(dialog->lblHighlight, Qt::LeftButton);
            QTest::mouseClick(dialog->cmdClose, Qt::LeftButton);
            QVERIFY(!dialog->isVisible());
            QTRY_VERIFY(dialog.isNull());
        }
        {
            // Closing by the title bar is the same.
            QPointer<TestableColorScheme> dialog = new TestableColorScheme(host);
            dialog->show();
            QTest::mouseClick(dialog->lblCol2, Qt::LeftButton);
            dialog->close();
            QTRY_VERIFY(dialog.isNull());
        }
        QVERIFY(host.calls.isEmpty());
        QCOMPARE(readAll(host.path), WorkedExample);

        DialogGuard again{new TestableColorScheme(host)};
        QCOMPARE(chosenRadio(*again.dialog), 3);
        QCOMPARE(int(again.dialog->chkHighlightGrid->Value()), 1);
    }

    void saveAppliesAtOnceAndWrites_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QString>("click");
        QTest::addColumn<bool>("tick");
        QTest::addColumn<QByteArray>("after");
        QTest::newRow("worked example") << QByteArray() << "lblCol3" << true << WorkedExample;
        QTest::newRow("color 2") << WorkedExample << "lblCol2" << false
                                 << fileWith("Yes", "2", " 10916490 ");
        QTest::newRow("entry 2 comes back into line")
            << fileWith("No", "2", " 255 ") << QString() << false << fileWith("No", "2", " 10916490 ");
        QTest::newRow("custom written back unchanged")
            << fileWith("Yes", "5", " 255 ") << QString() << false << fileWith("Yes", "5", " 255 ");
        QTest::newRow("picked custom") << WorkedExample << "lblCustom" << true
                                       << fileWith("No", "5", " 1971210 ");
    }
    void saveAppliesAtOnceAndWrites()
    {
        QFETCH(QByteArray, before);
        QFETCH(QString, click);
        QFETCH(bool, tick);
        QFETCH(QByteArray, after);
        QTemporaryDir dir;
        FakeHost host(dir.path());
        if (!before.isEmpty())
            QVERIFY(writeBytes(host.path, before));

        QPointer<TestableColorScheme> dialog = new TestableColorScheme(host);
        dialog->show();
        dialog->nextPick = QColor(10, 20, 30);
        if (!click.isEmpty())
            QTest::mouseClick(dialog->findChild<QWidget *>(click), Qt::LeftButton);
        if (tick)
            QTest::mouseClick(dialog->lblHighlight, Qt::LeftButton);
        const bool highlight = dialog->chkHighlightGrid->Value() == 1;
        QCOMPARE(host.calls.size(), 0);

        QTest::mouseClick(dialog->cmdSave, Qt::LeftButton);
        const quint32 colour = dialog->settings().colour;
        QCOMPARE(host.calls, (QStringList{QStringLiteral("SetHilight(%1)").arg(highlight),
                                          QStringLiteral("SetGridSelectionColor(%1)").arg(colour)}));
        QVERIFY(host.dialogVisibleWhenColoured);
        QCOMPARE(readAll(host.path), after);
        QCOMPARE(dialog->messages.size(), 1);
        QCOMPARE(dialog->messages[0].icon, QMessageBox::Information);
        QCOMPARE(dialog->messages[0].title, QStringLiteral("Success"));
        QCOMPARE(dialog->messages[0].text, QStringLiteral("Settings saved."));
        QVERIFY(!dialog->isVisible());
        QTRY_VERIFY(dialog.isNull());
    }

    void saveClearsTheTagAfterConfirming()
    {
        QTemporaryDir dir;
        FakeHost host(dir.path());
        QPointer<TestableColorScheme> dialog = new TestableColorScheme(host);
        dialog->SetTag(QStringLiteral("something"));
        QTest::mouseClick(dialog->cmdSave, Qt::LeftButton);
        QCOMPARE(dialog->messages.size(), 1);
        QCOMPARE(dialog->Tag(), QString());
        QTRY_VERIFY(dialog.isNull());
    }

    void preventMsgSavesSilently()
    {
        QTemporaryDir dir;
        FakeHost host(dir.path());
        host.device = QString();
        QPointer<TestableColorScheme> dialog = new TestableColorScheme(host);
        dialog->show();
        dialog->SetTag(frmColorScheme::PreventMsg);
        QTest::mouseClick(dialog->cmdSave, Qt::LeftButton);

        QVERIFY(dialog->messages.isEmpty());
        QCOMPARE(dialog->Tag(), QStringLiteral("PreventMsg"));
        QCOMPARE(readAll(host.path), fileWith("No", "1", " 11954481 ").replace("\"ARM-01\"", "\"\""));
        QCOMPARE(host.colour, 11954481u);
        QVERIFY(!dialog->isVisible());
        QTRY_VERIFY(dialog.isNull());
    }

    void failedSaveIsReportedAndStillApplied_data()
    {
        QTest::addColumn<QString>("tag");
        QTest::newRow("confirming") << QString();
        QTest::newRow("silent") << frmColorScheme::PreventMsg;
    }
    void failedSaveIsReportedAndStillApplied()
    {
        QFETCH(QString, tag);
        QTemporaryDir dir;
        const QString plainFile = dir.filePath(QStringLiteral("not-a-folder"));
        QVERIFY(writeBytes(plainFile, "x"));
        FakeHost host(plainFile);

        QPointer<TestableColorScheme> dialog = new TestableColorScheme(host);
        dialog->show();
        dialog->SetTag(tag);
        QTest::mouseClick(dialog->lblCol4, Qt::LeftButton);
        QTest::mouseClick(dialog->lblHighlight, Qt::LeftButton);
        QTest::mouseClick(dialog->cmdSave, Qt::LeftButton);

        QCOMPARE(dialog->messages.size(), 1);
        const Message &message = dialog->messages[0];
        QCOMPARE(message.icon, QMessageBox::Critical);
        QCOMPARE(message.title, QStringLiteral("Error"));
        QVERIFY2(message.text.startsWith(QStringLiteral("The settings could not be saved.")),
                 qPrintable(message.text));
        QVERIFY2(message.text.contains(QStringLiteral("not-a-folder")), qPrintable(message.text));
        QVERIFY(host.hilight);
        QCOMPARE(host.colour, 8454143u);
        QCOMPARE(readAll(plainFile), QByteArray("x"));
        QVERIFY(!dialog->isVisible());
        QTRY_VERIFY(dialog.isNull());
    }
};

QTEST_MAIN(TestColorScheme)
#include "tst_colorscheme.moc"
