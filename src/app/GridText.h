#pragma once

#include <QLineEdit>

// The borderless editor laid over a script grid cell while it is edited. In the Function column it
// lets through only letters and Backspace; elsewhere (the Time column) every printable character, the
// commit deciding whether the text is a time. Other typed characters (Enter and Escape included, also
// Ctrl+V and the like) are dropped, while cursor and Delete keys work as in any text box. Enter and Escape are reported as signals; the window decides
// what they do. The whole text is selected whenever the editor gets the focus, so the first character
// typed replaces it.
//
// As letters are typed, the step function names they begin are offered in a list below the editor
// (none once the text is a whole name). Picking one with the arrow keys or the mouse puts it in the
// editor; Enter still commits what the editor holds, and Escape with the list open closes only the
// list.
class GridText : public QLineEdit
{
    Q_OBJECT
public:
    enum class Filter {
        Letters, // A-Z, a-z: the Function column
        Number,  // every printable character: the Time column and any other
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
    void hideEvent(QHideEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    Filter m_filter = Filter::Letters;
};
