#include "SkinPicture.h"

#include <QPainter>

SkinPicture::SkinPicture(QWidget *parent) : QWidget(parent) {}

void SkinPicture::setPicture(const QPixmap &picture, const QString &name)
{
    m_picture = picture;
    m_name = name;
    update();
}

void SkinPicture::setPaintedRect(const QRect &rect)
{
    if (rect == m_paintedRect)
        return;
    m_paintedRect = rect;
    update();
}

void SkinPicture::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    if (!m_paintedRect.isEmpty())
        painter.setClipRect(m_paintedRect);
    painter.drawPixmap(0, 0, m_picture);
}
