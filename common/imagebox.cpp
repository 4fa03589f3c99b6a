#include "common/imagebox.h"

#include "common/exercisefile.h"
#include "common/runtimeerror.h"

#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QMouseEvent>
#include <QPixmap>
#include <QtConcurrent/QtConcurrentRun>

ImageBox::ImageBox(QWidget *parent) : QLabel(parent)
{
    setFrameShape(QFrame::Box);
    setLineWidth(1);
    setScaledContents(true);
    setFocusPolicy(Qt::NoFocus);
}

void ImageBox::setPictureFile(const QString &fileName)
{
    setPictureImage(loadPicture(fileName, pictureSize()));
}

QSize ImageBox::pictureSize() const
{
    return contentsRect().size() * devicePixelRatioF();
}

void ImageBox::setPictureImage(const QImage &image)
{
    setPixmap(QPixmap::fromImage(image));
}

void ImageBox::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
    QLabel::mouseReleaseEvent(event);
}

QImage loadPicture(const QString &fileName, QSize box)
{
    auto unreadable = [&](const QString &why) {
        return RuntimeError(
            ErrorNumber::InvalidPicture,
            QStringLiteral("Bilden \"%1\" kunde inte läsas: %2.").arg(fileName, why));
    };
    // The reader decides the format from the content, as the file is opened here: only a
    // regular file of the exercise folder, and never with an open that could wait.
    const std::unique_ptr<QFile> file = openExerciseFile(fileName, ExerciseFileKind::Picture);
    QImageReader reader(file.get());
    reader.setAutoTransform(true);
    // The scaled size applies to the picture as stored, before the turn its EXIF data asks for.
    if (reader.transformation() & QImageIOHandler::TransformationRotate90)
        box.transpose();
    const QSize full = reader.size();
    if (full.isValid() && box.isValid() && !box.isEmpty() &&
        (full.width() > box.width() || full.height() > box.height())) {
        // Formats that can (JPEG) decode straight at this size; the rest scale afterwards.
        reader.setScaledSize(full.boundedTo(box));
    }
    QImage image = reader.read();
    if (image.isNull())
        throw unreadable(reader.errorString());
    if (reader.transformation() & QImageIOHandler::TransformationRotate90)
        box.transpose();
    if (box.isValid() && !box.isEmpty() &&
        (image.width() > box.width() || image.height() > box.height()))
        image = image.scaled(image.size().boundedTo(box), Qt::IgnoreAspectRatio,
                             Qt::SmoothTransformation);
    return image;
}

PictureDecodes::PictureDecodes(const QStringList &fileNames, QSize box)
{
    for (const QString &name : fileNames) {
        m_decodes.append(QtConcurrent::run([name, box] {
            Decoded decoded;
            try {
                decoded.image = loadPicture(name, box);
            } catch (...) {
                decoded.error = std::current_exception();
            }
            return decoded;
        }));
    }
}

PictureDecodes::~PictureDecodes()
{
    for (QFuture<Decoded> &decode : m_decodes)
        decode.waitForFinished();
}

QImage PictureDecodes::take(int index)
{
    Decoded decoded = m_decodes[index].result();
    // The future lets go of its copy, so only the box keeps the pixels.
    m_decodes[index] = QFuture<Decoded>();
    if (decoded.error)
        std::rethrow_exception(decoded.error);
    return decoded.image;
}
