// tarvo: the desktop program.
#include "app/Tarvo.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

int main(int argc, char** argv)
{
    QApplication qapp(argc, argv);
    int status = 1;
    {
        tarvo::CTarvoApp app;
        if (app.InitInstance(QApplication::arguments().mid(1)))
            status = app.Run();
    }
    // The window and its sounds are gone and every file is written. Qt
    // Multimedia's audio engine, torn down at exit, hangs up on the sound
    // server without holding its own thread's lock while that thread may be
    // handling the server's last message (a sound just stopped): a crash now
    // and then. The program ends without that teardown, as tarvo-cli does.
    std::fflush(nullptr);
#if defined(__SANITIZE_ADDRESS__)
    __lsan_do_leak_check();
#endif
    std::_Exit(status);
}
