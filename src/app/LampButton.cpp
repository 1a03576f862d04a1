#include "LampButton.h"

#include "ArmSession.h"

#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QRadialGradient>

namespace {

// Beside the "Gripper" caption on the picture, clear of the motion buttons and the drawing.
constexpr QRect LampPlace(66, 43, 18, 18);

const QColor LitColor(0xff, 0xd8, 0x3a);
const QColor DarkColor(0xc9, 0xcd, 0xd3);
const QColor RimColor(0x38, 0x42, 0x4e);

} // namespace

LampButton::LampButton(QWidget *picture, ArmSession *session)
    : QAbstractButton(picture), m_session(session)
{
    setObjectName(QStringLiteral("cmdLamp"));
    setGeometry(LampPlace);
    setCursor(Qt::PointingHandCursor);
    // The picture keeps the keyboard: the jog keys work on after a click on the lamp.
    setFocusPolicy(Qt::NoFocus);
    setAccessibleName(QStringLiteral("Gripper light"));
    picture->installEventFilter(this);
    connect(this, &QAbstractButton::clicked, this, [this] { toggleLight(); });
    // The session looks at its arms again whenever one comes or goes.
    if (m_session)
        connect(m_session, &ArmSession::readyChanged, this, &LampButton::follow);
    follow();
}

bool LampButton::isLit() const
{
    return m_session && m_session->light();
}

bool LampButton::toggleLight()
{
    if (!m_session || !m_session->lightAttached())
        return false;
    const bool sent = m_session->setLight(!m_session->light());
    follow();
    return sent;
}

QSize LampButton::sizeHint() const
{
    return LampPlace.size();
}

bool LampButton::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == parent() && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        // With Ctrl or Alt the key is somebody's shortcut; a held key switches the light once.
        if (key->key() == Key &&
            !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))) {
            if (!key->isAutoRepeat() && isEnabled())
                toggleLight();
            return true;
        }
    }
    return QAbstractButton::eventFilter(watched, event);
}

void LampButton::follow()
{
    const bool kits = m_session && m_session->lightAttached();
    setEnabled(kits);
    setToolTip(
        !kits ? QStringLiteral("Gripper light (L): only the USB interface kit has one, and none is attached")
        : isLit() ? QStringLiteral("Gripper light (L): on; click to switch it off")
                  : QStringLiteral("Gripper light (L): off; click to switch it on"));
    update();
}

void LampButton::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect()).adjusted(2, 2, -2, -2);
    const QPointF centre = r.center();
    const double radius = r.width() / 2;
    if (isLit()) {
        QRadialGradient glow(centre, radius + 2);
        glow.setColorAt(0, Qt::white);
        glow.setColorAt(0.5, LitColor);
        glow.setColorAt(1, LitColor.darker(115));
        p.setBrush(glow);
    } else {
        p.setBrush(DarkColor);
    }
    p.setOpacity(isEnabled() ? 1.0 : 0.45);
    p.setPen(QPen(RimColor, underMouse() && isEnabled() ? 2 : 1));
    p.drawEllipse(centre, radius, radius);
    // The filament.
    p.setPen(QPen(RimColor, 1));
    p.drawLine(QPointF(centre.x() - radius * 0.35, centre.y() + radius * 0.25),
               QPointF(centre.x() + radius * 0.35, centre.y() + radius * 0.25));
}

QString attachedArmsToolTip(const ArmSession &session)
{
    const QStringList arms = session.attachedArms();
    return arms.isEmpty() ? QStringLiteral("No arm attached") : arms.join(QLatin1Char('\n'));
}

void followAttachedArms(QLabel *status, const ArmSession &session)
{
    status->setToolTip(attachedArmsToolTip(session));
    QObject::connect(&session, &ArmSession::armsChanged, status,
                     [status, &session] { status->setToolTip(attachedArmsToolTip(session)); });
}
