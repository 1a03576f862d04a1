#include "AuxWindow.h"

#include "WinColor.h"

#include <QGuiApplication>
#include <QPalette>
#include <QScreen>
#include <QWidget>

namespace AuxWindow {

void makeFixedDialog(QWidget *window, QSize clientSize)
{
    window->setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                           Qt::MSWindowsFixedSizeDialogHint);
    window->setFixedSize(clientSize);
}

void setBackground(QWidget *window, quint32 winColour, const QPixmap &picture)
{
    QPalette palette = window->palette();
    palette.setColor(QPalette::Window, winColorToQColor(winColour));
    if (!picture.isNull())
        palette.setBrush(QPalette::Window, QBrush(picture));
    window->setPalette(palette);
    window->setAutoFillBackground(true);
}

void centreOnScreen(QWidget *window)
{
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect available = screen->availableGeometry();
        window->move(available.center() - QPoint(window->width() / 2, window->height() / 2));
    }
}

QLabel *verdanaLabel(const QString &text, QWidget *parent, qreal points, bool bold, quint32 winColour)
{
    auto *label = new QLabel(text, parent);
    QFont font(QStringLiteral("Verdana"));
    font.setPointSizeF(points);
    font.setBold(bold);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, winColorToQColor(winColour));
    label->setPalette(palette);
    label->setAttribute(Qt::WA_TranslucentBackground);
    return label;
}

} // namespace AuxWindow
