// Build-time tool: writes the window's traffic light as the hicolor theme's PNG icons,
// <folder>/<size>x<size>/apps/peertest.png for each size given.
#include "app/trafficlight.h"

#include <QDir>
#include <QImage>
#include <cstdio>

int main(int argc, char* argv[])
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s FOLDER SIZE...\n", argv[0]);
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    for (int i = 2; i < argc; ++i) {
        const int size = QByteArray(argv[i]).toInt();
        const QString sizeFolder = QStringLiteral("%1/%2x%2/apps").arg(folder).arg(size);
        const QString file = sizeFolder + QStringLiteral("/peertest.png");
        if (size < 16 || !QDir().mkpath(sizeFolder) || !TrafficLightImage(size).save(file, "PNG")) {
            std::fprintf(stderr, "%s: cannot write a %s px icon\n", argv[0], argv[i]);
            return 1;
        }
    }
    return 0;
}
