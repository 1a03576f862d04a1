#include "ColorSchemeHost.h"
#include "HoverButton.h"
#include "MacButton.h"
#include "MacCheckBox.h"
#include "MacFrame.h"
#include "MacRadioButton.h"
#include "frmColorScheme.h"

#include <QApplication>
#include <QColorDialog>
#include <QFile>
#include <QLabel>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

QByteArray fileWith(const QByteArray &highlight, const QByteArray &entry, const QByteArray &colour,
                    const QByteArray &device = "ARM-01")
{
    return "[Highlight]\r\n" + highlight + "\r\n" + entry + "\r\n[HighlightColor]\r\n" + colour +
           "\r\n[DeviceID]\r\n\"" + device + "\"\r\n";
}
const QByteArray WorkedExample = fileWith("Yes", "3", " 8421631 ");

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

// Its settings file lives in a fresh temporary folder unless another folder is given.
class FakeHost : public ColorSchemeHost
{
public:
    explicit FakeHost(const QString &folder = {})
        : path((folder.isEmpty() ? dir.path() : folder) + QStringLiteral("/KORIV.INI"))
    {
    }

    void SetHilight(bool on) override { calls << QStringLiteral("SetHilight(%1)").arg(on); }
    void SetGridSelectionColor(quint32 winColour) override
    {
        calls << QStringLiteral("SetGridSelectionColor(%1)").arg(winColour);
        dialogUpWhenColoured = dialog && dialog->isVisible();
    }
    QString CurrentDevice() const override { return device; }
    QPixmap BackgroundPicture() const override { return {}; }
    QString SettingsFilePath() const override { return path; }
    QString SettingsReadPath() const override { return readPath.isEmpty() ? path : readPath; }

    QTemporaryDir dir;
    QString path;
    QString readPath;
    QString device = QStringLiteral("ARM-01");
    QStringList calls;
    QPointer<QWidget> dialog;
    bool dialogUpWhenColoured = false;
};

// The colour dialog's stand-in lives outside the dialog, so it already works while the dialog loads.
struct FakePicker
{
    QList<QColor> openedAt;
    std::optional<QColor> answer;
};

class Dialog : public frmColorScheme
{
public:
    explicit Dialog(FakeHost &host, std::shared_ptr<FakePicker> picker = std::make_shared<FakePicker>())
        : frmColorScheme(host,
                         [picker](const QColor &initial) {
                             picker->openedAt << initial;
                             return picker->answer;
                         }),
          picker(std::move(picker))
    {
        host.dialog = this;
    }
    int chosen() const
    {
        int found = 0, number = 0; // -1: more than one
        for (const MacRadioButton *radio : {optCol1, optCol2, optCol3, optCol4, optCustom}) {
            ++number;
            if (radio->Value())
                found = found == 0 ? number : -1;
        }
        return found;
    }

    std::shared_ptr<FakePicker> picker;
    QStringList messages;

protected:
    void showMessage(QMessageBox::Icon icon, const QString &title, const QString &text) override
    {
        messages << QStringLiteral("%1|%2|%3").arg(int(icon)).arg(title, text);
    }
};

// Closing deletes the dialog; one a test leaves open is deleted here.
struct Open
{
    explicit Open(FakeHost &host) : dialog(new Dialog(host)) { dialog->show(); }
    ~Open() { delete dialog.data(); }
    Dialog *operator->() const { return dialog.data(); }
    QPointer<Dialog> dialog;
};

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
        QTest::newRow("custom red, no picker") << fileWith("No", "5", " 255 ") << 5 << 0 << 255u;
        QTest::newRow("custom, damaged colour") << fileWith("Yes", "5", " red ") << 5 << 1 << 12632256u;
        QTest::newRow("unknown entry keeps preset 1") << fileWith("Yes", "7", " 255 ") << 1 << 1 << 12632256u;
        QTest::newRow("only the first line") << QByteArray("[Highlight]\r\n") << 1 << 0 << 12632256u;
    }
    void opensWithTheStoredChoice()
    {
        QFETCH(QByteArray, contents);
        FakeHost host;
        if (!contents.isEmpty())
            QVERIFY(writeBytes(host.path, contents));
        Open dialog(host);
        QTEST(dialog->chosen(), "radio");
        QTEST(int(dialog->chkHighlightGrid->Value()), "ticked");
        QTEST(dialog->lblCustom->backcolor(), "customColour");
        QTEST(dialog->lblCustom->hoverbackcolor(), "customColour");
        QVERIFY(dialog->picker->openedAt.isEmpty());
        QVERIFY(!dialog->Loading() && host.calls.isEmpty());

        // The dialog reads where the host says, which may differ from where it writes.
        host.readPath = host.dir.filePath(QStringLiteral("shipped.ini"));
        QVERIFY(writeBytes(host.readPath, fileWith("Yes", "4", " 8454143 ")));
        QCOMPARE(Open(host)->chosen(), 4);
    }

    void layoutAndLook()
    {
        FakeHost host;
        QVERIFY(writeBytes(host.path, fileWith("Yes", "5", " 4227327 ")));
        Open dialog(host);
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Settings"));
        QCOMPARE(dialog->size(), QSize(172, 234));
        QCOMPARE(dialog->MacFrame1->geometry(), QRect(12, 16, 149, 174));
        QCOMPARE(dialog->optCustom->geometry(), QRect(32, 126, 13, 13));
        QCOMPARE(dialog->lblCustom->geometry(), QRect(52, 124, 17, 17));
        QCOMPARE(dialog->lblHighlight->pos(), QPoint(48, 152));
        QVERIFY(dialog->lblHighlight->width() >= dialog->lblHighlight->sizeHint().width());
        QCOMPARE(dialog->cmdClose->geometry(), QRect(88, 200, 73, 23));
        QVERIFY(!dialog->parentWidget() && dialog->testAttribute(Qt::WA_DeleteOnClose));

        QVERIFY(QTest::qWaitForWindowExposed(dialog.dialog));
        const QImage shot = dialog->grab().toImage();
        const auto pixel = [&](QPoint point) {
            const qreal ratio = shot.devicePixelRatio();
            return QColor(shot.pixel(qRound(point.x() * ratio), qRound(point.y() * ratio)));
        };
        const auto centre = [&](QWidget *w) { return w->mapTo(dialog.dialog, w->rect().center()); };
        QCOMPARE(pixel(centre(dialog->lblCol1)), QColor(49, 105, 182));
        QCOMPARE(pixel(centre(dialog->lblCol3)), QColor(255, 128, 128));
        QCOMPARE(pixel(centre(dialog->lblCustom)), QColor(255, 128, 64));
        QVERIFY(pixel(dialog->MacFrame1->mapTo(dialog.dialog, QPoint(130, 150))) != pixel(QPoint(4, 4)));
        const QString folder = qEnvironmentVariable("TESSARO_SCREENSHOT_DIR");
        if (!folder.isEmpty())
            QVERIFY(shot.save(folder + QStringLiteral("/colorscheme.png")));
    }

    void swatchesAndThePicker()
    {
        FakeHost host;
        Open dialog(host);
        QList<QColor> &opened = dialog->picker->openedAt;
        QTest::mouseClick(dialog->lblCol2, Qt::LeftButton);
        QCOMPARE(dialog->chosen(), 2);
        QTest::mouseClick(dialog->Label17[3], Qt::LeftButton); // captions do not react
        QCOMPARE(dialog->chosen(), 2);

        dialog->picker->answer = QColor(10, 20, 30);
        QTest::mouseClick(dialog->lblCustom, Qt::LeftButton);
        QCOMPARE(dialog->chosen(), 5);
        QCOMPARE(opened, QList<QColor>{QColor(192, 192, 192)});
        QCOMPARE(dialog->lblCustom->backcolor(), 0x1E140Au);
        QCOMPARE(dialog->lblCustom->hoverbackcolor(), 0x1E140Au);

        // With Custom chosen, the swatch opens the picker again but the radio does not.
        dialog->picker->answer.reset();
        QTest::mouseClick(dialog->lblCustom, Qt::LeftButton);
        QCOMPARE(opened.size(), 2);
        QCOMPARE(opened.last(), QColor(10, 20, 30));
        QTest::mouseClick(dialog->optCustom, Qt::LeftButton);
        QCOMPARE(opened.size(), 2);
        // Cancelling kept Custom and its colour.
        QCOMPARE(dialog->chosen(), 5);
        QCOMPARE(dialog->lblCustom->backcolor(), 0x1E140Au);

        QTest::mouseClick(dialog->optCol1, Qt::LeftButton);
        QTest::mouseClick(dialog->optCustom, Qt::LeftButton);
        QCOMPARE(opened.size(), 3);

        // The highlight caption toggles the box on left clicks only.
        for (const auto &[button, ticked] :
             {std::pair{Qt::LeftButton, 1}, {Qt::RightButton, 1}, {Qt::LeftButton, 0}}) {
            QTest::mouseClick(dialog->lblHighlight, button);
            QCOMPARE(int(dialog->chkHighlightGrid->Value()), ticked);
        }
        QVERIFY(host.calls.isEmpty());
    }

    void systemPickerAcceptsAndCancels()
    {
        FakeHost host;
        const QPointer<frmColorScheme> dialog = new frmColorScheme(host);
        dialog->show();
        for (const bool accept : {true, false}) {
            QColor shownFirst;
            QTimer::singleShot(0, dialog, [accept, &shownFirst] {
                if (auto *picker = qobject_cast<QColorDialog *>(QApplication::activeModalWidget())) {
                    shownFirst = picker->currentColor();
                    picker->setCurrentColor(QColor(accept ? 1 : 200, 2, 3));
                    accept ? picker->accept() : picker->reject();
                }
            });
            QTest::mouseClick(dialog->lblCustom, Qt::LeftButton);
            QCOMPARE(shownFirst, accept ? QColor(192, 192, 192) : QColor(1, 2, 3));
            QCOMPARE(dialog->lblCustom->backcolor(), 0x030201u);
        }
        delete dialog.data();
    }

    void closeDiscards()
    {
        FakeHost host;
        QVERIFY(writeBytes(host.path, WorkedExample));
        for (bool byTitleBar : {false, true}) {
            Open dialog(host);
            QTest::mouseClick(dialog->lblCol1, Qt::LeftButton);
            QTest::mouseClick(dialog->lblHighlight, Qt::LeftButton);
            if (byTitleBar)
                dialog->close();
            else
                QTest::mouseClick(dialog->cmdClose, Qt::LeftButton);
            QTRY_VERIFY(dialog.dialog.isNull());
        }
        QVERIFY(host.calls.isEmpty());
        QCOMPARE(readAll(host.path), WorkedExample);
        Open again(host);
        QCOMPARE(again->chosen(), 3);
        QCOMPARE(int(again->chkHighlightGrid->Value()), 1);
    }

    void saveAppliesAtOnceAndWrites_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QString>("click");
        QTest::addColumn<QString>("tag");
        QTest::addColumn<QByteArray>("after");
        QTest::addColumn<QString>("message");
        const QString saved = QStringLiteral("%1|Success|Settings saved.").arg(int(QMessageBox::Information));
        const QString failed =
            QStringLiteral("%1|Error|The settings could not be saved.\n").arg(int(QMessageBox::Critical));
        const QString silent = frmColorScheme::PreventMsg;
        const QByteArray col2 = fileWith("No", "2", " 10916490 ");
        const QString none;
        QTest::newRow("worked example") << QByteArray() << "lblCol3" << none << WorkedExample << saved;
        QTest::newRow("color 2, tag cleared") << WorkedExample << "lblCol2"
                                              << "other" << col2 << saved;
        QTest::newRow("entry 2 back in line")
            << fileWith("Yes", "2", " 255 ") << none << none << col2 << saved;
        QTest::newRow("custom unchanged")
            << fileWith("No", "5", " 255 ") << none << none << fileWith("Yes", "5", " 255 ") << saved;
        QTest::newRow("picked custom, silent")
            << WorkedExample << "lblCustom" << silent << fileWith("No", "5", " 1971210 ") << none;
        // The folder is a plain file: the failure is reported even when silent, and still applied.
        QTest::newRow("failed, confirming") << QByteArray() << "lblCol4" << none << QByteArray("x") << failed;
        QTest::newRow("failed, silent") << QByteArray() << "lblCol4" << silent << QByteArray("x") << failed;
    }
    void saveAppliesAtOnceAndWrites()
    {
        QFETCH(QByteArray, before);
        QFETCH(QString, click);
        QFETCH(QString, tag);
        QFETCH(QString, message);
        FakeHost host;
        const bool fails = message.startsWith(QString::number(QMessageBox::Critical));
        const QString plainFile = host.dir.filePath(QStringLiteral("not-a-folder"));
        if (fails) {
            QVERIFY(writeBytes(plainFile, "x"));
            host.path = plainFile + QStringLiteral("/KORIV.INI");
        }
        if (!before.isEmpty())
            QVERIFY(writeBytes(host.path, before));

        Open dialog(host);
        dialog->picker->answer = QColor(10, 20, 30);
        if (!click.isEmpty())
            QTest::mouseClick(dialog->findChild<QWidget *>(click), Qt::LeftButton);
        QTest::mouseClick(dialog->lblHighlight, Qt::LeftButton);
        dialog->SetTag(tag);
        const Settings chosen = dialog->settings();
        QTest::mouseClick(dialog->cmdSave, Qt::LeftButton);

        QCOMPARE(host.calls, (QStringList{QStringLiteral("SetHilight(%1)").arg(chosen.highlight),
                                          QStringLiteral("SetGridSelectionColor(%1)").arg(chosen.colour)}));
        QVERIFY(host.dialogUpWhenColoured);
        QTEST(readAll(fails ? plainFile : host.path), "after");
        if (fails) {
            QCOMPARE(chosen.colour, 8454143u);
            QCOMPARE(dialog->messages.size(), 1);
            QVERIFY2(dialog->messages[0].startsWith(message), qPrintable(dialog->messages[0]));
            QVERIFY(dialog->messages[0].contains(QStringLiteral("not-a-folder")));
        } else {
            QCOMPARE(dialog->messages, message.isEmpty() ? QStringList() : QStringList{message});
            QCOMPARE(dialog->Tag(), tag == frmColorScheme::PreventMsg ? tag : QString());
        }
        QVERIFY(!dialog->isVisible());
        QTRY_VERIFY(dialog.dialog.isNull());
    }
};

QTEST_MAIN(TestColorScheme)
#include "tst_colorscheme.moc"
