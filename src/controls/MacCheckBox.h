#pragma once

#include "PropertyBag.h"
#include "SkinPictures.h"

#include <QAbstractButton>

#include <memory>

// A 13 x 13 glossy check box without a caption (the host places a label).
class MacCheckBox : public QAbstractButton
{
    Q_OBJECT

public:
    static constexpr int SizeTwips = 195;

    explicit MacCheckBox(QWidget *parent = nullptr);
    ~MacCheckBox() override;

    qint16 Value() const { return m_value; }
    // Stores 1 for any non-zero value and raises Click on every assignment,
    // whether or not the value changes.
    void SetValue(int value);
    bool Enabled() const;
    void SetEnabled(bool enabled);

    // Loading takes the stored number as it is and raises nothing; only a
    // value of exactly 1 shows as checked.
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
    qint16 m_value = 0;
};
