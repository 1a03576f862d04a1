#include "SettingsLocation.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

SettingsLocation resolveSettingsLocation(const QString &exeDir, const QString &configDir, bool exeDirWritable,
                                         const QString &fileName)
{
    const QString besideExe = QDir(exeDir).filePath(fileName);
    if (exeDirWritable)
        return {besideExe, besideExe};
    const QString perUser = QDir(configDir).filePath(fileName);
    return {QFileInfo::exists(perUser) ? perUser : besideExe, perUser};
}

SettingsLocation resolveSettingsLocation(const QString &exeDir, const QString &configDir, const QString &fileName)
{
    return resolveSettingsLocation(exeDir, configDir, folderIsWritable(exeDir), fileName);
}

bool folderIsWritable(const QString &dir)
{
    const QFileInfo info(dir);
    return info.isDir() && info.isWritable();
}

SettingsLocation settingsFilePath(const QString &fileName)
{
    return resolveSettingsLocation(QCoreApplication::applicationDirPath(),
                                   QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation),
                                   fileName);
}

SettingsLocation windowSettingsFilePath(const QString &fileName)
{
    const QString configDir = QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
                                  .filePath(QLatin1StringView(WindowProgramName));
    return resolveSettingsLocation(QCoreApplication::applicationDirPath(), configDir, fileName);
}
