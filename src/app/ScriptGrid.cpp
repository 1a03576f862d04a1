#include "ScriptGrid.h"

#include "ScriptModel.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QProxyStyle>
#include <QScrollBar>
#include <QStyledItemDelegate>

#include <optional>

namespace {

// Qt takes a table's grid line colour from the style only.
class GridLineStyle : public QProxyStyle
{
public:
    int styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
                  QStyleHintReturn *returnData) const override
    {
        if (hint == SH_Table_GridLineColor)
            return int(ScriptGrid::gridLineColour().rgb());
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

// Cells are white on the grey outside area; the fixed Step column looks like the header. The
// selection shows only while the grid's highlighting is on.
class ScriptGridDelegate : public QStyledItemDelegate
{
public:
    explicit ScriptGridDelegate(ScriptGrid *grid) : QStyledItemDelegate(grid), m_grid(grid) {}

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        QStyleOptionViewItem opt(option);
        const bool fixed = index.column() == 0;
        painter->fillRect(opt.rect, fixed ? opt.palette.button() : QBrush(Qt::white));
        // The style draws the current cell's focus frame in a tint of the selection colour; the grid
        // draws its own frame round the current step instead, so outside a run nothing else is drawn.
        if (!m_grid->HighLight())
            opt.state &= ~(QStyle::State_Selected | QStyle::State_HasFocus);
        // A Function text that names no motion stands out, in the one colour the grid has no other use for.
        // So does a Time text that is no time.
        const bool marked = index.column() == 1   ? m_grid->Script()->unknownStep(index.row() + 1)
                            : index.column() == 2 ? m_grid->Script()->badTime(index.row() + 1)
                                                  : false;
        if (marked && !(opt.state & QStyle::State_Selected)) {
            opt.palette.setColor(QPalette::Text, ScriptGrid::unknownStepColour());
            opt.font.setItalic(true);
            opt.fontMetrics = QFontMetrics(opt.font);
        }
        QStyledItemDelegate::paint(painter, opt, index);
        if (index.row() == m_grid->currentIndex().row())
            paintCurrentFrame(painter, opt.rect, index.column());
    }

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        switch (index.column()) {
        case 0:
            option->displayAlignment = Qt::AlignCenter;
            fitNumber(option);
            break;
        case 1:
            option->displayAlignment = Qt::AlignLeft | Qt::AlignVCenter;
            break;
        default:
            option->displayAlignment = Qt::AlignRight | Qt::AlignVCenter;
            fitNumber(option);
            break;
        }
    }

private:
    // The current step's row framed: top and bottom edges in every cell, the sides at the row's ends.
    static void paintCurrentFrame(QPainter *painter, const QRect &cell, int column)
    {
        constexpr int Width = 2;
        const QColor colour = ScriptGrid::currentFrameColour();
        painter->fillRect(QRect(cell.left(), cell.top(), cell.width(), Width), colour);
        painter->fillRect(QRect(cell.left(), cell.bottom() - Width + 1, cell.width(), Width), colour);
        if (column == 0)
            painter->fillRect(QRect(cell.left(), cell.top(), Width, cell.height()), colour);
        if (column == ScriptModel::Columns - 1)
            painter->fillRect(QRect(cell.right() - Width + 1, cell.top(), Width, cell.height()), colour);
    }

    // The narrow Step and Time columns: a number that does not fit is drawn smaller rather than cut
    // to an ellipsis, so that every step can still be told apart and every time read whole.
    static void fitNumber(QStyleOptionViewItem *option)
    {
        const QWidget *view = option->widget;
        const QStyle *style = view ? view->style() : QApplication::style();
        const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1;
        const int room = option->rect.width() - 2 * margin;
        const int needed = option->fontMetrics.horizontalAdvance(option->text);
        option->textElideMode = Qt::ElideNone;
        if (needed <= room || room <= 0 || needed <= 0)
            return;
        QFont smaller = option->font;
        qreal size = smaller.pointSizeF() > 0 ? smaller.pointSizeF() : smaller.pixelSize() * 0.75;
        for (size = size * room / needed; size > 1.0; size -= 0.25) {
            smaller.setPointSizeF(size);
            if (QFontMetrics(smaller).horizontalAdvance(option->text) <= room)
                break;
        }
        option->font = smaller;
        option->fontMetrics = QFontMetrics(smaller);
    }

    ScriptGrid *m_grid;
};

QColor fromWinColour(quint32 v)
{
    return QColor(int(v & 0xff), int((v >> 8) & 0xff), int((v >> 16) & 0xff));
}

quint32 toWinColour(const QColor &c)
{
    return quint32(c.red()) | (quint32(c.green()) << 8) | (quint32(c.blue()) << 16);
}

} // namespace

ScriptGrid::ScriptGrid(QWidget *parent, ScriptModel *script)
    : QTableView(parent), m_script(script ? script : new ScriptModel(this))
{
    setModel(m_script);
    auto *style = new GridLineStyle;
    style->setParent(this);
    setStyle(style);
    setItemDelegate(new ScriptGridDelegate(this));

    setEditTriggers(NoEditTriggers);
    setSelectionMode(SingleSelection);
    setSelectionBehavior(SelectItems);
    setVerticalScrollMode(ScrollPerItem);
    setHorizontalScrollMode(ScrollPerPixel);
    setTabKeyNavigation(false);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setShowGrid(true);
    setFrameShape(QFrame::StyledPanel);

    verticalHeader()->hide();
    QHeaderView *header = horizontalHeader();
    header->setSectionResizeMode(QHeaderView::Fixed);
    header->setSectionsClickable(false);
    header->setHighlightSections(false);
    header->setDefaultAlignment(Qt::AlignCenter);
    header->setStretchLastSection(false);

    const int rowHeight = fontMetrics().height() + 6;
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(rowHeight);
    verticalHeader()->setMinimumSectionSize(rowHeight);
    header->setFixedHeight(rowHeight + 2);

    QPalette pal = palette();
    pal.setColor(QPalette::Base, outsideColour());
    pal.setColor(QPalette::Text, Qt::black);
    pal.setColor(QPalette::HighlightedText, Qt::white);
    setPalette(pal);
    // The header strip beyond the last column belongs to the grey outside area too, whatever colour
    // the window behind the grid has.
    QPalette headerPal = header->palette();
    headerPal.setColor(QPalette::Window, outsideColour());
    headerPal.setColor(QPalette::Base, outsideColour());
    header->setPalette(headerPal);
    header->viewport()->setPalette(headerPal);
    header->viewport()->setAutoFillBackground(true);
    SetBackColorSel(toWinColour(QApplication::palette().color(QPalette::Active, QPalette::Highlight)));

    // A reset (a whole script put back or loaded) keeps the current cell where it can.
    connect(m_script, &QAbstractItemModel::modelAboutToBeReset, this, [this] {
        m_currentBeforeReset = {Row(), Col()};
    });
    connect(m_script, &QAbstractItemModel::modelReset, this, [this] {
        if (Rows() > 1)
            setCurrent(qBound(1, m_currentBeforeReset.first, Rows() - 1) - 1, m_currentBeforeReset.second);
    });
    connect(m_script, &QAbstractItemModel::rowsInserted, this, [this] { ensureCurrent(); });
    // The end of the script decides which Function texts are marked as unknown steps.
    connect(m_script, &ScriptModel::nextStepChanged, viewport(), qOverload<>(&QWidget::update));
}

void ScriptGrid::currentChanged(const QModelIndex &current, const QModelIndex &previous)
{
    QTableView::currentChanged(current, previous);
    // The frame goes round the whole row, not only the cell the view repaints.
    if (previous.isValid())
        viewport()->update(QRect(0, rowViewportPosition(previous.row()), viewport()->width(), rowHeight(previous.row())));
    if (current.isValid())
        viewport()->update(QRect(0, rowViewportPosition(current.row()), viewport()->width(), rowHeight(current.row())));
}

void ScriptGrid::ShowFromFirstStep()
{
    SetRow(1);
    SetTopRow(1);
}

void ScriptGrid::RefuseLeave()
{
    m_leaveRefused = true;
}

bool ScriptGrid::leaveCell()
{
    m_leaveRefused = false;
    Q_EMIT LeaveCell();
    const bool refused = m_leaveRefused;
    m_leaveRefused = false;
    return !refused;
}

int ScriptGrid::Rows() const
{
    return m_script->rows();
}

void ScriptGrid::SetRows(int rows)
{
    m_script->setRows(rows);
}

void ScriptGrid::ensureCurrent()
{
    if (!currentIndex().isValid() && m_script->rowCount() > 0)
        setCurrent(0, 1);
}

int ScriptGrid::Cols() const
{
    return ScriptModel::Columns;
}

QString ScriptGrid::TextMatrix(int row, int col) const
{
    return m_script->text(row, col);
}

void ScriptGrid::SetTextMatrix(int row, int col, const QString &text)
{
    m_script->setText(row, col, text);
}

int ScriptGrid::Row() const
{
    const QModelIndex current = currentIndex();
    return current.isValid() ? current.row() + 1 : 0;
}

int ScriptGrid::Col() const
{
    const QModelIndex current = currentIndex();
    return current.isValid() ? current.column() : 1;
}

void ScriptGrid::SetRow(int row)
{
    if (row < 1 || row >= Rows())
        return;
    setCurrent(row - 1, Col());
}

void ScriptGrid::SetCol(int col)
{
    if (col < 0 || col >= Cols() || Rows() < 2)
        return;
    setCurrent(qMax(Row(), 1) - 1, col);
}

void ScriptGrid::setCurrent(int modelRow, int col)
{
    const QModelIndex index = model()->index(modelRow, col);
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
}

int ScriptGrid::TopRow() const
{
    int first = rowAt(0);
    if (first < 0)
        return Rows() > 1 ? 1 : 0;
    // A row cut at the top edge is not the top row; the one below it is.
    if (rowViewportPosition(first) < 0 && first + 1 < Rows() - 1)
        ++first;
    return first + 1;
}

void ScriptGrid::SetTopRow(int row)
{
    if (row < 1 || row >= Rows())
        return;
    // Row insertions lay out lazily; the scroll range has to be up to date to reach the last rows.
    updateGeometries();
    verticalScrollBar()->setValue(row - 1);
}

void ScriptGrid::AddItem()
{
    m_script->appendRow();
}

void ScriptGrid::RemoveItem(int row)
{
    m_script->removeRow(row);
}

int ScriptGrid::ColWidthTwips(int col) const
{
    return columnWidth(col) * 15;
}

void ScriptGrid::SetColWidthTwips(int col, int twips)
{
    if (col < 0 || col >= Cols())
        return;
    setColumnWidth(col, qRound(twips / 15.0));
}

QRect ScriptGrid::currentCellRect() const
{
    const QModelIndex current = currentIndex();
    if (!current.isValid())
        return QRect();
    return visualRect(current).translated(viewport()->geometry().topLeft());
}

int ScriptGrid::CellLeft() const
{
    return currentCellRect().left();
}

int ScriptGrid::CellTop() const
{
    return currentCellRect().top();
}

int ScriptGrid::CellWidth() const
{
    return currentCellRect().width();
}

int ScriptGrid::CellHeight() const
{
    return currentCellRect().height();
}

quint32 ScriptGrid::BackColorSel() const
{
    return toWinColour(m_backColorSel);
}

void ScriptGrid::SetBackColorSel(quint32 winColour)
{
    m_backColorSel = fromWinColour(winColour);
    QPalette pal = palette();
    // Also while the grid has no focus: a run highlights rows while the Stop button has it.
    pal.setColor(QPalette::Active, QPalette::Highlight, m_backColorSel);
    pal.setColor(QPalette::Inactive, QPalette::Highlight, m_backColorSel);
    const QColor text = qGray(m_backColorSel.rgb()) > 150 ? QColor(Qt::black) : QColor(Qt::white);
    pal.setColor(QPalette::Active, QPalette::HighlightedText, text);
    pal.setColor(QPalette::Inactive, QPalette::HighlightedText, text);
    setPalette(pal);
    viewport()->update();
}

void ScriptGrid::SetHighLight(bool on)
{
    if (m_highLight == on)
        return;
    m_highLight = on;
    viewport()->update();
}

void ScriptGrid::SelectWholeRow(int row)
{
    if (row < 1 || row >= Rows())
        return;
    const QModelIndex current = model()->index(row - 1, Col());
    selectionModel()->setCurrentIndex(current, QItemSelectionModel::NoUpdate);
    const QItemSelection whole(model()->index(row - 1, 0), model()->index(row - 1, Cols() - 1));
    selectionModel()->select(whole, QItemSelectionModel::ClearAndSelect);
}

void ScriptGrid::mousePressEvent(QMouseEvent *event)
{
    m_pressed = QPersistentModelIndex();
    event->accept();
    const QModelIndex index = indexAt(event->position().toPoint());
    if (event->button() != Qt::LeftButton || !index.isValid())
        return;
    // The Step column is fixed: a click on a step's number makes its step current and keeps the
    // column, so the step keys act on the step clicked; it opens no edit.
    const bool number = index.column() == 0;
    const int col = number ? (Col() == 0 ? 1 : Col()) : index.column();
    if (model()->index(index.row(), col) != currentIndex() && !leaveCell())
        return;
    // The handler may have changed the grid; find the cell anew.
    const QModelIndex target = indexAt(event->position().toPoint());
    if (!target.isValid())
        return;
    setCurrent(target.row(), number ? col : target.column());
    if (!number)
        m_pressed = target;
}

void ScriptGrid::mouseReleaseEvent(QMouseEvent *event)
{
    const QPersistentModelIndex pressed = m_pressed;
    m_pressed = QPersistentModelIndex();
    event->accept();
    if (event->button() == Qt::LeftButton && pressed.isValid() &&
        indexAt(event->position().toPoint()) == QModelIndex(pressed))
        Q_EMIT Click();
}

void ScriptGrid::mouseMoveEvent(QMouseEvent *event)
{
    // Dragging would move the current cell behind LeaveCell's back.
    event->accept();
}

void ScriptGrid::mouseDoubleClickEvent(QMouseEvent *event)
{
    // A double click is a click on the cell that the first click already made current.
    mousePressEvent(event);
}

QModelIndex ScriptGrid::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers)
{
    const QModelIndex current = currentIndex();
    QModelIndex next = QTableView::moveCursor(cursorAction, modifiers);
    if (next.isValid() && next.column() == 0)
        next = current.isValid() && current.row() == next.row() ? current : model()->index(next.row(), 1);
    if (next.isValid() && next != current && !leaveCell())
        return current;
    return next;
}

void ScriptGrid::keyboardSearch(const QString &)
{
    // Typing must not jump the current cell to a matching text.
}

void ScriptGrid::keyPressEvent(QKeyEvent *event)
{
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    std::optional<StepKey> key;
    if (mods == Qt::NoModifier && event->key() == Qt::Key_Insert)
        key = StepKey::Insert;
    else if (mods == Qt::NoModifier && event->key() == Qt::Key_Delete)
        key = StepKey::Delete;
    else if (mods == Qt::ControlModifier && event->key() == Qt::Key_Up)
        key = StepKey::MoveUp;
    else if (mods == Qt::ControlModifier && event->key() == Qt::Key_Down)
        key = StepKey::MoveDown;
    if (!key) {
        QTableView::keyPressEvent(event);
        return;
    }
    event->accept();
    Q_EMIT StepKeyPressed(*key);
}

void ScriptGrid::contextMenuEvent(QContextMenuEvent *event)
{
    event->accept();
    const QModelIndex index = indexAt(event->pos());
    if (!index.isValid())
        return;
    if (index.row() != currentIndex().row() && !leaveCell())
        return;
    // The handler may have changed the grid; find the row anew.
    const QModelIndex target = indexAt(event->pos());
    if (!target.isValid())
        return;
    setCurrent(target.row(), Col() == 0 ? 1 : Col());
    Q_EMIT StepMenu(target.row() + 1, event->globalPos());
}
