// The README's picture of the window: make-pictures WAVE OUT.png starts the
// program on WAVE (offscreen), presses Get Header, Max Freqs and
// Wow&Flutter, and saves the main window as it then looks.
#include "app/MainFrm.h"
#include "app/Tarvo.h"
#include "form/TarvoView.h"
#include "resources/ResourceIds.h"

#include <QApplication>
#include <QPixmap>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: make-pictures WAVE OUT.png\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    int qargc = 1;
    QApplication qapp(qargc, argv);
    tarvo::CTarvoApp app;
    if (!app.InitInstance({QString::fromLocal8Bit(argv[1])}))
        return 1;
    for (int id : {tarvo::IDC_GETHEADER, tarvo::IDC_MAXFREQS, tarvo::IDC_WOWFLUTTER})
        app.MainFrame()->OnCommand(id);
    QApplication::processEvents();
    if (!app.MainFrame()->grab().save(QString::fromLocal8Bit(argv[2]))) {
        std::fprintf(stderr, "make-pictures: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
