#include "ScriptModel.h"

#include "RunProgress.h"
#include "ScriptCheck.h"
#include "ScriptNumbers.h"
#include "StepFunctions.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

// Codes 1 to 5 and 6 to 10 are the same five motors in opposite directions.
int oppositeCode(int code)
{
    if (code <= 0)
        return 0;
    return code <= 5 ? code + 5 : code - 5;
}

} // namespace

ScriptModel::ScriptModel(QObject *parent) : QAbstractTableModel(parent) {}

int ScriptModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int ScriptModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : Columns;
}

QVariant ScriptModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid())
        return QVariant();
    if (role == Qt::ToolTipRole && index.column() == 1 && unknownStep(index.row() + 1))
        return QStringLiteral("Not a motion: a run sends nothing for this step, so the motion before it "
                              "keeps running through it.");
    if (role == Qt::ToolTipRole && index.column() == 2 && badTime(index.row() + 1))
        return QStringLiteral("Not a time (the editor takes 0 to 1000000000 seconds, digits and one \".\"): "
                              "a run makes this step last %1.")
            .arg(RunProgress::durationText(RunProgress::stepSeconds(m_rows[index.row()][2])));
    if (role != Qt::DisplayRole && role != Qt::EditRole)
        return QVariant();
    return m_rows[index.row()][size_t(index.column())];
}

bool ScriptModel::unknownStep(int row) const
{
    if (row < 1 || row >= m_nextStep || row >= rows())
        return false;
    const ScriptRow &cells = m_rows[row - 1];
    return IsUnknownStep(cells[1], cells[2]);
}

bool ScriptModel::badTime(int row) const
{
    if (row < 1 || row >= m_nextStep || row >= rows())
        return false;
    const ScriptRow &cells = m_rows[row - 1];
    return IsBadStepTime(cells[1], cells[2]);
}

QList<ScriptRow> ScriptModel::stepRows() const
{
    return m_rows.mid(0, stepCount());
}

QVariant ScriptModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= Columns)
        return QVariant();
    return m_header[size_t(section)];
}

Qt::ItemFlags ScriptModel::flags(const QModelIndex &index) const
{
    // Cells are edited through the window's own editor, never by the view.
    return index.isValid() ? Qt::ItemIsSelectable | Qt::ItemIsEnabled : Qt::NoItemFlags;
}

void ScriptModel::setRows(int rows)
{
    const int wanted = qMax(rows, 1) - 1;
    const int have = int(m_rows.size());
    if (wanted > have) {
        beginInsertRows(QModelIndex(), have, wanted - 1);
        m_rows.resize(wanted);
        endInsertRows();
    } else if (wanted < have) {
        beginRemoveRows(QModelIndex(), wanted, have - 1);
        m_rows.resize(wanted);
        endRemoveRows();
    }
}

void ScriptModel::appendRow()
{
    setRows(rows() + 1);
}

void ScriptModel::removeRow(int row)
{
    if (row < 1 || row >= rows())
        return;
    beginRemoveRows(QModelIndex(), row - 1, row - 1);
    m_rows.removeAt(row - 1);
    endRemoveRows();
}

QString ScriptModel::text(int row, int col) const
{
    if (col < 0 || col >= Columns || row < 0 || row >= rows())
        return QString();
    return row == 0 ? m_header[size_t(col)] : m_rows[row - 1][size_t(col)];
}

void ScriptModel::setText(int row, int col, const QString &text)
{
    if (col < 0 || col >= Columns || row < 0 || row >= rows())
        return;
    if (row == 0) {
        m_header[size_t(col)] = text;
        Q_EMIT headerDataChanged(Qt::Horizontal, col, col);
        return;
    }
    m_rows[row - 1][size_t(col)] = text;
    emitCells(row, row, col, col);
}

ScriptRow ScriptModel::rowTexts(int row) const
{
    if (row < 0 || row >= rows())
        return ScriptRow();
    return row == 0 ? m_header : m_rows[row - 1];
}

void ScriptModel::setRowTexts(int row, const ScriptRow &texts)
{
    if (row < 0 || row >= rows())
        return;
    if (row == 0) {
        m_header = texts;
        Q_EMIT headerDataChanged(Qt::Horizontal, 0, Columns - 1);
        return;
    }
    m_rows[row - 1] = texts;
    emitCells(row, row, 0, Columns - 1);
}

void ScriptModel::setNextStep(qint16 nextStep)
{
    if (m_nextStep == nextStep)
        return;
    m_nextStep = nextStep;
    Q_EMIT nextStepChanged();
}

int ScriptModel::stepCount() const
{
    return qBound(0, m_nextStep - 1, int(m_rows.size()));
}

ScriptModel::Step ScriptModel::step(int row) const
{
    return Step{text(row, 1), text(row, 2)};
}

ScriptModel::Snapshot ScriptModel::snapshot() const
{
    return Snapshot{m_header, m_rows, m_nextStep};
}

void ScriptModel::restore(Snapshot snapshot)
{
    beginResetModel();
    m_header = std::move(snapshot.header);
    m_rows = std::move(snapshot.rows);
    m_nextStep = snapshot.nextStep;
    endResetModel();
    Q_EMIT headerDataChanged(Qt::Horizontal, 0, Columns - 1);
    Q_EMIT nextStepChanged();
}

bool ScriptModel::validStep(int row) const
{
    return row >= 1 && row < m_nextStep && row <= m_rows.size();
}

bool ScriptModel::canAdd(int count) const
{
    // The whole script has to be in the grid for its steps to be shifted.
    return count >= 0 && m_nextStep >= 1 && m_nextStep - 1 <= m_rows.size() &&
           m_nextStep - 1 + count <= MaxNextStep - 1;
}

void ScriptModel::shiftDown(int from, int to)
{
    // Row `to` holds the empty Function and Time of a new row; they end up in row `from`.
    for (int row = to; row > from; --row) {
        std::swap(m_rows[row - 1][1], m_rows[row - 2][1]);
        std::swap(m_rows[row - 1][2], m_rows[row - 2][2]);
    }
}

void ScriptModel::shiftUp(int from, int to)
{
    for (int row = from; row < to; ++row) {
        std::swap(m_rows[row - 1][1], m_rows[row][1]);
        std::swap(m_rows[row - 1][2], m_rows[row][2]);
    }
}

void ScriptModel::emitCells(int firstRow, int lastRow, int firstCol, int lastCol)
{
    if (firstRow > lastRow)
        return;
    Q_EMIT dataChanged(index(firstRow - 1, firstCol), index(lastRow - 1, lastCol), {Qt::DisplayRole});
}

bool ScriptModel::insertStep(int row, const Step &step)
{
    if (row < 1 || row > m_nextStep || !canAdd(1))
        return false;
    const int last = m_nextStep;
    beginInsertRows(QModelIndex(), last - 1, last - 1);
    m_rows.insert(last - 1, ScriptRow{NumberText(last), QString(), QString()});
    endInsertRows();
    shiftDown(row, last);
    m_rows[row - 1][1] = step.function;
    m_rows[row - 1][2] = step.time;
    ++m_nextStep;
    emitCells(row, last, 1, 2);
    Q_EMIT nextStepChanged();
    return true;
}

bool ScriptModel::uninsertStep(int row)
{
    // Takes back exactly the row the insert added: no padding.
    return removeStep(row, false, nullptr);
}

bool ScriptModel::deleteStep(int row, DeletedStep *deleted)
{
    return removeStep(row, true, deleted);
}

bool ScriptModel::removeStep(int row, bool keepStartRows, DeletedStep *deleted)
{
    if (!validStep(row))
        return false;
    const int last = m_nextStep - 1;
    DeletedStep taken;
    taken.step = Step{m_rows[row - 1][1], m_rows[row - 1][2]};
    shiftUp(row, last);
    taken.lastNumber = m_rows[last - 1][0];
    beginRemoveRows(QModelIndex(), last - 1, last - 1);
    m_rows.removeAt(last - 1);
    endRemoveRows();
    --m_nextStep;
    emitCells(row, last - 1, 1, 2);
    if (keepStartRows && rows() < StartRows) {
        appendRow();
        taken.padded = true;
    }
    if (deleted)
        *deleted = taken;
    Q_EMIT nextStepChanged();
    return true;
}

bool ScriptModel::undeleteStep(int row, const DeletedStep &deleted)
{
    if (row < 1 || row > m_nextStep || !canAdd(1))
        return false;
    if (deleted.padded)
        removeRow(rows() - 1);
    insertStep(row, deleted.step);
    setText(m_nextStep - 1, 0, deleted.lastNumber);
    return true;
}

bool ScriptModel::swapSteps(int row)
{
    if (!validStep(row) || !validStep(row + 1))
        return false;
    std::swap(m_rows[row - 1][1], m_rows[row][1]);
    std::swap(m_rows[row - 1][2], m_rows[row][2]);
    emitCells(row, row + 1, 1, 2);
    return true;
}

bool ScriptModel::appendSteps(const QList<Step> &steps)
{
    const int count = int(steps.size());
    if (count == 0 || !canAdd(count))
        return false;
    const int first = m_nextStep;
    beginInsertRows(QModelIndex(), first - 1, first - 1 + count - 1);
    QList<ScriptRow> added;
    added.reserve(count);
    for (int i = 0; i < count; ++i)
        added.append(ScriptRow{NumberText(first + i), steps[i].function, steps[i].time});
    m_rows.insert(first - 1, count, ScriptRow());
    std::move(added.begin(), added.end(), m_rows.begin() + (first - 1));
    m_nextStep = qint16(first + count);
    endInsertRows();
    Q_EMIT nextStepChanged();
    return true;
}

bool ScriptModel::unappendSteps(int count)
{
    if (count <= 0 || count > stepCount() || m_nextStep - 1 > m_rows.size())
        return false;
    const int first = m_nextStep - count;
    beginRemoveRows(QModelIndex(), first - 1, first - 1 + count - 1);
    m_rows.remove(first - 1, count);
    m_nextStep = qint16(first);
    endRemoveRows();
    Q_EMIT nextStepChanged();
    return true;
}

QList<ScriptModel::Step> ScriptModel::returnPath() const
{
    const int steps = stepCount();
    QList<Step> path;
    path.reserve(steps);
    int inEffect = 0;
    for (int row = 1; row <= steps; ++row) {
        const ScriptRow &cells = m_rows[row - 1];
        const int code = StepFunctions::code(cells[1]);
        if (code >= 0)
            inEffect = code;
        path.append(Step{StepFunctions::name(oppositeCode(inEffect)), cells[2]});
    }
    std::reverse(path.begin(), path.end());
    return path;
}

ScriptModel::Totals ScriptModel::totals() const
{
    Totals totals;
    int inEffect = 0;
    const int steps = stepCount();
    for (int row = 1; row <= steps; ++row) {
        const ScriptRow &cells = m_rows[row - 1];
        const int code = StepFunctions::code(cells[1]);
        if (code >= 0)
            inEffect = code;
        const double seconds = LeadingNumber(cells[2]);
        if (seconds > 0 && std::isfinite(seconds)) {
            totals.seconds += seconds;
            if (totals.perCode[size_t(inEffect)] == 0)
                totals.order << inEffect;
            totals.perCode[size_t(inEffect)] += seconds;
        }
    }
    return totals;
}
