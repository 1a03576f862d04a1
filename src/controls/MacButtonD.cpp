#include "MacButtonD.h"

MacButtonD::MacButtonD(QWidget *parent) : MacButton(parent, Backdrop::Dark) {}
