#include "frmColorScheme.h"

#include "HoverButton.h"
#include "MacButton.h"
#include "MacCheckBox.h"
#include "MacFrame.h"
#include "MacRadioButton.h"
#include "SettingsReader.h"
#include "SettingsWriter.h"
#include "Twips.h"
#include "WinColor.h"

#include <QColorDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QScreen>

namespace {

QRect twipRect(int left, int top, int width, int height)
{
    return QRect(Twips::toPixels(left), Twips::toPixels(top), Twips::toPixels(width),
                 Twips::toPixels(height));
}

QFont arial(bool bold = false)
{
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(8.25);
    font.setBold(bold);
    return font;
}

QLabel *makeLabel(QWidget *parent, const QString &text, const QRect &geometry, bool bold = false)
{
    auto *label = new QLabel(text, parent);
    label->setFont(arial(bold));
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // Where Arial is missing a wider substitute must not cut the caption short.
    QRect fitted = geometry;
    fitted.setWidth(qMax(geometry.width(), label->sizeHint().width()));
    label->setGeometry(fitted);
    return label;
}

} // namespace

frmColorScheme::frmColorScheme(ColorSchemeHost &host, ColourPicker picker)
    : QWidget(nullptr, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint), m_host(host),
      m_pickColour(std::move(picker))
{
    if (!m_pickColour) {
        m_pickColour = [this](const QColor &initial) -> std::optional<QColor> {
            // On the heap: the main window may close this dialog, and with it the picker, while the
            // picker is up.
            const QPointer<QColorDialog> picker = new QColorDialog(initial, this);
            picker->setWindowTitle(QStringLiteral("Color"));
            const bool accepted = picker->exec() == QDialog::Accepted;
            if (!picker)
                return std::nullopt;
            const QColor picked = picker->selectedColor();
            delete picker.data();
            return accepted && picked.isValid() ? std::optional<QColor>(picked) : std::nullopt;
        };
    }
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Settings"));
    setFont(arial());
    setFixedSize(Twips::toPixels(ClientWidthTwips), Twips::toPixels(ClientHeightTwips));

    MacFrame1 = new MacFrame(this);
    MacFrame1->setGeometry(twipRect(180, 240, 2235, 2610));

    lblSC = makeLabel(MacFrame1, QStringLiteral("Selection Color"), twipRect(120, 60, 1260, 210), true);

    const std::array<int, 5> radioTops{450, 810, 1170, 1530, 1890};
    const std::array<int, 5> swatchTops{420, 780, 1140, 1500, 1860};
    const std::array<QString, 5> captions{QStringLiteral("Color 1"), QStringLiteral("Color 2"),
                                          QStringLiteral("Color 3"), QStringLiteral("Color 4"),
                                          QStringLiteral("Custom")};
    std::array<MacRadioButton *, 5> radios{};
    std::array<HoverButton *, 5> swatches{};
    for (int i = 0; i < 5; ++i) {
        radios[i] = new MacRadioButton(MacFrame1);
        radios[i]->move(Twips::toPixels(480), Twips::toPixels(radioTops[i]));

        swatches[i] = new HoverButton(MacFrame1);
        swatches[i]->setGeometry(twipRect(780, swatchTops[i], 255, 255));
        swatches[i]->setCaption(QString());
        swatches[i]->setBordercolor(winRgb(0, 0, 0));
        const quint32 colour = Settings::presetColour(i + 1);
        swatches[i]->setBackcolor(colour);
        swatches[i]->setHoverbackcolor(colour);

        Label17[i] = makeLabel(MacFrame1, captions[i], twipRect(1125, radioTops[i], 900, 210));
        radios[i]->setAccessibleName(captions[i]);
        swatches[i]->setAccessibleName(captions[i] + QStringLiteral(" swatch"));
    }
    optCol1 = radios[0];
    optCol2 = radios[1];
    optCol3 = radios[2];
    optCol4 = radios[3];
    optCustom = radios[4];
    lblCol1 = swatches[0];
    lblCol2 = swatches[1];
    lblCol3 = swatches[2];
    lblCol4 = swatches[3];
    lblCustom = swatches[4];

    chkHighlightGrid = new MacCheckBox(MacFrame1);
    chkHighlightGrid->move(Twips::toPixels(480), Twips::toPixels(2280));
    lblHighlight = makeLabel(MacFrame1, QStringLiteral("Highlight Grid"), twipRect(720, 2280, 945, 210));
    chkHighlightGrid->setAccessibleName(lblHighlight->text());
    MacFrame1->setAccessibleName(lblSC->text());
    lblHighlight->installEventFilter(this);

    cmdSave = new MacButton(this);
    cmdSave->move(Twips::toPixels(180), Twips::toPixels(3000));
    cmdSave->SetCaption(QStringLiteral("Save"));
    cmdClose = new MacButton(this);
    cmdClose->move(Twips::toPixels(1320), Twips::toPixels(3000));
    cmdClose->SetCaption(QStringLiteral("Close"));

    // The design-time choice, kept whenever the file names no entry.
    optCol1->SetValue(true);

    for (int i = 0; i < 4; ++i) {
        MacRadioButton *radio = radios[i];
        connect(swatches[i], &HoverButton::clicked, radio, [radio] { radio->SetValue(true); });
    }
    connect(lblCustom, &HoverButton::clicked, optCustom, [this] { optCustom->SetValue(true); });
    connect(optCustom, &MacRadioButton::Click, this, &frmColorScheme::optCustom_Click);
    connect(cmdSave, &MacButton::Click, this, &frmColorScheme::cmdSave_Click);
    connect(cmdClose, &MacButton::Click, this, &QWidget::close);

    const std::array<std::pair<QWidget *, const char *>, 16> names{{{MacFrame1, "MacFrame1"},
                                                                    {lblSC, "lblSC"},
                                                                    {optCol1, "optCol1"},
                                                                    {optCol2, "optCol2"},
                                                                    {optCol3, "optCol3"},
                                                                    {optCol4, "optCol4"},
                                                                    {optCustom, "optCustom"},
                                                                    {lblCol1, "lblCol1"},
                                                                    {lblCol2, "lblCol2"},
                                                                    {lblCol3, "lblCol3"},
                                                                    {lblCol4, "lblCol4"},
                                                                    {lblCustom, "lblCustom"},
                                                                    {chkHighlightGrid, "chkHighlightGrid"},
                                                                    {lblHighlight, "lblHighlight"},
                                                                    {cmdSave, "cmdSave"},
                                                                    {cmdClose, "cmdClose"}}};
    for (const auto &[widget, name] : names)
        widget->setObjectName(QLatin1StringView(name));
    for (QLabel *label : Label17)
        label->setObjectName(QStringLiteral("Label17"));

    m_loading = false;
    LoadSettings();
    m_background = m_host.BackgroundPicture();

    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

int frmColorScheme::chosenEntry() const
{
    const std::array<MacRadioButton *, 4> presets{optCol1, optCol2, optCol3, optCol4};
    for (int i = 0; i < 4; ++i) {
        if (presets[i]->Value())
            return i + 1;
    }
    return Settings::CustomEntry;
}

HoverButton *frmColorScheme::swatch(int entry) const
{
    const std::array<HoverButton *, 5> swatches{lblCol1, lblCol2, lblCol3, lblCol4, lblCustom};
    return swatches[entry - 1];
}

Settings frmColorScheme::settings() const
{
    const int entry = chosenEntry();
    return Settings{chkHighlightGrid->Value() == 1, entry, swatch(entry)->backcolor(),
                    m_host.CurrentDevice()};
}

void frmColorScheme::LoadSettings()
{
    m_loading = true;
    const DialogSettings stored = SettingsReader::readDialog(m_host.SettingsReadPath());
    chkHighlightGrid->SetValue(stored.highlight ? 1 : 0);
    switch (stored.entryNumber()) {
    case 1:
        optCol1->SetValue(true);
        break;
    case 2:
        optCol2->SetValue(true);
        break;
    case 3:
        optCol3->SetValue(true);
        break;
    case 4:
        optCol4->SetValue(true);
        break;
    case Settings::CustomEntry:
        optCustom->SetValue(true);
        if (stored.colour) {
            lblCustom->setBackcolor(*stored.colour);
            lblCustom->setHoverbackcolor(*stored.colour);
        }
        break;
    default:
        break;
    }
    m_loading = false;
}

void frmColorScheme::optCustom_Click()
{
    // Choosing Custom from the file must not pop up the picker.
    if (m_loading)
        return;
    const QPointer<frmColorScheme> alive(this);
    const std::optional<QColor> picked = m_pickColour(winColorToQColor(lblCustom->backcolor()));
    if (!alive || !picked || !picked->isValid())
        return;
    const quint32 colour = qColorToWinColor(*picked);
    lblCustom->setBackcolor(colour);
    lblCustom->setHoverbackcolor(colour);
}

void frmColorScheme::lblHighlight_Click()
{
    chkHighlightGrid->SetValue(chkHighlightGrid->Value() == 1 ? 0 : 1);
}

void frmColorScheme::cmdSave_Click()
{
    Settings chosen;
    chosen.highlight = chkHighlightGrid->Value() == 1;
    m_host.SetHilight(chosen.highlight);
    chosen.entry = chosenEntry();
    chosen.colour = swatch(chosen.entry)->backcolor();
    m_host.SetGridSelectionColor(chosen.colour);
    chosen.device = m_host.CurrentDevice();
    const QString error = SettingsWriter::write(m_host.SettingsFilePath(), chosen);

    // The main window may close this dialog while a message is up.
    const QPointer<frmColorScheme> alive(this);
    if (!error.isEmpty()) {
        // A failure is reported even on a silent save: the caller asked not to be thanked, not to
        // be misled.
        showMessage(QMessageBox::Critical, QStringLiteral("Error"),
                    QStringLiteral("The settings could not be saved.\n%1").arg(error));
    } else if (m_saveTag != PreventMsg) {
        showMessage(QMessageBox::Information, QStringLiteral("Success"), QStringLiteral("Settings saved."));
    }
    if (!alive)
        return;
    if (m_saveTag != PreventMsg)
        m_saveTag.clear();
    close();
}

void frmColorScheme::showMessage(QMessageBox::Icon icon, const QString &title, const QString &text)
{
    // Unowned, so that closing this dialog underneath it cannot delete it mid-way.
    QMessageBox box(icon, title, text, QMessageBox::Ok);
    box.exec();
}

void frmColorScheme::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    if (m_background.isNull())
        painter.fillRect(rect(), palette().window());
    else
        painter.drawPixmap(0, 0, m_background);
}

bool frmColorScheme::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == lblHighlight) {
        // Taking the press keeps the release on the caption, so press and release make a click.
        if (event->type() == QEvent::MouseButtonPress)
            return static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton;
        if (event->type() == QEvent::MouseButtonRelease) {
            const auto *mouse = static_cast<QMouseEvent *>(event);
            if (mouse->button() == Qt::LeftButton &&
                lblHighlight->rect().contains(mouse->position().toPoint()))
                lblHighlight_Click();
            return mouse->button() == Qt::LeftButton;
        }
    }
    return QWidget::eventFilter(watched, event);
}
