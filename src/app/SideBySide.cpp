#include "SideBySide.h"

#include <QEvent>
#include <QScreen>
#include <QWidget>

#include <algorithm>

namespace {

// Closes the companion when the main window closes; the main window never refuses to close.
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
        if (event->type() == QEvent::Close)
            m_companion.close();
        return false;
    }

private:
    QWidget &m_companion;
};

} // namespace

SideBySide placeSideBySide(QSize mainFrame, QSize companionFrame, const QRect &available, int gap)
{
    mainFrame = mainFrame.boundedTo(available.size());
    companionFrame = companionFrame.boundedTo(available.size());
    const int width = mainFrame.width() + gap + companionFrame.width();
    if (width <= available.width()) {
        const int left = available.left() + (available.width() - width) / 2;
        const int top =
            available.top() + (available.height() - std::max(mainFrame.height(), companionFrame.height())) / 2;
        return {QRect(QPoint(left, top), mainFrame),
                QRect(QPoint(left + mainFrame.width() + gap, top), companionFrame)};
    }
    const QPoint companionTopLeft(available.right() + 1 - companionFrame.width(),
                                  available.bottom() + 1 - companionFrame.height());
    return {QRect(available.topLeft(), mainFrame), QRect(companionTopLeft, companionFrame)};
}

void showBesideMainWindow(QWidget &mainWindow, QWidget &companion)
{
    companion.setAttribute(Qt::WA_QuitOnClose, false);
    new CloseTogether(mainWindow, companion);

    const QScreen *screen = mainWindow.screen();
    if (screen) {
        // A window manager adds its frame only once a window is mapped; until then assume the frame the
        // main window has, or a usual title bar.
        QMargins frame(mainWindow.geometry().left() - mainWindow.frameGeometry().left(),
                       mainWindow.geometry().top() - mainWindow.frameGeometry().top(),
                       mainWindow.frameGeometry().right() - mainWindow.geometry().right(),
                       mainWindow.frameGeometry().bottom() - mainWindow.geometry().bottom());
        if (frame.isNull())
            frame = QMargins(4, 32, 4, 4);
        const QSize extra(frame.left() + frame.right(), frame.top() + frame.bottom());
        const SideBySide place =
            placeSideBySide(mainWindow.size() + extra, companion.size() + extra, screen->availableGeometry());
        // move() places the frame of a top-level window; resize() sizes its inside.
        mainWindow.move(place.main.topLeft());
        companion.resize(place.companion.size() - extra);
        companion.move(place.companion.topLeft());
    }
    companion.show();
}
