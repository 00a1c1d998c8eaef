#include <QApplication>

#include "app/CKestrelApp.h"

int main(int argc, char** argv)
{
    QApplication qapp(argc, argv);
    CKestrelApp app;
    if (!app.InitInstance()) return 1;
    return qapp.exec();
}
