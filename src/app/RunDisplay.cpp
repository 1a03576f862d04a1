#include "RunDisplay.h"

#include "ScriptRunner.h"

#include <QPainter>
#include <QPainterPath>

namespace {

// A few times a second: enough for a clock that counts seconds.
constexpr int RedrawMs = 250;

// The lit look of a motion button, so that the bar reads as part of the same panel.
const QColor Fill(157, 187, 97);
const QColor FillBorder(117, 140, 72);
const QColor Trough(224, 224, 224);

} // namespace

RunDisplay::RunDisplay(QWidget *parent) : QWidget(parent)
{
    hide();
    m_redraw.setInterval(RedrawMs);
    connect(&m_redraw, &QTimer::timeout, this, [this] {
        update();
        setToolTip(m_what.isEmpty() ? m_progress.progressLine(ScriptRunner::clockNs()) : text());
    });
}

void RunDisplay::begin(const QList<double> &stepSeconds, int repetitions, int firstStep, const QString &what)
{
    m_what = what;
    m_progress = RunProgress();
    m_progress.setPlan(stepSeconds, repetitions);
    m_startNs = ScriptRunner::clockNs();
    m_progress.start(m_startNs, firstStep);
    m_active = true;
    show();
    raise();
    update();
    m_redraw.start();
}

void RunDisplay::setPlan(const QList<double> &stepSeconds, int repetitions)
{
    if (m_active)
        m_progress.setPlan(stepSeconds, repetitions);
}

void RunDisplay::stepStarted(int row)
{
    if (!m_active)
        return;
    m_progress.stepStarted(row, ScriptRunner::clockNs());
    // A new step shows at once, unless the bar was drawn only just now.
    update();
}

double RunDisplay::end()
{
    m_redraw.stop();
    m_active = false;
    hide();
    return double(ScriptRunner::clockNs() - m_startNs) / 1e9;
}

QString RunDisplay::text() const
{
    const qint64 now = ScriptRunner::clockNs();
    QString text = m_what.isEmpty() ? m_progress.repetitionText() : m_what;
    if (m_progress.step() > 0)
        text += QStringLiteral(" \u00b7 Step %1 of %2").arg(m_progress.step()).arg(m_progress.steps());
    return text + QStringLiteral(" \u00b7 %1 left").arg(RunProgress::clockText(m_progress.secondsLeft(now)));
}

void RunDisplay::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF outline = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath trough;
    trough.addRoundedRect(outline, 3, 3);
    painter.fillPath(trough, Trough);
    const double share = m_progress.fraction(ScriptRunner::clockNs());
    if (share > 0) {
        QRectF done = outline;
        done.setWidth(outline.width() * qBound(0.0, share, 1.0));
        painter.save();
        painter.setClipRect(done);
        painter.fillPath(trough, Fill);
        painter.restore();
    }
    painter.setPen(FillBorder);
    painter.drawPath(trough);
    painter.setPen(Qt::black);
    painter.setFont(font());
    const QString shown = fontMetrics().elidedText(text(), Qt::ElideRight, width() - 6);
    painter.drawText(rect(), Qt::AlignCenter, shown);
}
