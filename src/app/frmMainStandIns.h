#pragma once

// A stand-in for the colour dialog until it is built.

#include "ColorSchemeHost.h"

#include <QWidget>

class frmColorScheme : public QWidget
{
public:
    explicit frmColorScheme(ColorSchemeHost &) {}
};
