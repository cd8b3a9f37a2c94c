// Writes the program's icon, as the program itself draws it, into PNG files for the desktop's
// icon theme: korvel-icon OUTDIR writes OUTDIR/16x16/korvel.png and OUTDIR/32x32/korvel.png.
#include <QDir>
#include <QGuiApplication>
#include <QPixmap>
#include <cstdio>
#include <cstdlib>

#include "app/icon.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: korvel-icon OUTDIR\n");
        return 2;
    }
    // Drawing needs no screen; a build machine may have none.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QGuiApplication app(argc, argv);
    const QIcon icon = korvelIcon();
    for (const int size : {16, 32}) {
        const QString dir = QString::fromLocal8Bit(argv[1]) + QStringLiteral("/%1x%1").arg(size);
        const QPixmap pixmap = icon.pixmap(QSize(size, size), 1.0);
        if (pixmap.size() != QSize(size, size) || !QDir().mkpath(dir) ||
            !pixmap.save(dir + QStringLiteral("/korvel.png"), "PNG")) {
            std::fprintf(stderr, "korvel-icon: cannot write the %dx%d icon into %s\n", size, size,
                         argv[1]);
            return 1;
        }
    }
    return 0;
}
