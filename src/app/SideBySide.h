#pragma once

#include <QRect>

class QWidget;

// Where a companion window goes next to the main window: both side by side, centred, when the
// screen is wide enough, otherwise the main window in the top-left corner and the companion in the
// bottom-right one, overlapping. Either way both lie wholly on the screen, as long as each fits it on
// its own (a larger one is shrunk to the screen). Rectangles are frame rectangles.
struct SideBySide
{
    QRect main;
    QRect companion;
};
SideBySide placeSideBySide(QSize mainFrame, QSize companionFrame, const QRect &available, int gap = 12);

// Shows `companion` placed by placeSideBySide on the main window's screen, and ties it to the main
// window: it closes when the main window closes, and never keeps the program running by itself.
// Call it after the main window is shown, so that its screen and frame are known.
void showBesideMainWindow(QWidget &mainWindow, QWidget &companion);
