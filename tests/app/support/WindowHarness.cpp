#include "WindowHarness.h"

#include "HoverButton.h"

#include <QFile>
#include <QTest>

WindowHarness::WindowHarness() = default;

WindowHarness::~WindowHarness()
{
    m_window.reset();
    arms.clear();
}

void WindowHarness::writeSettings(const QString &identity, bool highlight, quint32 colour)
{
    QFile file(m_dir.filePath(QStringLiteral("KORIV.INI")));
    if (!file.open(QIODevice::WriteOnly))
        qFatal("cannot write the settings file");
    const QString text =
        QStringLiteral("[Highlight]\r\n%1\r\n3\r\n[HighlightColor]\r\n %2 \r\n[DeviceID]\r\n\"%3\"\r\n")
            .arg(highlight ? QStringLiteral("Yes") : QStringLiteral("No"))
            .arg(colour)
            .arg(identity);
    file.write(text.toLatin1());
}

void WindowHarness::writeOptions(const QByteArray &text)
{
    QFile file(m_dir.filePath(QStringLiteral("TESSARO.INI")));
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
        qFatal("cannot write the options file");
}

VirtualArm &WindowHarness::addArm(VirtualArm::Shape shape)
{
    const int number = int(arms.size());
    arms.push_back(std::make_unique<VirtualArm>(transport, shape));
    QObject::connect(arms.back().get(), &VirtualArm::commandReceived, arms.back().get(),
                     [this, number](int code, qint64, const QByteArray &) {
                         received.append({number, code});
                     });
    return *arms.back();
}

frmMain &WindowHarness::open()
{
    frmMain::Setup setup;
    setup.transport = &transport;
    setup.settingsReadPath = m_dir.filePath(QStringLiteral("KORIV.INI"));
    setup.settingsWritePath = setup.settingsReadPath;
    setup.optionsReadPath = m_dir.filePath(QStringLiteral("TESSARO.INI"));
    setup.optionsWritePath = setup.optionsReadPath;
    setup.kits = kits;
    setup.servicePath = servicePath;
    m_window = std::make_unique<frmMain>(setup);
    m_window->show();
    return *m_window;
}

void WindowHarness::closeWindow()
{
    m_window->close();
}

void WindowHarness::destroyWindow()
{
    m_window.reset();
}

QList<int> WindowHarness::codes() const
{
    QList<int> result;
    for (const auto &entry : received)
        result.append(entry.second);
    return result;
}

QList<int> WindowHarness::codesOf(int arm) const
{
    QList<int> result;
    for (const auto &entry : received) {
        if (entry.first == arm)
            result.append(entry.second);
    }
    return result;
}

void WindowHarness::click(int index)
{
    QTest::mouseClick(ui::cmdControl(*m_window)[size_t(index)], Qt::LeftButton);
}
