// Writes the quiz's icon as <folder>/<size>/pirvel.png for each size given, for the desktop's
// icon theme. The icon is pixel art, so it is enlarged without smoothing; smaller sizes are
// smoothed down.
// Usage: make-icons <folder> <size>...

#include "common/artwork.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <cstdio>

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: make-icons <folder> <size>...\n");
        return 2;
    }
    const QImage icon = Artwork::quizIcon();
    for (int i = 2; i < argc; ++i) {
        const int size = QByteArray(argv[i]).toInt();
        const QDir dir(QString::fromLocal8Bit(argv[1]) + QStringLiteral("/%1").arg(size));
        const Qt::TransformationMode mode =
            size % icon.width() == 0 ? Qt::FastTransformation : Qt::SmoothTransformation;
        if (size <= 0 || !dir.mkpath(QStringLiteral(".")) ||
            !icon.scaled(size, size, Qt::IgnoreAspectRatio, mode)
                 .save(dir.filePath(QStringLiteral("pirvel.png")), "PNG")) {
            std::fprintf(stderr, "cannot write the %s px icon\n", argv[i]);
            return 1;
        }
    }
    return 0;
}
