// Figures of large scripts in the main window: loading and saving a file of the most steps a file can
// hold, recording a step at the end of a long script, and the memory a script takes per step.
//
//   bench_scriptfile [--runs R] [--records N]
//
// Each load and save is timed from the click's handler to the handler's return, and a load also to the
// end of the first paint of the window that follows it.

#include "HoverButton.h"
#include "MacRadioButton.h"
#include "ScriptDialogs.h"
#include "ScriptEditor.h"
#include "ScriptFile.h"
#include "ScriptNumbers.h"
#include "StepFunctions.h"
#include "VirtualArm.h"
#include "VirtualHidTransport.h"
#include "WindowControls.h"
#include "frmMain.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMetaObject>
#include <QTemporaryDir>
#include <QTimer>

#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

constexpr int MostSteps = 32766;

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t index = std::min(values.size() - 1, size_t(p / 100.0 * double(values.size() - 1) + 0.5));
    return values[index];
}

double residentMb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return 0;
}

class FixedDialogs : public ScriptDialogs
{
public:
    QString path;
    QString openFileName(QWidget *, const QString &, const QString &) override { return path; }
    QString saveFileName(QWidget *, const QString &, const QString &) override { return path; }
    void errorMessage(QWidget *, const QString &title, const QString &text) override
    {
        std::printf("unexpected message: %s: %s\n", qPrintable(title), qPrintable(text));
    }
    void warningMessage(QWidget *parent, const QString &title, const QString &text) override
    {
        errorMessage(parent, title, text);
    }
};

struct Rig
{
    QTemporaryDir dir;
    VirtualHidTransport transport;
    VirtualArm arm{transport};
    FixedDialogs dialogs;
    std::unique_ptr<frmMain> window;

    Rig()
    {
        frmMain::Setup setup;
        setup.transport = &transport;
        setup.settingsReadPath = dir.filePath(QStringLiteral("KORIV.INI"));
        setup.settingsWritePath = setup.settingsReadPath;
        window = std::make_unique<frmMain>(setup);
        window->SetScriptDialogs(&dialogs);
        window->show();
        QCoreApplication::processEvents();
    }

    // A file of `steps` steps as recording writes them, every motion in turn.
    QString writeScript(int steps)
    {
        QList<ScriptRow> rows{{QStringLiteral("Step"), QStringLiteral("Function"), QStringLiteral("Time")}};
        for (int i = 1; i <= steps; ++i)
            rows.append({NumberText(i), StepFunctions::name(i % StepFunctions::Count), NumberText((i % 8) / 4.0)});
        const QString path = dir.filePath(QStringLiteral("steps-%1.SRP").arg(steps));
        if (!WriteScriptFile(path, rows).isEmpty())
            std::printf("cannot write %s\n", qPrintable(path));
        return path;
    }

    // Milliseconds of the load handler, and up to the end of the paint after it.
    std::pair<double, double> load(const QString &path)
    {
        dialogs.path = path;
        QElapsedTimer timer;
        timer.start();
        window->cmdLoad_Click();
        const double handler = double(timer.nsecsElapsed()) / 1e6;
        window->repaint();
        return {handler, double(timer.nsecsElapsed()) / 1e6};
    }

    double save(const QString &path)
    {
        window->Editor().SetFileName(path);
        QElapsedTimer timer;
        timer.start();
        window->Script_Save();
        return double(timer.nsecsElapsed()) / 1e6;
    }
};

void loadAndSave(int runs)
{
    Rig rig;
    const QString source = rig.writeScript(MostSteps);
    const QString copy = rig.dir.filePath(QStringLiteral("copy.SRP"));
    std::vector<double> loadMs, paintedMs, saveMs;
    for (int run = 0; run < runs; ++run) {
        const auto [handler, painted] = rig.load(source);
        loadMs.push_back(handler);
        paintedMs.push_back(painted);
        saveMs.push_back(rig.save(copy));
        QCoreApplication::processEvents();
    }
    // The parts of those that are the file alone, without the window.
    std::vector<double> parseMs, bytesMs;
    QList<ScriptRow> rows;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        const ScriptLoad parsed = LoadScriptFile(source);
        parseMs.push_back(double(timer.nsecsElapsed()) / 1e6);
        rows = parsed.records;
        timer.restart();
        const QByteArray bytes = ScriptFileBytes(rows);
        bytesMs.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    if (ui::NextStep(*rig.window) != MostSteps + 1)
        std::printf("load: NextStep is %d, not %d\n", int(ui::NextStep(*rig.window)), MostSteps + 1);
    QFile a(source), b(copy);
    const bool same = a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly) && a.readAll() == b.readAll();
    std::printf("load of %d steps over %d runs: median %.1f ms, max %.1f ms; to the end of the next paint: "
                "median %.1f ms, max %.1f ms (goal < 100 ms)\n",
                MostSteps, runs, percentile(loadMs, 50), percentile(loadMs, 100), percentile(paintedMs, 50),
                percentile(paintedMs, 100));
    std::printf("save of %d steps over %d runs: median %.1f ms, max %.1f ms (goal < 100 ms); the saved file %s "
                "the loaded one\n",
                MostSteps, runs, percentile(saveMs, 50), percentile(saveMs, 100), same ? "equals" : "DIFFERS FROM");
    std::printf("of which the file alone: reading and parsing median %.1f ms, making the bytes median %.1f ms\n",
                percentile(parseMs, 50), percentile(bytesMs, 50));
}

void recordAtTheEnd(int records)
{
    Rig rig;
    rig.load(rig.writeScript(MostSteps - records));
    frmMain &w = *rig.window;
    ui::optScripting(w)->SetValue(true);
    std::vector<double> beginMs, endMs;
    for (int i = 0; i < records; ++i) {
        HoverButton *button = ui::cmdControl(w)[size_t(1 + i % 10)];
        QElapsedTimer timer;
        timer.start();
        Q_EMIT button->indexClicked(1 + i % 10);
        beginMs.push_back(double(timer.nsecsElapsed()) / 1e6);
        QMetaObject::invokeMethod(w.session().stepTimer(), "timeout");
        timer.restart();
        Q_EMIT button->indexClicked(1 + i % 10);
        endMs.push_back(double(timer.nsecsElapsed()) / 1e6);
        QCoreApplication::processEvents();
    }
    std::printf(
        "recording %d steps after %d: begin median %.3f ms, max %.3f ms; end median %.3f ms, max %.3f ms; "
        "NextStep %d\n",
        records, MostSteps - records, percentile(beginMs, 50), percentile(beginMs, 100),
        percentile(endMs, 50), percentile(endMs, 100), int(ui::NextStep(w)));
}

// Heap in use, as the allocator counts it: unlike the resident size it falls when memory is freed.
double heapInUseMb()
{
    return double(mallinfo2().uordblks) / (1024.0 * 1024.0);
}

void memoryPerStep()
{
    // Each size in a fresh window, so nothing of an earlier script (nor its undo) is counted.
    std::printf("heap taken by a loaded script:");
    for (int steps : {1024, 8192, 16384, MostSteps}) {
        Rig rig;
        const QString file = rig.writeScript(steps);
        QCoreApplication::processEvents();
        const double before = heapInUseMb();
        rig.load(file);
        QCoreApplication::processEvents();
        const double taken = heapInUseMb() - before;
        std::printf(" %d steps %.2f MB (%.0f bytes per step)%s", steps, taken, taken * 1024 * 1024 / steps,
                    steps == MostSteps ? "" : ",");
    }
    std::printf("; resident %.1f MB at the end\n", residentMb());
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    int runs = 5;
    int records = 200;
    const QStringList args = QCoreApplication::arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--runs"))
            runs = qMax(1, args[i + 1].toInt());
        else if (args[i] == QLatin1String("--records"))
            records = qBound(1, args[i + 1].toInt(), 1000);
    }
    loadAndSave(runs);
    recordAtTheEnd(records);
    memoryPerStep();
    return 0;
}
