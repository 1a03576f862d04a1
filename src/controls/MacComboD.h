#pragma once

#include "PropertyBag.h"
#include "SkinPictures.h"

#include <QAbstractButton>

#include <memory>

class QLabel;
class SkinPicture;

// A drop button: a glossy text field with a small up-and-down arrow button
// at its right end. A press anywhere on it shows the arrow button pressed.
class MacComboD : public QAbstractButton
{
    Q_OBJECT

public:
    static constexpr int HeightTwips = 330;
    static constexpr int MaxWidthTwips = 3315;
    static constexpr int ButtonTwips = 330;
    static constexpr quint32 CaptionColor = 1184274; // 18, 18, 18

    explicit MacComboD(QWidget *parent = nullptr);
    ~MacComboD() override;

    // Size in twips. A width that does not fall on a whole pixel is kept as
    // given for as long as the control keeps the matching pixel width.
    float Height() const;
    void SetHeight(float heightTwips);
    float Width() const;
    void SetWidth(float widthTwips);
    QString Caption() const;
    void SetCaption(const QString &caption);

    void ReadProperties(const PropertyBag &bag);
    void WriteProperties(PropertyBag &bag) const;

    // The width, in twips, that the control takes when given `widthTwips`.
    static float adjustedWidthTwips(float widthTwips);

    SkinPicture *pctButton() const { return m_pctButton; }
    QLabel *ButtonCaption() const { return m_buttonCaption; }
    const SkinPictures &pictures() const { return *m_pictures; }

Q_SIGNALS:
    void Click();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;

private:
    void showButton(const QString &name);

    std::unique_ptr<SkinPictures> m_pictures;
    SkinPicture *m_pctButton = nullptr;
    QLabel *m_buttonCaption = nullptr;
    float m_widthTwips = 0;
};
