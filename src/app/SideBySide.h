#pragma once

#include <QMargins>
#include <QRect>

class QWidget;

// Where a companion window goes next to the main window, so that on any screen from 1280 x 720 up both
// lie wholly on it, title bars included, and neither covers the other:
// - Beside: the companion right of the main window, the pair centred. When the screen is too narrow for
//   the companion's full width, it gets what is left, and the whole height of the screen, since a
//   narrow companion lays itself out tall.
// - Below: the companion under the main window, when that leaves it more of its size than beside
//   (a tall screen); too short a screen shortens it.
// - Overlapping, only when neither leaves the companion its minimum size: the main window in the
//   top-left corner and the companion in the bottom-right one.
// Sizes and rectangles are frame rectangles (window plus title bar and border); a window larger than
// the screen is shrunk to it.
struct SideBySide
{
    enum class Arrangement { Beside, Below, Overlapping };
    QRect main;
    QRect companion;
    Arrangement arrangement = Arrangement::Beside;
};
SideBySide placeSideBySide(QSize mainFrame, QSize companionFrame, QSize companionMinimum, const QRect &available,
                           int gap = 12);

// The frame a window manager puts round a window, as far as it is known: the main window's own once it
// is mapped, until then a generous title bar and border.
QMargins assumedFrame(const QWidget &mapped);

// Shows `companion` placed by placeSideBySide on the main window's screen (moving the main window too),
// and ties it to the main window: it closes when the main window closes, and never keeps the program
// running by itself. Call it after the main window is shown, so that its screen and frame are known.
void showBesideMainWindow(QWidget &mainWindow, QWidget &companion);
