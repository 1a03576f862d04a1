#include "SettingsLocation.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

SettingsLocation resolveSettingsLocation(const QString &exeDir, const QString &configDir, bool exeDirWritable)
{
    const QString besideExe = QDir(exeDir).filePath(QLatin1StringView(SettingsFileName));
    if (exeDirWritable)
        return {besideExe, besideExe};
    const QString perUser = QDir(configDir).filePath(QLatin1StringView(SettingsFileName));
    return {QFileInfo::exists(perUser) ? perUser : besideExe, perUser};
}

SettingsLocation resolveSettingsLocation(const QString &exeDir, const QString &configDir)
{
    return resolveSettingsLocation(exeDir, configDir, folderIsWritable(exeDir));
}

bool folderIsWritable(const QString &dir)
{
    const QFileInfo info(dir);
    return info.isDir() && info.isWritable();
}

SettingsLocation settingsFilePath()
{
    return resolveSettingsLocation(QCoreApplication::applicationDirPath(),
                                   QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation));
}
