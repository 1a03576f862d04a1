// Feeds arbitrary bytes to the script file reader, then saves what it read and reads that back: a
// loaded script that is saved again must load into the same grid.

#include "ScriptFile.h"
#include "StepFunctions.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

// The file format escapes nothing, so a cell holding a double quote comes back cut at the quote.
QString readBack(const QString &cell)
{
    const qsizetype quote = cell.indexOf(u'"');
    return quote < 0 ? cell : cell.left(quote);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    const ScriptLoad load = ParseScriptFile(bytes);
    if (!load.error.isEmpty())
        abort(); // only the file layer reports errors
    if (!load.countValid) {
        if (load.nextStep != 1 || load.rowsToAppend != 0 || !load.records.isEmpty())
            abort();
        return 0;
    }
    if (load.nextStep < 1 || load.records.size() > load.nextStep ||
        load.rowsToAppend != std::max(0, load.nextStep - 9))
        abort();

    // The grid after loading: the rows the file filled, header included.
    QList<ScriptRow> grid = load.records;
    for (qsizetype r = 0; r < grid.size(); ++r) {
        for (QString &cell : grid[r]) {
            for (QChar c : cell) {
                if (c.unicode() > 0xFF)
                    abort(); // the reader is single-byte
            }
            cell = readBack(cell);
        }
        // Cut at a quote, a function may become a step name in another case, which the reader takes
        // in its proper case.
        QString &function = grid[r][1];
        if (r > 0 && StepFunctions::code(function) < 0 && !StepFunctions::canonical(function).isEmpty())
            function = StepFunctions::canonical(function);
    }
    const ScriptLoad again = ParseScriptFile(ScriptFileBytes(load.records));
    if (!again.error.isEmpty() || !again.countValid)
        abort();
    if (again.nextStep != qMax<qsizetype>(1, load.records.size()) || again.records != grid)
        abort();
    return 0;
}
