#pragma once

#include <QFont>
#include <QLabel>
#include <QRect>
#include <QString>

#include <array>

class HoverButton;

// The controls laid over the arm picture, as the layout tables place them (positions in twips).
namespace PanelControls {

// The eleven motion buttons, index = command code, with their captions, names and tooltips, in the
// idle look.
std::array<HoverButton *, 11> motionButtons(QWidget *panel, quint32 idleBack, quint32 idleHoverBack);
// The five joint names over the picture.
std::array<QLabel *, 5> jointLabels(QWidget *panel);
// A black caption in Arial 8.25 point on a transparent ground.
QLabel *captionLabel(const QString &text, QWidget *parent, bool bold);
QFont arial(qreal points, bool bold);
QRect twipRect(int left, int top, int width, int height);

} // namespace PanelControls
