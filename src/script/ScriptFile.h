#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <array>

// Script files (extension SRP): single-byte text with CR LF line ends, every field in double quotes:
//
//   " 2"                          the step count, NumberText(NextStep - 1)
//   "Step","Function","Time"      grid row 0, the header
//   " 1","ElbowUp"," 2.5"         grid rows 1 .. count, cell texts exactly as they stand
//   " 2","Pause"," 1"
//
// Nothing is escaped: a quote inside a cell is written as it is (and ends the field when read back).

// The three cell texts of one grid row: Step, Function, Time.
using ScriptRow = std::array<QString, 3>;

// The bytes of a script file for grid rows 0 (the header) to rows.size() - 1; the count line says
// rows.size() - 1. Cell text is written as Latin-1, the single-byte set the reader uses.
QByteArray ScriptFileBytes(const QList<ScriptRow> &rows);

// Writes ScriptFileBytes(rows) to path through a temporary file in the same folder that replaces
// the target only once everything is written, so a failure never damages an existing file.
// Returns an empty string on success, otherwise a sentence telling why the file was not written.
QString WriteScriptFile(const QString &path, const QList<ScriptRow> &rows);

// Splits the text of a script file into fields: commas and line ends (CR LF, CR or LF) separate
// fields alike; blanks and tabs before a field are skipped; a field that starts with a double quote
// runs to the next double quote and whatever follows it up to the next separator is dropped; any
// other field runs to the next separator, its trailing blanks and tabs removed. Two separators in a
// row give an empty field, so does a comma at the very end; a line end at the very end gives none.
QList<QString> ScriptFileFields(const QByteArray &bytes);

// What loading a script file does to the grid, worked out before the grid is touched.
//
// The window follows it in this order:
//   1. error not empty: the file could not be opened or read, or it is not a script (notAScript);
//      show error, change nothing at all (neither the grid nor the remembered file name nor the title).
//   2. Otherwise remember the path, run Clear (14 rows, NextStep 1, title "Tessaro").
//   3. countValid false: stop here. The count does not fit the 16-bit step counter; the cleared grid
//      and NextStep 1 stay, the title stays "Tessaro".
//   4. NextStep := nextStep; append rowsToAppend empty rows (one for each k = 10 .. nextStep).
//   5. Put records[r] into the Step, Function and Time cells of row r, r = 0 .. records.size() - 1
//      (record 0 replaces the header texts). records.size() can be below nextStep when the file
//      holds fewer steps than it announces; those rows stay empty but still count as steps.
//   6. Set the title to "Tessaro (" + path + ")" when the file was read whole.
//   7. Show ScriptLoadWarning when there is one, so that a Save does not shorten the file unknowingly.
struct ScriptLoad
{
    QString error;
    // The file is empty, or its first field is not a number as a whole ("Hello", "3 apples"): a text
    // file of some other kind, not a script that lost its steps.
    bool notAScript = false;
    bool countValid = false;
    bool countTooLarge = false; // the count is above the 32766 steps the counter can hold
    QString countText;          // the count field as it stands in the file, trimmed
    qint16 nextStep = 1;
    int rowsToAppend = 0;
    QList<ScriptRow> records;
};

// The largest step count a script file can announce: NextStep is a 16-bit counter.
constexpr int MaxScriptSteps = 32766;

// Interprets the bytes of a script file (after a UTF-8 byte-order mark, when there is one, as editors
// put one in front of the text): the first field is the step count (notAScript when it is missing or
// not a number as a whole, a count too large to hold aside), LeadingNumber of it plus
// one rounded half-to-even gives NextStep. A negative count gives an empty script (nextStep 1, only
// the header record is read). Then records of three fields each are taken for rows 0 to nextStep - 1
// as far as the file holds complete ones; a record cut short by the end of the file is dropped. A step's
// Function that names a step function in another case ("elbowup") is taken in the name's own case.
ScriptLoad ParseScriptFile(const QByteArray &bytes);

// Reads the whole file, then ParseScriptFile. When it cannot be opened or read, error says so:
// "Cannot read <path>: <reason>"; for a file that is not a script, NotAScriptText(path).
ScriptLoad LoadScriptFile(const QString &path);

// "NAME is not a Tessaro script (its first line is not a step count)", NAME being the file's name.
QString NotAScriptText(const QString &path);

// A sentence for the operator when the file at path was not read whole: its count does not fit the
// step counter, or it holds fewer steps than it announces; it names the file, the steps announced and
// the steps read. Empty when the file was read whole (or could not be read at all).
QString ScriptLoadWarning(const ScriptLoad &load, const QString &path);
