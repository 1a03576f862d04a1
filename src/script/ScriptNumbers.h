#pragma once

#include "NumberReading.h"

#include <QString>

// Every number the script shows in its grid, reads from a cell or box, or keeps in a script file
// goes through these rules, so that a value written by NumberText reads back through LeadingNumber.

// Number to text: a leading blank for zero and positive values ("-" for negative ones), "." as the
// decimal point, no zero before the point below 1, no trailing zeros, no point for whole numbers and
// at most 15 significant digits: 1 -> " 1", 2.5 -> " 2.5", 0.25 -> " .25", -0.5 -> "-.5".
// Values of 1E15 and above, or below 1E-4, need an exponent to stay within 15 digits and are written
// as " 1.5E+20" / " 1E-05", which LeadingNumber reads back. A value that is not finite is written " 0".
QString NumberText(double value);
