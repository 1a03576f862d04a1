#include "SafeSave.h"

#include <QSaveFile>

#include <csignal>

namespace {

// A file-size limit kills the program with SIGXFSZ in the middle of a write unless the signal is
// ignored; ignored, the write fails with "File too large" like a full disk and the old file survives.
// Checked on every save, since anything may have put the default action back.
void ignoreFileSizeSignal()
{
    struct sigaction current = {};
    if (::sigaction(SIGXFSZ, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
        ::signal(SIGXFSZ, SIG_IGN);
}

} // namespace

SafeSaveResult SafeSave(const QString &path, const QByteArray &bytes)
{
    using Failure = SafeSaveResult::Failure;
    ignoreFileSizeSignal();
    // Unbuffered: a buffered QSaveFile loses the error of its last flush and commits a truncated
    // file over the old one when the disk fills up.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return {Failure::Open, file.errorString()};
    qint64 written = 0;
    while (written < bytes.size()) {
        // A short write gives no reason; the next attempt fails with one.
        const qint64 count = file.write(bytes.constData() + written, bytes.size() - written);
        if (count <= 0) {
            const QString reason = file.errorString();
            file.cancelWriting();
            return {Failure::Write, reason};
        }
        written += count;
    }
    if (!file.commit())
        return {Failure::Commit, file.errorString()};
    return {};
}
