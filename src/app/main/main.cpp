#include "AppOptions.h"
#include "ArmTransport.h"
#include "ControlOptions.h"
#include "KitArmList.h"
#include "ProcessClock.h"
#include "ScriptEditor.h"
#include "ServiceSocket.h"
#include "SettingsLocation.h"
#include "SideBySide.h"
#include "StopSignals.h"
#include "VirtualArm.h"
#include "VirtualArmChoice.h"
#include "VirtualArmWindow.h"
#include "frmMain.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QTimer>

#include <cstdio>
#include <memory>

namespace {

void printOut(const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stdout);
    std::fflush(stdout);
}

void printError(const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stderr);
}

// Resident memory of this process in kilobytes, from the kernel's status file.
qint64 residentKilobytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> lines = status.readAll().split('\n');
    for (const QByteArray &line : lines) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

} // namespace

int main(int argc, char *argv[])
{
    ProcessClock::markStart();

    // The options that only print must work without a display.
    {
        QStringList arguments;
        for (int i = 0; i < argc; ++i)
            arguments << QString::fromLocal8Bit(argv[i]);
        const AppOptions early = AppOptions::parse(arguments);
        if (!early.error.isEmpty()) {
            // The status of a usage error that tessaro-cli gives too (EX_USAGE), and the error first.
            printError(QStringLiteral("tessaro: %1\nTry 'tessaro --help' for more.\n").arg(early.error));
            return 64;
        }
        if (early.help) {
            printOut(AppOptions::usage());
            return 0;
        }
        if (early.version) {
            printOut(QStringLiteral("tessaro %1\n").arg(QStringLiteral(TESSARO_VERSION)));
            return 0;
        }
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tessaro"));
    QApplication::setApplicationVersion(QStringLiteral(TESSARO_VERSION));
    AppOptions options = AppOptions::parse(QApplication::arguments());
    // Without an option of its own, the environment may ask for the virtual arm, as it does of every
    // owner of the arms (lessons without hardware, tests).
    if (!options.virtualArm && options.virtualArmLog.isEmpty()) {
        VirtualArmChoice choice;
        QString why;
        if (!VirtualArmChoice::fromEnvironment(&choice, &why)) {
            printError(QStringLiteral("tessaro: %1\n").arg(why));
            return 64;
        }
        if (choice.kind != ArmTransport::Virtual::None) {
            options.virtualArm = true;
            options.virtualKit = choice.kind == ArmTransport::Virtual::Kit;
            options.virtualArmLog = choice.logPath;
            if (choice.realistic)
                options.virtualArmFaultSeed = choice.seed;
        }
    }

    ArmTransport hid;
    QString hidError;
    const ArmTransport::Virtual virtualKind = !options.virtualArm ? ArmTransport::Virtual::None
                                              : options.virtualKit ? ArmTransport::Virtual::Kit
                                                                   : ArmTransport::Virtual::Hid;
    if (!hid.make(virtualKind, options.virtualArmLog, &hidError)) {
        printError(QStringLiteral("tessaro: cannot open %1: %2\n").arg(options.virtualArmLog, hidError));
        return 1;
    }
    VirtualArm *virtualArm = hid.arm.get();
    // The interface kits, driven beside the HID arms.
    KitArmList kits(*hid.kits);

    const SettingsLocation settings = settingsFilePath();
    frmMain::Setup setup;
    setup.transport = hid.transport.get();
    setup.kits = &kits;
    setup.settingsReadPath = settings.readPath;
    setup.settingsWritePath = settings.writePath;
    setup.programFolder = QApplication::applicationDirPath();
    const SettingsLocation optionsFile = settingsFilePath(QLatin1StringView(ControlOptionsFileName));
    setup.optionsReadPath = optionsFile.readPath;
    setup.optionsWritePath = optionsFile.writePath;
    // The guard stops the arm should the program die; a virtual arm dies with it, unless its log stands
    // for it.
    setup.guard = !virtualArm || !options.virtualArmLog.isEmpty();
    setup.guardLog = options.virtualArmLog;
    // Served to other programs, as tessaro-cli serve serves them; or watched through the program that does.
    setup.servicePath = ServiceSocket::defaultPath();

    // Named before the window starts up, which makes the program folder current.
    const QString scriptFile =
        options.scriptFile.isEmpty() ? QString() : QFileInfo(options.scriptFile).absoluteFilePath();

    frmMain window(setup);
    std::unique_ptr<QWidget> armWindow;
    // A window that watches another owner's arm has no arm of its own to show.
    if (virtualArm && !options.startupProbe && options.screenshotPath.isEmpty() && window.WatchedOwner().isEmpty())
        armWindow.reset(createVirtualArmWindow(
            *virtualArm, nullptr,
            options.virtualArmFaultSeed ? ArmFaults::realistic(*options.virtualArmFaultSeed) : ArmFaults()));
    // Both placed before either is shown: a window manager puts a window that is already up where its
    // own rule says, which may leave the title bar off the screen.
    if (armWindow)
        window.SetVirtualArmWindow(armWindow.get());
    if (armWindow)
        showBesideMainWindow(window, *armWindow);
    else
        window.show();
    // A file that cannot be read is reported as Load reports it, over an empty script.
    if (!scriptFile.isEmpty())
        QTimer::singleShot(0, &window, [&window, scriptFile] { window.Editor().LoadScript(scriptFile); });

    if (options.startupProbe) {
        // After the script named on the command line, if any, has been opened; the timer also fires
        // inside the loop of a message box that opening raised, and the box is listed.
        QTimer::singleShot(0, &app, [&window] {
            printOut(QStringLiteral("startup_ms %1\nrss_kb %2\ntitle %3\n")
                         .arg(ProcessClock::secondsSinceStart() * 1000.0, 0, 'f', 3)
                         .arg(residentKilobytes())
                         // As the title bar shows it: the unsaved-changes mark in place of its placeholder.
                         .arg(QString(window.windowTitle())
                                  .replace(QStringLiteral("[*]"),
                                           window.isWindowModified() ? QStringLiteral("*") : QString())));
            for (QWidget *widget : QApplication::topLevelWidgets()) {
                if (const auto *box = qobject_cast<QMessageBox *>(widget); box && box->isVisible())
                    printOut(QStringLiteral("message %1: %2\n").arg(box->windowTitle(), box->text()));
            }
            QApplication::quit();
        });
    }
    if (!options.screenshotPath.isEmpty()) {
        QTimer::singleShot(0, &app, [&window, &options] {
            if (!window.grab().save(options.screenshotPath))
                printError(QStringLiteral("tessaro: cannot write %1\n").arg(options.screenshotPath));
            QApplication::quit();
        });
    }

    // A session ending, Ctrl-C in the terminal it was started from, or that terminal closed: the arm is
    // stopped at once, then the window closes as its close does; a second signal quits without asking.
    StopSignals stopSignals{SIGTERM, SIGINT, SIGHUP};
    if (stopSignals.notifier()) {
        QObject::connect(stopSignals.notifier(), &QSocketNotifier::activated, &window,
                         [&stopSignals, &window, caught = 0]() mutable {
                             if (stopSignals.take() == 0)
                                 return;
                             window.StopEverything();
                             if (++caught == 1)
                                 window.close();
                             else
                                 QApplication::quit();
                         });
    }

    const int status = app.exec();
    armWindow.reset();
    return status;
}
