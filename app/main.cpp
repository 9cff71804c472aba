// tarvo: the desktop program.
#include "app/Tarvo.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication qapp(argc, argv);
    tarvo::CTarvoApp app;
    if (!app.InitInstance(QApplication::arguments().mid(1)))
        return 1;
    return app.Run();
}
