#pragma once

#include <QStringList>

// Each command takes the arguments after its name and returns the process exit status.
int cliDescribe(const QStringList &args);
int cliDevices(const QStringList &args);
int cliGamepad(const QStringList &args);
int cliLight(const QStringList &args);
int cliRun(const QStringList &args);
int cliServe(const QStringList &args);
