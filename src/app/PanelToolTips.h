#pragma once

#include <QObject>
#include <QPointer>

class QWidget;

// Keeps the tooltips of a panel and of every widget in it over the panel. A tooltip is a window of its
// own: one that lay over a neighbouring control (a long one does, shown at the pointer) would take the
// next click meant for that control, and go away with it. Here a tooltip is moved left as far as
// needed, and a text wider than the panel is broken into lines.
class PanelToolTips : public QObject
{
public:
    explicit PanelToolTips(QWidget *panel);

    // Watches `widget` (the panel itself or a widget in it).
    void watch(QWidget *widget);

    // `text` broken at blanks into lines no wider than `width` pixels in the tooltip font.
    static QString wrapped(const QString &text, int width);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QPointer<QWidget> m_panel;
};
