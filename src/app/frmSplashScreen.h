#pragma once

#include <QLabel>
#include <QTimer>
#include <QWidget>

#include <functional>

// The splash window: shown for three seconds, then it brings up the main window and goes.
class frmSplashScreen : public QWidget
{
    Q_OBJECT

public:
    // mainWindow returns the main window, creating it (and so running its start-up) when needed.
    explicit frmSplashScreen(std::function<QWidget *()> mainWindow, QWidget *parent = nullptr);

    QLabel *Label2 = nullptr;
    QTimer *Timer = nullptr;

private:
    void Timer_Timer();

    std::function<QWidget *()> m_mainWindow;
};
