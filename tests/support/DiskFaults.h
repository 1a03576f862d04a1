#pragma once

// Makes a save fail the ways it fails on real machines, for the tests of both file writers: the
// writer is handed a target whose old contents must come through intact.

#include <QByteArray>
#include <QMetaType>
#include <QString>
#include <QStringList>

#include <functional>

enum class DiskFault {
    DiskFull,        // a file-size limit, with SIGXFSZ left at its default (fatal) action
    ReadOnlyFolder,  // the target's folder cannot be written (as root: by a child that drops to nobody)
    TargetIsFolder,  // the target names a folder
    OtherFilesystem, // the target is a link to a file on another filesystem than the folder holding it
};
Q_DECLARE_METATYPE(DiskFault)

struct SaveOutcome
{
    QString skip;          // why the fault cannot be made here; nothing was run
    QString target;        // the path the save was given
    QString error;         // what the save returned
    QByteArray after;      // the target's contents afterwards (for a folder target, its file's)
    QStringList leftovers; // files the save left beside the target
    bool linkKept = true;  // for OtherFilesystem: the target is still the link
};

// Puts `old` at a target named fileName, makes `fault` happen and runs save(target).
SaveOutcome saveUnder(DiskFault fault, const QString &fileName, const QByteArray &old,
                      const std::function<QString(const QString &)> &save);

// The rows every writer's fault table has: the fault, and a word the error must contain (empty: the
// save goes through). Columns "fault" and "reason".
void addDiskFaultRows();
