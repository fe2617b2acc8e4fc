// virellock-cli: the encrypt and decrypt commands of Virellock for scripts and terminals.

#include "cli/batch.h"
#include "cli/system_names.h"
#include "cli/terminal.h"

#include <QCoreApplication>

int main(int argc, char* argv[])
{
    virellock::cli::prepareStandardStreams();
#ifdef Q_OS_WIN
    QCoreApplication application(argc, argv);
    // UTF-16 from the system, as its file functions take names.
    const QStringList arguments = QCoreApplication::arguments();
#else
    // The bytes as the system gave them, before Qt decodes them and loses what is not UTF-8.
    const QStringList arguments = virellock::cli::argumentsFromBytes(argc, argv);
    QCoreApplication application(argc, argv);
#endif
    return virellock::cli::run(arguments);
}
