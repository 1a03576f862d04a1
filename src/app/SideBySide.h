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

// Shows the main window and `companion`, placed by placeSideBySide on the main window's screen, and ties
// the companion to the main window: it closes when the main window closes, and never keeps the program
// running by itself. Call it before the main window is shown: a window manager places a window that is
// already up by the frame it has then, which may put the title bar off the screen. (A main window that
// is shown already is moved all the same.)
void showBesideMainWindow(QWidget &mainWindow, QWidget &companion);
