#pragma once

#include "MacButton.h"

// The push button for darker surroundings, such as the script tool bar.
class MacButtonD : public MacButton
{
    Q_OBJECT

public:
    explicit MacButtonD(QWidget *parent = nullptr);
};
