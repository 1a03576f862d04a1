#include "SkinPictures.h"

#include <QPainter>
#include <QPixmapCache>

SkinPictures::SkinPictures(QString family, std::vector<Holder> holders, Painter painter)
    : m_family(std::move(family)), m_holders(std::move(holders)), m_painter(std::move(painter))
{
}

QPixmap SkinPictures::render(const QSize &size, qreal devicePixelRatio,
                             const std::function<void(QPainter &)> &paint)
{
    QPixmap pixmap(size * devicePixelRatio);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    paint(painter);
    return pixmap;
}

void SkinPictures::ensure(qreal devicePixelRatio)
{
    if (qFuzzyCompare(devicePixelRatio, m_devicePixelRatio) && !m_pictures.isEmpty())
        return;
    m_devicePixelRatio = devicePixelRatio;
    ++m_renderCount;
    m_pictures.clear();
    for (const Holder &holder : m_holders) {
        const QString key =
            QStringLiteral("tessaro/%1/%2@%3").arg(m_family, holder.name).arg(devicePixelRatio);
        QPixmap pixmap;
        if (!QPixmapCache::find(key, &pixmap)) {
            pixmap = render(holder.size, devicePixelRatio,
                            [&](QPainter &painter) { m_painter(painter, holder.name, holder.size); });
            QPixmapCache::insert(key, pixmap);
        }
        m_pictures.insert(holder.name, pixmap);
    }
}
