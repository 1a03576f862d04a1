#pragma once

#include <QString>
#include <QStringList>

// The eleven step function names. A name's index is the arm command code of its motion
// (0 stops every motor), which is also the index of the motion button that carries it.
namespace StepFunctions {

constexpr int Count = 11;

// "Pause", "ShoulderUp", ... "GripOpen", in code order.
const QStringList &names();

// Name of a code 0..10; empty for anything else.
QString name(int code);

// Code of a name compared exactly, case included; -1 when the text names no step function.
int code(const QString &name);

// The name written exactly as the table writes it when text matches one ignoring case and
// surrounding blanks; empty when it matches none.
QString canonical(const QString &text);

} // namespace StepFunctions
