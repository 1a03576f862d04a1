#pragma once

#include <QPixmap>
#include <QWidget>

// A picture box: a child widget that shows one picture from its top-left
// corner and nothing beyond it.
class SkinPicture : public QWidget
{
    Q_OBJECT

public:
    explicit SkinPicture(QWidget *parent = nullptr);

    void setPicture(const QPixmap &picture, const QString &name);
    QString pictureName() const { return m_name; }
    // Limits painting to part of the box, for a piece that another one covers
    // partly with see-through corners. An empty rectangle paints everything.
    void setPaintedRect(const QRect &rect);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QPixmap m_picture;
    QString m_name;
    QRect m_paintedRect;
};
