#include "SkinToggle.h"

#include "SkinAccessible.h"

#include <QPainter>

SkinToggle::SkinToggle(QWidget *parent, const QString &family, const QString &prefix, QSize size,
                       QSize pictureSize, SkinPictures::Painter painter)
    : QAbstractButton(parent), m_prefix(prefix)
{
    SkinAccessible::install();
    std::vector<SkinPictures::Holder> holders;
    for (const char *state : {"F", "T", "FD", "TD"})
        holders.push_back({prefix + QLatin1String(state), pictureSize});
    m_pictures = std::make_unique<SkinPictures>(family, std::move(holders), std::move(painter));

    setFocusPolicy(Qt::NoFocus);
    setFixedSize(size);
    // A virtual call is safe here: it happens only on a click, long after construction.
    connect(this, &QAbstractButton::clicked, this, [this] { onClicked(); });
    m_pictures->ensure(devicePixelRatioF());
    showState(false);
}

SkinToggle::~SkinToggle() = default;

bool SkinToggle::Enabled() const
{
    return !testAttribute(Qt::WA_ForceDisabled);
}

void SkinToggle::SetEnabled(bool enabled)
{
    setEnabled(enabled);
}

void SkinToggle::showState(bool on, bool held)
{
    m_currentPicture = m_prefix + (on ? QLatin1Char('T') : QLatin1Char('F'));
    if (held)
        m_currentPicture += QLatin1Char('D');
    update();
}

void SkinToggle::paintEvent(QPaintEvent *)
{
    m_pictures->ensure(devicePixelRatioF());
    QPainter painter(this);
    painter.drawPixmap(0, 0, m_pictures->picture(m_currentPicture));
}

void SkinToggle::mousePressEvent(QMouseEvent *event)
{
    showState(isOn(), true);
    QAbstractButton::mousePressEvent(event);
}

void SkinToggle::mouseReleaseEvent(QMouseEvent *event)
{
    showState(isOn());
    QAbstractButton::mouseReleaseEvent(event);
}

void SkinToggle::keyPressEvent(QKeyEvent *event)
{
    QWidget::keyPressEvent(event);
}

void SkinToggle::keyReleaseEvent(QKeyEvent *event)
{
    QWidget::keyReleaseEvent(event);
}
