#pragma once

#include <QPixmap>
#include <QPointF>
#include <QSize>

// The program's pictures, painted in code so they scale with the device pixel ratio and need no image
// files. Each function paints afresh; the windows call them once and keep the pixmaps.
namespace ArmArtwork {

// Where the arm's joints sit in the motion panel's picture (527 x 410 pixels). The motion buttons and
// the joint labels of the panel are laid out around these points.
struct ArmJoints
{
    QPointF shoulder{266, 250};
    QPointF elbow{424, 132};
    QPointF wrist{238, 88};
    QPointF gripperTip{74, 90};
};

QSize armPictureSize();
QPixmap armPicture(qreal dpr = 1.0);
// The brushed window colour alone, and with the title strip the main window shows above its panels.
QPixmap windowTexture(QSize size, qreal dpr = 1.0);
QPixmap windowBackground(QSize size, qreal dpr = 1.0);

// The status lamp, 20 x 20 pixels.
QPixmap lampLitRed(qreal dpr = 1.0);
QPixmap lampDark(qreal dpr = 1.0);

QPixmap splashPicture(QSize size, qreal dpr = 1.0);
QPixmap aboutPicture(QSize size, qreal dpr = 1.0);
QPixmap messageBackground(QSize size, qreal dpr = 1.0);
// 64 x 64 pixels.
QPixmap informationIcon(qreal dpr = 1.0);

} // namespace ArmArtwork
