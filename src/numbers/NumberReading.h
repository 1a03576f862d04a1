#pragma once

#include <QString>
#include <QtGlobal>

// Reading numbers from text, one rule for the whole program: script cells and files, and the
// settings file.

// Text to number: blanks, tabs and line feeds anywhere in the text are ignored; the value is the
// longest prefix of the rest that forms an optionally signed decimal number (digits with at most one
// ".", then optionally "E" or "D" in either case, an optional sign and digits). A text without such a
// prefix gives 0: " 2.5" -> 2.5, ".25" -> 0.25, "3x" -> 3, "" -> 0, "1 000" -> 1000.
// A prefix whose magnitude exceeds the range of a double gives 0 and sets *overflow (when given);
// *overflow is cleared otherwise.
double LeadingNumber(const QString &text, bool *overflow = nullptr);

// Whether the whole text, blanks around it aside, is one number, as the Time cell editor demands
// before it stores an edit: "3", ".5" and "1." are numbers (3, 0.5 and 1); "", ".", "1.2.3" and
// "2x" are not. The value goes to *value when it is one.
bool WholeTextNumber(const QString &text, double *value = nullptr);

// Rounds to the nearest whole number, halves to the even neighbour (2.5 -> 2, 3.5 -> 4, -0.5 -> 0),
// into a 16-bit signed integer. Returns false, leaving *result alone, when the rounded value does not
// fit (or the value is not finite): the caller decides what an overflow means instead of wrapping.
bool RoundToInt16(double value, qint16 *result);

// The same rounding into a 32-bit signed integer.
bool RoundToInt32(double value, qint32 *result);
