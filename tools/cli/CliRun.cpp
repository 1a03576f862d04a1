#include "CliCommands.h"

#include <QTextStream>

int cliRun(const QStringList &)
{
    QTextStream(stderr) << "tessaro-cli: not available yet\n";
    return 70;
}
