#pragma once

#include "GridText.h"
#include "HoverButton.h"
#include "LampButton.h"
#include "MacButton.h"
#include "MacButtonD.h"
#include "MacFrame.h"
#include "MacRadioButton.h"
#include "MotionPanel.h"
#include "ScriptGrid.h"
#include "ScriptModel.h"

#include <QLabel>
#include <QLineEdit>

#include <array>

// The main window's controls, found by the names the layout gives them; null when there is none.
namespace ui {

template <typename T> T *find(const QWidget &window, const QString &name)
{
    return window.findChild<T *>(name);
}

#define TESSARO_CONTROL(Type, name)                                                                          \
    inline Type *name(const QWidget &window)                                                                 \
    {                                                                                                        \
        return find<Type>(window, QStringLiteral(#name));                                                    \
    }

TESSARO_CONTROL(QLabel, pctLED)
TESSARO_CONTROL(QLabel, pctLEDOnRed)
TESSARO_CONTROL(QLabel, pctLEDOff)
TESSARO_CONTROL(QLabel, lblDisp)
TESSARO_CONTROL(MotionPanel, FrameMain)
TESSARO_CONTROL(LampButton, cmdLamp)
TESSARO_CONTROL(MacRadioButton, optInteractive)
TESSARO_CONTROL(QLabel, lblInteractive)
TESSARO_CONTROL(MacRadioButton, optScripting)
TESSARO_CONTROL(QLabel, lblScripting)
TESSARO_CONTROL(QLineEdit, Text1)
TESSARO_CONTROL(MacFrame, pctFrame)
TESSARO_CONTROL(ScriptGrid, Grid)
TESSARO_CONTROL(QLabel, lblTotals)
TESSARO_CONTROL(::GridText, GridText)
TESSARO_CONTROL(MacFrame, FrameTB)
TESSARO_CONTROL(MacButtonD, cmdRun)
TESSARO_CONTROL(MacButtonD, cmdClear)
TESSARO_CONTROL(MacButtonD, cmdLoad)
TESSARO_CONTROL(MacButtonD, cmdSave)
TESSARO_CONTROL(MacButtonD, cmdSaveAs)
TESSARO_CONTROL(QLineEdit, txtReps)
TESSARO_CONTROL(MacButton, cmdColors)
TESSARO_CONTROL(MacButton, cmdAbout)
TESSARO_CONTROL(MacButton, cmdArmSettings)

#undef TESSARO_CONTROL

// The eleven motion buttons, index = command code.
inline std::array<HoverButton *, 11> cmdControl(const QWidget &window)
{
    std::array<HoverButton *, 11> buttons{};
    for (size_t i = 0; i < buttons.size(); ++i)
        buttons[i] = find<HoverButton>(window, QStringLiteral("cmdControl%1").arg(i));
    return buttons;
}

// The script the grid shows, and its end marker.
inline ScriptModel *Script(const QWidget &window)
{
    return Grid(window)->Script();
}

inline qint16 NextStep(const QWidget &window)
{
    return Script(window)->nextStep();
}

} // namespace ui
