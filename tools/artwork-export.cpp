// Writes the pictures drawn in common/artwork.cpp as PNG files, at their own size and four
// times enlarged, so that a change to the drawing code can be looked at pixel by pixel.
// Usage: artwork_export [folder]   (default: the current directory)

#include "common/artwork.h"

#include <QDir>
#include <QImage>
#include <QString>
#include <cstdio>

int main(int argc, char **argv)
{
    const QDir folder(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("."));
    if (!folder.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "cannot create %s\n", qPrintable(folder.path()));
        return 1;
    }

    const struct
    {
        const char *name;
        QImage image;
    } pictures[] = {
        {"quiz-icon", Artwork::quizIcon()},     {"stop", Artwork::stopPicture()},
        {"play", Artwork::playPicture()},       {"bathtub", Artwork::bathtubPicture()},
        {"ironing", Artwork::ironingPicture()},
    };

    int status = 0;
    for (const auto &picture : pictures) {
        const QImage large = picture.image.scaled(picture.image.size() * 4, Qt::IgnoreAspectRatio,
                                                  Qt::FastTransformation);
        for (const auto &[image, suffix] : {std::pair{picture.image, ""}, {large, "-x4"}}) {
            const QString path =
                folder.filePath(QStringLiteral("%1%2.png").arg(picture.name, suffix));
            if (!image.save(path, "PNG")) {
                std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
                status = 1;
            }
        }
    }
    return status;
}
