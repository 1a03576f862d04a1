#pragma once

#include "PropertyBag.h"
#include "SkinToggle.h"

// A 13 x 13 glossy radio button without a caption. Selecting one clears every
// other radio button of the same window that sits in the same container; the
// group is looked up at that moment, never registered.
class MacRadioButton : public SkinToggle
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

    void ReadProperties(const PropertyBag &bag);
    void WriteProperties(PropertyBag &bag) const;

protected:
    bool isOn() const override { return m_value; }
    void onClicked() override;

private:
    bool m_value = false;
};
