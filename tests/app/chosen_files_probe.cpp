// Starts as the window program starts, on the command line it is given, then writes the
// window's chosen files to standard output, each ended by a NUL byte, and ends instead of
// running: what a command line makes of the choice, Qt's own reading of it included.

#include "app/main_window.h"
#include "app/program_arguments.h"
#include "app/start_up.h"

#include <QApplication>
#include <QFile>

int main(int argc, char* argv[])
{
    virellock::ProgramArguments arguments(argc, argv);
    QApplication application(arguments.qtArgumentCount(), arguments.qtArguments());
    virellock::MainWindow window;
    virellock::chooseArgumentFiles(window, arguments);

    QFile output;
    if (!output.open(stdout, QIODevice::WriteOnly))
        return 1;
    for (const QString& file : window.chosenFiles())
        output.write(file.toUtf8() + '\0');
    return output.flush() ? 0 : 1;
}
