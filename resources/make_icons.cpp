// Writes the program's icon as PNG files for the desktop, drawn by the same
// code as the window's icon: FOLDER/NxN/netquarry.png for each size N.

#include "artwork.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QString>

#include <cstdio>

int main(int argc, char* argv[])
{
    // Drawing needs no screen; the build may run where there is none.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const QGuiApplication app(argc, argv);
    const QStringList args = QGuiApplication::arguments();
    if (args.size() < 3) {
        std::fputs("usage: netquarry-icons FOLDER SIZE...\n", stderr);
        return 2;
    }
    for (qsizetype i = 2; i < args.size(); ++i) {
        bool ok = false;
        const int size = args[i].toInt(&ok);
        const QString folder = args[1] + QStringLiteral("/%1x%1").arg(size);
        const QString file = folder + QStringLiteral("/netquarry.png");
        if (!ok || size < 1 || !QDir().mkpath(folder) ||
            !artwork::ApplicationImage(size).save(file, "PNG")) {
            std::fprintf(stderr, "netquarry-icons: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
