#pragma once

#include <QHash>
#include <QPixmap>
#include <QSize>
#include <QString>

#include <functional>
#include <utility>
#include <vector>

class QPainter;

// The picture holders of one skinned control: named images drawn once per
// device pixel ratio and shared between all controls of the same kind.
class SkinPictures
{
public:
    struct Holder
    {
        QString name;
        QSize size; // logical pixels
    };
    // Paints the named holder's image; the painter works in logical pixels.
    using Painter = std::function<void(QPainter &, const QString &name, const QSize &size)>;

    SkinPictures(QString family, std::vector<Holder> holders, Painter painter);

    // Draws the images again only when the ratio differs from the last one.
    void ensure(qreal devicePixelRatio);
    QPixmap picture(const QString &name) const { return m_pictures.value(name); }
    bool has(const QString &name) const { return m_pictures.contains(name); }
    qreal devicePixelRatio() const { return m_devicePixelRatio; }
    // How many times this set has drawn (or fetched) its images.
    int renderCount() const { return m_renderCount; }

    static QPixmap render(const QSize &size, qreal devicePixelRatio,
                          const std::function<void(QPainter &)> &paint);

private:
    QString m_family;
    std::vector<Holder> m_holders;
    Painter m_painter;
    QHash<QString, QPixmap> m_pictures;
    qreal m_devicePixelRatio = 0;
    int m_renderCount = 0;
};
