#pragma once

#include <QLabel>
#include <QWidget>

class MacButton;

// The about window: product name, version and a one-line description over our own artwork.
class frmAbout : public QWidget
{
    Q_OBJECT

public:
    explicit frmAbout(QWidget *parent = nullptr);

    QLabel *Label2 = nullptr;
    QLabel *Label3 = nullptr;
    MacButton *cmdOK = nullptr;

protected:
    // Esc closes the window, as it closes a dialog (the program's stop key stops the arm first).
    void keyPressEvent(QKeyEvent *event) override;
};
