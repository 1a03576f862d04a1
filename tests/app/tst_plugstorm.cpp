// A thousand arrivals and removals of arms and of an unrelated device while the window works: while
// the operator jogs and while a script runs. After every event the device list must match the open
// arm interfaces, the status must say whether an arm is there, and no code may reach anything but
// an open arm.

#include "ArmDeviceList.h"
#include "HIDagentX.h"
#include "MacButtonD.h"
#include "ScriptDialogs.h"
#include "ScriptGrid.h"
#include "ScriptRunner.h"
#include "TVantor.h"
#include "WindowHarness.h"

#include <QMutex>
#include <QRandomGenerator>
#include <QSet>
#include <QTest>
#include <QTimer>

#include <atomic>

namespace {

enum class Activity { Jogging, Scripting };

constexpr int StormEvents = 1000;

} // namespace

Q_DECLARE_METATYPE(Activity)

namespace {

class Storm
{
public:
    Storm(WindowHarness &h, int armCount, quint32 seed) : m_h(h), m_random(seed)
    {
        for (int i = 0; i < armCount; ++i)
            h.addArm();
        m_mouse = h.transport.addOtherDevice();
        QObject::connect(&h.transport, &VirtualHidTransport::reportWritten, &m_guard,
                         [this](const QString &path, const QByteArray &, qint64) { onWritten(path); },
                         // Judged the moment the report is delivered, on whichever thread wrote it.
                         Qt::DirectConnection);
    }

    int events() const { return m_events; }
    bool done() const { return m_events >= StormEvents; }
    // The first broken expectation, empty while all hold.
    QString fault() const
    {
        const QMutexLocker lock(&m_faultLock);
        return m_fault;
    }

    int pluggedArms() const
    {
        int n = 0;
        for (const auto &arm : m_h.arms)
            n += arm->isPluggedIn() ? 1 : 0;
        return n;
    }

    // Plugs or unplugs one device chosen at random; the mouse comes up as often as each arm.
    void next()
    {
        const int pick = int(m_random.bounded(quint32(m_h.arms.size() + 1)));
        if (pick == int(m_h.arms.size())) {
            if (m_mouse->isPlugged())
                m_h.transport.unplug(m_mouse->info.path);
            else
                m_h.transport.plug(m_mouse->info.path);
        } else {
            VirtualArm &arm = *m_h.arms[size_t(pick)];
            if (arm.isPluggedIn())
                arm.unplug();
            else
                arm.plugIn();
        }
        ++m_events;
        check();
    }

    int randomButton() { return int(m_random.bounded(11u)); }

    // The device list holds one object per open arm interface, each bound to an open interface; the
    // status is Ready exactly while an arm is open; only open interfaces are open.
    void check()
    {
        frmMain &w = m_h.window();
        const int open = w.session().agent().IntfCount();
        QSet<int> handles;
        for (int i = 0; i < open; ++i)
            handles.insert(w.session().agent().SelectIntf(i));
        int openOnTransport = 0;
        for (VirtualHidInterface *intf : m_h.transport.interfaces())
            openOnTransport += intf->isOpen() ? 1 : 0;
        QSet<int> bound;
        for (int i = 1; i <= w.session().devices().Count(); ++i) {
            const TVantor::VarRef out = w.session().devices().Item(i)->OutVar1();
            if (!out->IsBound() || !handles.contains(out->HidHandle()))
                return fail(QStringLiteral("device %1 is not bound to an open interface").arg(i));
            bound.insert(out->HidHandle());
        }
        if (open != pluggedArms())
            return fail(
                QStringLiteral("%1 interfaces open for %2 arms plugged").arg(open).arg(pluggedArms()));
        if (openOnTransport != open)
            return fail(
                QStringLiteral("%1 connections for %2 open interfaces").arg(openOnTransport).arg(open));
        if (bound.size() != open || w.session().devices().Count() != open)
            return fail(QStringLiteral("%1 device objects on %2 interfaces for %3 open")
                            .arg(w.session().devices().Count())
                            .arg(bound.size())
                            .arg(open));
        const bool ready = w.ConnectionState() == frmMain::Ready;
        if (ready != (open > 0))
            return fail(QStringLiteral("status %1 with %2 arms open").arg(ui::lblDisp(w)->text()).arg(open));
    }

private:
    void onWritten(const QString &path)
    {
        VirtualHidInterface *intf = m_h.transport.interface(path);
        if (intf == m_mouse)
            return fail(QStringLiteral("a code went to the mouse"));
        if (!intf || !intf->isPlugged() || !intf->isOpen())
            return fail(QStringLiteral("a code went to %1, which is not open").arg(path));
    }

    void fail(const QString &what)
    {
        const QMutexLocker lock(&m_faultLock);
        if (m_fault.isEmpty())
            m_fault = QStringLiteral("after %1 events: %2").arg(m_events.load()).arg(what);
    }

    WindowHarness &m_h;
    QRandomGenerator m_random;
    VirtualHidInterface *m_mouse = nullptr;
    QObject m_guard;
    std::atomic<int> m_events{0};
    mutable QMutex m_faultLock;
    QString m_fault;
};

// Keeps the messages the window would show; a real box would wait for a person.
class QuietDialogs : public ScriptDialogs
{
public:
    QStringList messages;
    QString openFileName(QWidget *, const QString &, const QString &) override { return QString(); }
    QString saveFileName(QWidget *, const QString &, const QString &) override { return QString(); }
    void errorMessage(QWidget *, const QString &, const QString &text) override { messages.append(text); }
    void warningMessage(QWidget *, const QString &, const QString &text) override { messages.append(text); }
};

// Codes the window sent with one click, as each plugged arm received them.
QList<int> receivedSince(const WindowHarness &h, int arm, qsizetype from)
{
    QList<int> codes;
    for (qsizetype i = from; i < h.received.size(); ++i) {
        if (h.received[i].first == arm)
            codes.append(h.received[i].second);
    }
    return codes;
}

} // namespace

class tst_PlugStorm : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void storm_data()
    {
        QTest::addColumn<int>("arms");
        QTest::addColumn<Activity>("activity");
        QTest::newRow("one arm, jogging") << 1 << Activity::Jogging;
        QTest::newRow("two arms, jogging") << 2 << Activity::Jogging;
        QTest::newRow("one arm, script running") << 1 << Activity::Scripting;
        QTest::newRow("two arms, script running") << 2 << Activity::Scripting;
    }

    void storm()
    {
        QFETCH(int, arms);
        QFETCH(Activity, activity);
        WindowHarness h;
        Storm storm(h, arms, 15u + quint32(arms));
        frmMain &w = h.open();
        QuietDialogs dialogs;
        w.SetScriptDialogs(&dialogs);
        storm.check();

        if (activity == Activity::Jogging) {
            while (!storm.done() && storm.fault().isEmpty()) {
                storm.next();
                // Every plugged arm hears the one code a click sends; nothing goes out while none is.
                const qsizetype before = h.received.size();
                h.click(storm.randomButton());
                const QList<int> first = receivedSince(h, 0, before);
                for (int a = 0; a < arms; ++a) {
                    const QList<int> codes = receivedSince(h, a, before);
                    const qsizetype expected = h.arms[size_t(a)]->isPluggedIn() ? 1 : 0;
                    QVERIFY2(codes.size() == expected,
                             qPrintable(QStringLiteral("arm %1 got %2 codes after %3 events")
                                            .arg(a)
                                            .arg(codes.size())
                                            .arg(storm.events())));
                    if (a > 0 && !first.isEmpty() && !codes.isEmpty())
                        QCOMPARE(codes, first);
                }
            }
        } else {
            // Short steps that repeat for as long as the storm lasts; the storm moves inside the run.
            const QList<QPair<QString, QString>> steps{{QStringLiteral("ElbowUp"), QStringLiteral(" .001")},
                                                       {QStringLiteral("BaseCW"), QStringLiteral(" .001")},
                                                       {QStringLiteral("Pause"), QStringLiteral(" .001")}};
            for (int i = 0; i < steps.size(); ++i) {
                ui::Grid(w)->SetTextMatrix(i + 1, 0, QStringLiteral(" %1").arg(i + 1));
                ui::Grid(w)->SetTextMatrix(i + 1, 1, steps[i].first);
                ui::Grid(w)->SetTextMatrix(i + 1, 2, steps[i].second);
            }
            ui::Script(w)->setNextStep(qint16(steps.size() + 1));
            ui::txtReps(w)->setText(QStringLiteral("32767"));
            QTimer stormTimer;
            QObject::connect(&stormTimer, &QTimer::timeout, &w, [&] {
                if (storm.done() || !storm.fault().isEmpty())
                    w.session().stopRun();
                else
                    storm.next();
            });
            int runs = 0;
            while (!storm.done() && storm.fault().isEmpty()) {
                if (w.ConnectionState() != frmMain::Ready) {
                    storm.next();
                    continue;
                }
                const qsizetype told = dialogs.messages.size();
                stormTimer.start(1);
                QTest::mouseClick(ui::cmdRun(w), Qt::LeftButton);
                stormTimer.stop();
                ++runs;
                QVERIFY(!w.session().running());
                storm.check();
                // A run that lost its last arm says so once; the storm's own stop says nothing.
                QVERIFY(dialogs.messages.size() - told <= 1);
                if (w.ConnectionState() != frmMain::Ready)
                    QCOMPARE(dialogs.messages.size(), told + 1);
            }
            QVERIFY(runs > 1);
            QVERIFY(!dialogs.messages.isEmpty());
            QCOMPARE(dialogs.messages.first(), frmMain::DisconnectedDuringRunText);
        }
        QVERIFY2(storm.fault().isEmpty(), qPrintable(storm.fault()));
        QCOMPARE(storm.events(), StormEvents);

        // Every connection is given back when the window goes.
        h.destroyWindow();
        for (VirtualHidInterface *intf : h.transport.interfaces())
            QVERIFY2(!intf->isOpen(), qPrintable(intf->info.path));
    }
};

QTEST_MAIN(tst_PlugStorm)
#include "tst_plugstorm.moc"
