#include "CliCommands.h"

#include <QTextStream>

int cliDescribe(const QStringList &)
{
    QTextStream(stderr) << "tessaro-cli: not available yet\n";
    return 70;
}
