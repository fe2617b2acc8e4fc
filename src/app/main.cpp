#include "host/host_services/password_mask_style.h"
#include "host/host_services/qt_host_services.h"
#include "main_window.h"
#include "program_arguments.h"
#include "start_up.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    // Qt sees only the arguments before "--": a file named like one of its options stays a file.
    virellock::ProgramArguments arguments(argc, argv);
    QApplication application(arguments.qtArgumentCount(), arguments.qtArguments());
    virellock::installPasswordMaskStyle();
    virellock::MainWindow window;
    virellock::chooseArgumentFiles(window, arguments);
    window.show();
    virellock::QtHostServices host(&window);
    virellock::startUp(host);
    return application.exec();
}
