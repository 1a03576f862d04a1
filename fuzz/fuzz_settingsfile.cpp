// Feeds arbitrary bytes to both settings readers, then writes what the window and the colour dialog
// took from them and reads that back: what was read must survive a save.

#include "SettingsReader.h"
#include "SettingsWriter.h"

#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// The readers take a path; an in-memory file keeps the disk out of the loop.
class MemoryFile
{
public:
    MemoryFile() : m_fd(memfd_create("settings", 0)), m_path(QStringLiteral("/proc/self/fd/%1").arg(m_fd))
    {
        if (m_fd < 0)
            abort();
    }
    const QString &hold(const uint8_t *data, size_t size)
    {
        if (ftruncate(m_fd, 0) != 0 || pwrite(m_fd, data, size, 0) != ssize_t(size))
            abort();
        return m_path;
    }

private:
    int m_fd;
    QString m_path;
};

bool survivesLatin1Line(const QString &text)
{
    for (QChar c : text) {
        if (c.unicode() > 0xFF || c == u'"' || c == u'\r' || c == u'\n')
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static MemoryFile file;
    const QString &path = file.hold(data, size);

    const std::optional<QStringList> lines = SettingsReader::readLines(path, 7);
    if (!lines || lines->size() > 7)
        abort();
    for (const QString &line : *lines) {
        if (line.contains(u'\r') || line.contains(u'\n'))
            abort();
    }
    const StartupSettings startup = SettingsReader::readStartup(path);
    const DialogSettings dialog = SettingsReader::readDialog(path);
    if (dialog.highlight != startup.hilight || dialog.colour != startup.selectionColour)
        abort(); // both read the same lines 2 and 5
    if (dialog.entryNumber() < 0 || dialog.entryNumber() > 5)
        abort();

    Settings saved;
    saved.highlight = dialog.highlight;
    saved.entry = dialog.entryNumber() == 0 ? 1 : dialog.entryNumber();
    saved.colour = dialog.colour.value_or(Settings::DefaultCustomColour);
    saved.device = startup.currentDevice;
    const QByteArray written = SettingsWriter::format(saved);
    const QString writtenPath =
        file.hold(reinterpret_cast<const uint8_t *>(written.constData()), size_t(written.size()));
    const StartupSettings startupAgain = SettingsReader::readStartup(writtenPath);
    const DialogSettings dialogAgain = SettingsReader::readDialog(writtenPath);
    if (startupAgain.hilight != saved.highlight || startupAgain.selectionColour != saved.colour ||
        dialogAgain.colour != saved.colour || dialogAgain.entryNumber() != saved.entry)
        abort();
    if (survivesLatin1Line(saved.device) && startupAgain.currentDevice != saved.device)
        abort();
    return 0;
}
