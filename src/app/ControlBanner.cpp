#include "ControlBanner.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

ControlBanner::ControlBanner(QWidget *parent) : QFrame(parent)
{
    setObjectName(QStringLiteral("controlBanner"));
    // The amber of a warning sign: the arm is someone else's to drive just now.
    setStyleSheet(QStringLiteral(
        "#controlBanner { background: rgb(255, 214, 102); border: 1px solid rgb(168, 120, 0); border-radius: "
        "5px; }"
        "#controlBanner QLabel { color: black; font-family: Arial; font-size: 8pt; font-weight: bold; }"
        "#controlBanner QPushButton { font-family: Arial; font-size: 8pt; padding: 2px 4px; }"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 5, 6, 5);
    layout->setSpacing(4);
    m_text = new QLabel(this);
    m_text->setWordWrap(true);
    m_text->setAlignment(Qt::AlignCenter);
    m_text->setAccessibleName(QStringLiteral("Who drives the arm"));
    layout->addWidget(m_text, 1);
    m_button = new QPushButton(this);
    m_button->setFocusPolicy(Qt::TabFocus);
    layout->addWidget(m_button);
    connect(m_button, &QPushButton::clicked, this, [this] {
        if (m_act)
            m_act();
    });
    hide();
}

void ControlBanner::showText(const QString &text, const QString &action, std::function<void()> act)
{
    m_text->setText(text);
    setToolTip(text);
    m_button->setText(action);
    m_button->setVisible(!action.isEmpty());
    m_act = std::move(act);
    show();
    raise();
}

QString ControlBanner::text() const
{
    return isVisible() ? m_text->text() : QString();
}
