#pragma once

#include "ColorSchemeHost.h"
#include "Settings.h"

#include <QColor>
#include <QMessageBox>
#include <QPixmap>
#include <QWidget>

#include <array>
#include <functional>
#include <optional>

class HoverButton;
class MacButton;
class MacCheckBox;
class MacFrame;
class MacRadioButton;
class QLabel;

// The settings dialog: whether the script grid highlights the running step, and in which of four
// preset colours or one custom colour. It shows what the settings file last held; nothing reaches
// the main window before Save. Opened modeless and unowned; it deletes itself when closed.
class frmColorScheme : public QWidget
{
    Q_OBJECT

public:
    // Shows a colour picker starting at the given colour; empty when the operator cancels.
    using ColourPicker = std::function<std::optional<QColor>(const QColor &initial)>;

    // A Save with this tag on cmdSave confirms nothing.
    static inline const QString PreventMsg = QStringLiteral("PreventMsg");
    static constexpr int ClientWidthTwips = 2580;
    static constexpr int ClientHeightTwips = 3510;

    // Without a picker the system colour dialog is used.
    explicit frmColorScheme(ColorSchemeHost &host, ColourPicker picker = {});

    // The Tag of cmdSave.
    QString Tag() const { return m_saveTag; }
    void SetTag(const QString &tag) { m_saveTag = tag; }

    bool Loading() const { return m_loading; }

    // The choice on screen, as Save would write it.
    Settings settings() const;

    MacFrame *MacFrame1 = nullptr;
    QLabel *lblSC = nullptr;
    MacRadioButton *optCol1 = nullptr;
    MacRadioButton *optCol2 = nullptr;
    MacRadioButton *optCol3 = nullptr;
    MacRadioButton *optCol4 = nullptr;
    MacRadioButton *optCustom = nullptr;
    HoverButton *lblCol1 = nullptr;
    HoverButton *lblCol2 = nullptr;
    HoverButton *lblCol3 = nullptr;
    HoverButton *lblCol4 = nullptr;
    HoverButton *lblCustom = nullptr;
    std::array<QLabel *, 5> Label17{};
    MacCheckBox *chkHighlightGrid = nullptr;
    QLabel *lblHighlight = nullptr;
    MacButton *cmdSave = nullptr;
    MacButton *cmdClose = nullptr;

protected:
    // Blocks until the operator dismisses the message.
    virtual void showMessage(QMessageBox::Icon icon, const QString &title, const QString &text);

    void paintEvent(QPaintEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void LoadSettings();
    void optCustom_Click();
    void lblHighlight_Click();
    void cmdSave_Click();

    // Entry 1 to 4 for the first chosen preset, else the custom entry.
    int chosenEntry() const;
    HoverButton *swatch(int entry) const;

    ColorSchemeHost &m_host;
    ColourPicker m_pickColour;
    QPixmap m_background;
    QString m_saveTag;
    bool m_loading = false;
};
