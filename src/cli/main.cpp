// virellock-cli: the encrypt and decrypt commands of Virellock for scripts and terminals.

#include "cli/batch.h"
#include "cli/terminal.h"

#include <QCoreApplication>

int main(int argc, char* argv[])
{
    virellock::cli::prepareStandardStreams();
    QCoreApplication application(argc, argv);
    return virellock::cli::run(QCoreApplication::arguments());
}
