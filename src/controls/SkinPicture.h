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

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QPixmap m_picture;
    QString m_name;
};
