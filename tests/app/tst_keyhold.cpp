#include "MacRadioButton.h"
#include "MotionPanel.h"
#include "ScriptGrid.h"
#include "VirtualArmWindow.h"
#include "WindowHarness.h"

#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include <memory>

// A key held the way people hold one: on an X server with auto-repeat on, pressed and let go by xdotool
// through the server, so that the window gets whatever X makes of a held key (a release and a press for
// every repeat), not events that already say what they are. keyhold.sh holds every jog key in the
// program itself; this one looks at the step a hold records.
class tst_KeyHold : public QObject
{
    Q_OBJECT

    struct Received
    {
        int code;
        qint64 ns;
    };

    // Holds the key down for `ms` through the X server and returns every code the arm received from the
    // press until a while after the release.
    QList<Received> hold(WindowHarness &h, const QString &key, int ms)
    {
        QList<Received> received;
        QObject::connect(h.arms.front().get(), &VirtualArm::commandReceived, &h.window(),
                         [&](int code, qint64 ns, const QByteArray &) { received.append({code, ns}); });
        xdotool({QStringLiteral("keydown"), key});
        QTest::qWait(ms);
        xdotool({QStringLiteral("keyup"), key});
        QTest::qWait(MotionPanel::RepeatGapMs + 400);
        h.arms.front()->disconnect(&h.window());
        return received;
    }

    static void xdotool(const QStringList &args)
    {
        QCOMPARE(QProcess::execute(QStringLiteral("xdotool"), args), 0);
    }

    static QList<int> codes(const QList<Received> &received)
    {
        QList<int> codes;
        for (const Received &r : received)
            codes.append(r.code);
        return codes;
    }

    // The window on the X display with the arm picture holding the keyboard, and the virtual arm's
    // window drawing the arm beside it, as `tessaro --virtual-arm` shows them.
    bool openFocused(WindowHarness &h)
    {
        VirtualArm &arm = h.addArm();
        m_armWindow.reset(createVirtualArmWindow(arm));
        m_armWindow->show();
        frmMain &w = h.open();
        w.activateWindow();
        if (!QTest::qWaitForWindowActive(&w))
            return false;
        ui::FrameMain(w)->setFocus();
        return ui::FrameMain(w)->hasFocus();
    }

    std::unique_ptr<QWidget> m_armWindow;

private Q_SLOTS:
    void cleanup() { m_armWindow.reset(); }

    void initTestCase()
    {
        if (QGuiApplication::platformName() != u"xcb")
            QSKIP("needs an X display (the test runs under xvfb-run)");
        if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
            QSKIP("needs xdotool");
        // Auto-repeat as every desktop has it.
        QProcess::execute(QStringLiteral("xset"), {QStringLiteral("r"), QStringLiteral("on")});
    }

    // In Scripting mode a held key records one step, as long as the hold.
    void heldKeyRecordsOneStep()
    {
        WindowHarness h;
        QVERIFY(openFocused(h));
        frmMain &w = h.window();
        ui::optScripting(w)->SetValue(true);
        hold(h, QStringLiteral("w"), 3000);
        QCOMPARE(ui::NextStep(w), qint16(2));
        QCOMPARE(ui::Grid(w)->TextMatrix(1, 1), QStringLiteral("ElbowUp"));
        const double seconds = ui::Grid(w)->TextMatrix(1, 2).toDouble();
        QVERIFY2(seconds >= 2.75 && seconds <= 3.25, qPrintable(ui::Grid(w)->TextMatrix(1, 2)));
    }
};

QTEST_MAIN(tst_KeyHold)
#include "tst_keyhold.moc"
