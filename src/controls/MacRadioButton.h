#pragma once

#include "PropertyBag.h"
#include "SkinPictures.h"

#include <QAbstractButton>

#include <memory>

// A 13 x 13 glossy radio button without a caption. Selecting one clears every
// other radio button of the same window that sits in the same container; the
// group is looked up at that moment, never registered.
class MacRadioButton : public QAbstractButton
{
    Q_OBJECT

public:
    static constexpr int SizeTwips = 195;

    explicit MacRadioButton(QWidget *parent = nullptr);
    ~MacRadioButton() override;

    bool Value() const { return m_value; }
    // Raises Click whenever the new value is true, even if it already was.
    void SetValue(bool value);
    // Identity of the container; radio buttons with equal containers form a group.
    quintptr ContainerHwnd() const { return quintptr(parentWidget()); }
    quintptr hWnd() const { return quintptr(this); }
    bool Enabled() const;
    void SetEnabled(bool enabled);

    void ReadProperties(const PropertyBag &bag);
    void WriteProperties(PropertyBag &bag) const;

    QString currentPicture() const { return m_currentPicture; }
    const SkinPictures &pictures() const { return *m_pictures; }

Q_SIGNALS:
    void Click();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;

private:
    void showPicture(const QString &name);
    void onClicked();

    std::unique_ptr<SkinPictures> m_pictures;
    QString m_currentPicture;
    bool m_value = false;
};
