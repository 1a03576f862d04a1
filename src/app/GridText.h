#pragma once

#include <QLineEdit>

// The borderless editor laid over a script grid cell while it is edited. It lets through only what
// the cell can hold: letters in the Function column, digits and "." elsewhere, plus Backspace; other
// typed characters (Enter and Escape included, also Ctrl+V and the like) are dropped, while cursor and
// Delete keys work as in any text box. Enter and Escape are reported as signals; the window decides
// what they do. The whole text is selected whenever the editor gets the focus, so the first character
// typed replaces it.
class GridText : public QLineEdit
{
    Q_OBJECT
public:
    enum class Filter {
        Letters, // A-Z, a-z: the Function column
        Number,  // 0-9 and ".": the Time column and any other
    };

    explicit GridText(QWidget *parent = nullptr);

    Filter CharFilter() const { return m_filter; }
    void SetCharFilter(Filter filter) { m_filter = filter; }

    // Whether a typed character reaches the text under the filter. Backspace always does.
    static bool Accepts(Filter filter, QChar ch);

Q_SIGNALS:
    // Key down of Enter (13) and of Escape (27).
    void EnterPressed();
    void EscapePressed();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;

private:
    Filter m_filter = Filter::Letters;
};
