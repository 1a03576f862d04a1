#pragma once

#include "KitArmList.h"
#include "ScriptEditor.h"
#include "VirtualArm.h"
#include "VirtualHidTransport.h"
#include "WindowControls.h"
#include "frmMain.h"

#include <QList>
#include <QPair>
#include <QTemporaryDir>

#include <memory>
#include <optional>
#include <vector>

// A main window over a virtual transport, with its settings file in a temporary folder. Arms added
// before open() are found by the start-up search; every code an arm receives is recorded with the
// number of the arm (0 for the first added).
class WindowHarness
{
public:
    WindowHarness();
    ~WindowHarness();

    // Writes a settings file whose identity line holds `identity`; without a call there is no file.
    void writeSettings(const QString &identity, bool highlight = false, quint32 colour = 8421631);

    VirtualArm &addArm(VirtualArm::Shape shape = VirtualArm::Shape::OneInterface);
    frmMain &open();
    frmMain &window() { return *m_window; }
    void closeWindow();
    void destroyWindow();

    // Writes the options file (TESSARO.INI) with `text`.
    void writeOptions(const QByteArray &text);

    VirtualHidTransport transport;
    // The interface kits the window drives, when set before open().
    KitArmList *kits = nullptr;
    // Where the window serves its arms, when set before open().
    QString servicePath;
    std::vector<std::unique_ptr<VirtualArm>> arms;
    // (arm number, code) in the order the arms received them.
    QList<QPair<int, int>> received;
    QList<int> codes() const;
    QList<int> codesOf(int arm) const;

    void click(int index);

private:
    QTemporaryDir m_dir;
    std::unique_ptr<frmMain> m_window;
};
