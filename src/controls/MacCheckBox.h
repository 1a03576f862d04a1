#pragma once

#include "PropertyBag.h"
#include "SkinToggle.h"

// A 13 x 13 glossy check box without a caption (the host places a label).
class MacCheckBox : public SkinToggle
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

    // Loading takes the stored number as it is and raises nothing; only a
    // value of exactly 1 shows as checked.
    void ReadProperties(const PropertyBag &bag);
    void WriteProperties(PropertyBag &bag) const;

protected:
    bool isOn() const override { return m_value == 1; }
    void onClicked() override;

private:
    qint16 m_value = 0;
};
