#pragma once

#include "SkinPictures.h"

#include <QAbstractButton>

#include <memory>

// What the glossy toggles without a caption (MacCheckBox, MacRadioButton) share: four pictures named
// after the state they show (the prefix, then T for on or F for off, then D while the mouse holds the
// control down), painted once per device pixel ratio, and a Click the control raises as its value
// says. Keys do nothing: the host places a label and takes the keyboard.
class SkinToggle : public QAbstractButton
{
    Q_OBJECT

public:
    ~SkinToggle() override;

    bool Enabled() const;
    void SetEnabled(bool enabled);

    QString currentPicture() const { return m_currentPicture; }
    const SkinPictures &pictures() const { return *m_pictures; }

Q_SIGNALS:
    void Click();

protected:
    // `family` names the shared picture set; the control is `size`, its pictures `pictureSize` (taller
    // pictures show their top rows). Starts off.
    SkinToggle(QWidget *parent, const QString &family, const QString &prefix, QSize size, QSize pictureSize,
               SkinPictures::Painter painter);

    // Whether the control shows as on.
    virtual bool isOn() const = 0;
    // What a click (press and release over the control) does to the value.
    virtual void onClicked() = 0;
    // Shows the state's picture, held down or not.
    void showState(bool on, bool held = false);

    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;

private:
    std::unique_ptr<SkinPictures> m_pictures;
    QString m_prefix;
    QString m_currentPicture;
};
