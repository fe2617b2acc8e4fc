#include "host/host_services/leftover_files.h"
#include "host/host_services/password_mask_style.h"
#include "main_window.h"

#include <QApplication>
#include <QThreadPool>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    virellock::installPasswordMaskStyle();
    virellock::MainWindow window;
    window.show();
    // What a killed run left beside a file is removed off the GUI thread: a large leftover
    // takes a while to overwrite. The application waits for it before it ends.
    QThreadPool::globalInstance()->start([] { virellock::removeLeftoverFiles(); });
    return application.exec();
}
