#pragma once

#include <QString>

inline constexpr char SettingsFileName[] = "KORIV.INI";

// Where the settings file is read from and written to. A build tree or a portable copy keeps the
// file beside the executable. An installed program cannot write there, so it keeps the file in the
// user's configuration folder, but still reads a copy shipped beside the executable until the user
// has saved one of their own.
struct SettingsLocation
{
    QString readPath;
    QString writePath;

    friend bool operator==(const SettingsLocation &, const SettingsLocation &) = default;
};

// Any other file kept with the settings (fileName) follows the same rule on its own.
SettingsLocation resolveSettingsLocation(const QString &exeDir, const QString &configDir,
                                         bool exeDirWritable,
                                         const QString &fileName = QLatin1StringView(SettingsFileName));
// Probes whether exeDir can be written.
SettingsLocation resolveSettingsLocation(const QString &exeDir, const QString &configDir,
                                         const QString &fileName = QLatin1StringView(SettingsFileName));
bool folderIsWritable(const QString &dir);

// The location for this program: the executable's folder and the per-user configuration folder.
// Needs the QCoreApplication (its application name names the configuration folder).
SettingsLocation settingsFilePath(const QString &fileName = QLatin1StringView(SettingsFileName));

// The name of the window's program, which names the configuration folder of the files it keeps.
inline constexpr char WindowProgramName[] = "tessaro";
// Where the window keeps fileName, for a program installed beside it (tessaro-cli): the same folder
// of executables and the window's own configuration folder.
SettingsLocation windowSettingsFilePath(const QString &fileName);
