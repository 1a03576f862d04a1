#include "SkinPicture.h"

#include <QPainter>

SkinPicture::SkinPicture(QWidget *parent)
    : QWidget(parent)
{
}

void SkinPicture::setPicture(const QPixmap &picture, const QString &name)
{
    m_picture = picture;
    m_name = name;
    update();
}

void SkinPicture::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.drawPixmap(0, 0, m_picture);
}
