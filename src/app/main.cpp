#include "host/host_services/password_mask_style.h"
#include "main_window.h"
#include "start_up.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    virellock::installPasswordMaskStyle();
    virellock::MainWindow window;
    window.show();
    virellock::startUp();
    return application.exec();
}
