#pragma once

#include <QByteArray>
#include <QString>

// Replaces a file with new contents in one step: the bytes go to a temporary file beside it, which
// takes the file's place only once all of them are on disk. On any failure the old file stays as it
// was and nothing is left beside it.
struct SafeSaveResult
{
    enum class Failure { None, Open, Write, Commit };
    Failure failure = Failure::None;
    QString reason; // the system's words, when something failed

    bool ok() const { return failure == Failure::None; }
};

SafeSaveResult SafeSave(const QString &path, const QByteArray &bytes);
