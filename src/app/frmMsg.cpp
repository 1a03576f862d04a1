#include "frmMsg.h"

#include "ArmArtwork.h"
#include "AuxWindow.h"
#include "MacButton.h"

#include <QtMath>

frmMsg::frmMsg(QWidget *parent) : QWidget(parent)
{
    setWindowTitle(QStringLiteral("Information"));
    AuxWindow::makeFixedDialog(this, QSize(AuxWindow::twips(6510), AuxWindow::twips(2040)));
    QFont windowFont(QStringLiteral("Verdana"));
    windowFont.setPointSizeF(8.25);
    setFont(windowFont);
    const qreal dpr = devicePixelRatioF();
    AuxWindow::setBackground(this, 15790320, ArmArtwork::messageBackground(size(), dpr));

    pctInfo = new QLabel(this);
    pctInfo->setGeometry(AuxWindow::twipRect(180, 180, 960, 960));
    pctInfo->setPixmap(ArmArtwork::informationIcon(dpr));

    lblMainTitle = AuxWindow::verdanaLabel(QStringLiteral("Title"), this, 9.75, true, 2368548);
    lblMainTitle->setGeometry(AuxWindow::twipRect(1320, 270, 4965, 540));
    lblMainTitle->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lblSubTitle = AuxWindow::verdanaLabel(QStringLiteral("Sub Title"), this, 8.25, false, 4737096);
    lblSubTitle->setGeometry(AuxWindow::twipRect(1320, 600, 4965, 780));
    lblSubTitle->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lblSubTitle->setWordWrap(true);

    cmdOK = new MacButton(this);
    cmdOK->SetCaption(QStringLiteral("OK"));
    cmdOK->move(AuxWindow::twips(5160), AuxWindow::twips(1500));
    connect(cmdOK, &MacButton::Click, this, &QWidget::close);
}

QPointF frmMsg::positionFor(const QVariant &top, const QVariant &left, qint32 width, int ownWidth)
{
    const double y = top.toDouble() + 250;
    const double x = left.toDouble() + (double(width) - double(ownWidth)) / 2.0;
    return QPointF(x, y);
}

void frmMsg::SetPosition()
{
    const QPointF twipsPos = positionFor(PTop, PLeft, PWidth, width() * 15);
    move(qRound(twipsPos.x() / 15.0), qRound(twipsPos.y() / 15.0));
}
