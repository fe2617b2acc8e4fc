#include "host/host_services/password_mask_style.h"
#include "host/host_services/qt_host_services.h"
#include "main_window.h"
#include "start_up.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    virellock::installPasswordMaskStyle();
    virellock::MainWindow window;
    virellock::chooseArgumentFiles(window, application.arguments());
    window.show();
    virellock::QtHostServices host(&window);
    virellock::startUp(host);
    return application.exec();
}
