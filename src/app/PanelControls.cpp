#include "PanelControls.h"

#include "HoverButton.h"
#include "MotionPanel.h"

#include <QPalette>

namespace {

struct MotionButton
{
    const char *tag;
    const char *caption;
    int left, top, width, height;
    // What assistive technology and the tooltip call it: the joint and the direction.
    const char *spokenName;
};

// Index = command code.
// clang-format off
constexpr MotionButton MotionButtons[11] = {
    {"Pause",        "PAUSE", 420,  3300, 975, 615, "Pause"},
    {"ShoulderUp",   "Up",    2280, 2580, 435, 375, "Shoulder Up"},
    {"BaseCCW",      "CCW",   2160, 4140, 555, 375, "Base CCW"},
    {"ElbowUp",      "Up",    5760, 840,  435, 375, "Elbow Up"},
    {"WristUp",      "Up",    2940, 240,  435, 375, "Wrist Up"},
    {"GripClose",    "Close", 300,  1380, 555, 375, "Gripper Close"},
    {"ShoulderDown", "Down",  2280, 3060, 675, 375, "Shoulder Down"},
    {"BaseCW",       "CW",    2160, 4620, 555, 375, "Base CW"},
    {"ElbowDown",    "Down",  6240, 840,  675, 375, "Elbow Down"},
    {"WristDown",    "Down",  3420, 240,  675, 375, "Wrist Down"},
    {"GripOpen",     "Open",  300,  900,  555, 375, "Gripper Open"},
};
// clang-format on

struct JointLabel
{
    const char *caption;
    int left, top, width, height;
};

// clang-format off
constexpr JointLabel JointLabels[5] = {
    {"Base",     1680, 4500, 405, 210},
    {"Shoulder", 2760, 2700, 750, 210},
    {"Elbow",    5760, 600,  495, 210},
    {"Wrist",    2940, 0,    435, 210},
    {"Gripper",  300,  660,  630, 210},
};
// clang-format on

constexpr int twips(int value)
{
    return value / 15;
}

} // namespace

namespace PanelControls {

QFont arial(qreal points, bool bold)
{
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

QRect twipRect(int left, int top, int width, int height)
{
    return QRect(twips(left), twips(top), twips(width), twips(height));
}

QLabel *captionLabel(const QString &text, QWidget *parent, bool bold)
{
    auto *label = new QLabel(text, parent);
    label->setFont(arial(8.25, bold));
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, Qt::black);
    label->setPalette(palette);
    label->setAttribute(Qt::WA_TranslucentBackground);
    return label;
}

std::array<HoverButton *, 11> motionButtons(QWidget *panel, quint32 idleBack, quint32 idleHoverBack)
{
    std::array<HoverButton *, 11> buttons{};
    for (int index = 0; index < 11; ++index) {
        const MotionButton &entry = MotionButtons[index];
        auto *button = new HoverButton(panel);
        button->setIndex(index);
        button->setProperty("Tag", QString::fromLatin1(entry.tag));
        const QString caption = QString::fromLatin1(entry.caption);
        button->setCaption(caption);
        button->setCaptiondown(index == 8 ? QStringLiteral(" Down") : caption);
        button->setCaptionover(caption);
        button->setBackcolor(idleBack);
        button->setHoverbackcolor(idleHoverBack);
        button->setBordercolor(0);
        button->setForecolor(0);
        button->setHoverforecolor(0);
        button->setFont(arial(8.25, index == 0));
        button->setGeometry(twipRect(entry.left, entry.top, entry.width, entry.height));
        const QString spoken = QString::fromLatin1(entry.spokenName);
        button->setAccessibleName(spoken);
        const QString key = MotionPanel::keyNameForCode(index);
        button->setToolTip(key.isEmpty()
                               ? QStringLiteral("Pause: all motors stopped. Esc or Space stops the arm from "
                                                "any window.")
                               : QStringLiteral("%1 (key %2)").arg(spoken, key));
        buttons[size_t(index)] = button;
    }
    return buttons;
}

std::array<QLabel *, 5> jointLabels(QWidget *panel)
{
    std::array<QLabel *, 5> labels{};
    for (int index = 0; index < 5; ++index) {
        const JointLabel &entry = JointLabels[index];
        labels[size_t(index)] = captionLabel(QString::fromLatin1(entry.caption), panel, true);
        labels[size_t(index)]->setGeometry(twipRect(entry.left, entry.top, entry.width, entry.height));
    }
    return labels;
}

} // namespace PanelControls
