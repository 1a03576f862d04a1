#pragma once

#include <QLabel>
#include <QPointF>
#include <QVariant>
#include <QWidget>

class MacButton;

// A short titled message with an OK button, placed against an area of the screen by SetPosition.
class frmMsg : public QWidget
{
    Q_OBJECT

public:
    explicit frmMsg(QWidget *parent = nullptr);

    // The area the window is placed against, in twips.
    QVariant PTop;
    QVariant PLeft;
    qint32 PWidth = 0;

    // 250 twips below the area's top, centred on its width.
    void SetPosition();
    // Where SetPosition puts a window ownWidth twips wide: (left, top) in twips.
    static QPointF positionFor(const QVariant &top, const QVariant &left, qint32 width, int ownWidth);

    QLabel *pctInfo = nullptr;
    QLabel *lblMainTitle = nullptr;
    QLabel *lblSubTitle = nullptr;
    MacButton *cmdOK = nullptr;
};
