#include "SideBySide.h"

#include <QEvent>
#include <QScreen>
#include <QWidget>

#include <algorithm>

namespace {

// Closes the companion once the main window has closed: when its close has gone through and hidden it,
// not when it is asked to close, which it may refuse (Cancel at "Unsaved changes"). A window manager's
// minimise hides nothing in Qt's sense, and neither does a hide of the system's own.
class CloseTogether : public QObject
{
public:
    CloseTogether(QWidget &mainWindow, QWidget &companion) : QObject(&companion), m_companion(companion)
    {
        mainWindow.installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Hide && !event->spontaneous())
            m_companion.close();
        return false;
    }

private:
    QWidget &m_companion;
};

} // namespace

SideBySide placeSideBySide(QSize mainFrame, QSize companionFrame, QSize companionMinimum, const QRect &available,
                           int gap)
{
    mainFrame = mainFrame.boundedTo(available.size());
    companionFrame = companionFrame.boundedTo(available.size());
    companionMinimum = companionMinimum.boundedTo(companionFrame);
    const auto fits = [&companionMinimum](QSize size) {
        return size.width() >= companionMinimum.width() && size.height() >= companionMinimum.height();
    };
    // How much of its size the companion keeps.
    const auto share = [&companionFrame](QSize size) {
        return std::min(double(size.width()) / companionFrame.width(), double(size.height()) / companionFrame.height());
    };

    const int roomBeside = available.width() - mainFrame.width() - gap;
    const QSize beside =
        roomBeside >= companionFrame.width() ? companionFrame : QSize(roomBeside, available.height());
    const int roomBelow = available.height() - mainFrame.height() - gap;
    const QSize below(companionFrame.width(), std::min(companionFrame.height(), roomBelow));

    if (fits(beside) && (!fits(below) || share(beside) >= share(below))) {
        const int left = available.left() + (available.width() - (mainFrame.width() + gap + beside.width())) / 2;
        const int top = available.top() + (available.height() - std::max(mainFrame.height(), beside.height())) / 2;
        return {QRect(QPoint(left, top), mainFrame), QRect(QPoint(left + mainFrame.width() + gap, top), beside),
                SideBySide::Arrangement::Beside};
    }
    if (fits(below)) {
        const int top = available.top() + (available.height() - (mainFrame.height() + gap + below.height())) / 2;
        return {QRect(QPoint(available.left() + (available.width() - mainFrame.width()) / 2, top), mainFrame),
                QRect(QPoint(available.left() + (available.width() - below.width()) / 2,
                             top + mainFrame.height() + gap),
                      below),
                SideBySide::Arrangement::Below};
    }
    // A screen too small for both: the companion at its smallest, covering as little as it can.
    const QPoint companionTopLeft(available.right() + 1 - companionMinimum.width(),
                                  available.bottom() + 1 - companionMinimum.height());
    return {QRect(available.topLeft(), mainFrame), QRect(companionTopLeft, companionMinimum),
            SideBySide::Arrangement::Overlapping};
}

QMargins assumedFrame(const QWidget &mapped)
{
    const QRect inside = mapped.geometry();
    const QRect outside = mapped.frameGeometry();
    const QMargins frame(inside.left() - outside.left(), inside.top() - outside.top(),
                         outside.right() - inside.right(), outside.bottom() - inside.bottom());
    // A window manager adds its frame only once a window is mapped; until then, room for a tall title
    // bar (some desktops draw 40 pixels and more) and a border.
    return frame.isNull() ? QMargins(8, 44, 8, 8) : frame;
}

void showBesideMainWindow(QWidget &mainWindow, QWidget &companion)
{
    companion.setAttribute(Qt::WA_QuitOnClose, false);
    // The main window has the keyboard (its jog keys, its tooltips): the companion, shown after it,
    // does not take it.
    companion.setAttribute(Qt::WA_ShowWithoutActivating);
    new CloseTogether(mainWindow, companion);

    const QScreen *screen = mainWindow.screen();
    if (screen) {
        const QMargins frame = assumedFrame(mainWindow);
        const QSize extra(frame.left() + frame.right(), frame.top() + frame.bottom());
        const QSize minimum = companion.minimumSizeHint().expandedTo(companion.minimumSize());
        const SideBySide place = placeSideBySide(mainWindow.size() + extra, companion.size() + extra,
                                                 minimum + extra, screen->availableGeometry());
        // move() places the frame of a top-level window; resize() sizes its inside.
        mainWindow.move(place.main.topLeft());
        companion.resize(place.companion.size() - extra);
        companion.move(place.companion.topLeft());
    }
    mainWindow.show();
    companion.show();
    mainWindow.raise();
    mainWindow.activateWindow();
}
