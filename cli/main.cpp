// broadtext-cli: the commands of cli/CommandLine on the process's arguments and standard streams.
#include "cli/CommandLine.h"

#include <QCoreApplication>
#include <QTextStream>
#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("broadtext-cli"));
    QTextStream out(stdout);
    QTextStream err(stderr);
    return RunCommandLine(app.arguments().mid(1), out, err);
}
