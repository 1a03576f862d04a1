#pragma once

#include "ServiceClient.h"

#include <QString>
#include <QTextStream>

#include <memory>

class CliScript;

// A program that owns the arms already (the window, or tessaro-cli serve): the commands that reach
// arms go through it rather than open the arms beside it. A command given a virtual arm on its command
// line opens its own.

// The owner serving at the default socket, connected and greeted; null when none answers there.
std::unique_ptr<ServiceClient> cliOwner();

// Asks for control; false, said on err, when another client has it.
bool cliTakeControl(ServiceClient &owner, QTextStream &err);

// The arms the owner has open, as `devices` lists them.
int cliDevicesThroughOwner(ServiceClient &owner, QTextStream &out, QTextStream &err);
int cliLightThroughOwner(ServiceClient &owner, bool on, QTextStream &out, QTextStream &err);

struct CliOwnerRun
{
    QString file;
    int reps = 1;
    bool light = false;
    bool returnAfter = false;
    bool quiet = false;
};
int cliRunThroughOwner(ServiceClient &owner, const CliOwnerRun &run, CliScript &script, QTextStream &out,
                       QTextStream &err);
