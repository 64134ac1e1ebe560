#include "app/commandline.h"

QString CommandLineText(const QStringList& arguments)
{
    return arguments.mid(1).join(QLatin1Char(' '));
}
