// Writes the program's icon in the hicolor sizes: make-icons OUTDIR writes
// OUTDIR/SIZExSIZE/apps/NAME.png for every size.
#include "app/TemplateWidgets.h"

#include <QDir>
#include <QImage>
#include <QString>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: make-icons OUTDIR NAME\n");
        return 2;
    }
    const QString outDir = QString::fromLocal8Bit(argv[1]);
    const QString name = QString::fromLocal8Bit(argv[2]);
    for (int side : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QString dir = QStringLiteral("%1/%2x%2/apps").arg(outDir).arg(side);
        const QImage image = tarvo::ApplicationIconImage(side);
        if (image.isNull() || !QDir().mkpath(dir) || !image.save(dir + QLatin1Char('/') + name + ".png")) {
            std::fprintf(stderr, "make-icons: cannot write the %dx%d icon\n", side, side);
            return 1;
        }
    }
    return 0;
}
