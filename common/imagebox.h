#pragma once

#include <QLabel>
#include <QSize>

class QImage;

// An image box: a bordered box that stretches its picture to fill it, whatever the picture's
// proportions, and reports clicks.
class ImageBox : public QLabel
{
    Q_OBJECT
public:
    explicit ImageBox(QWidget *parent = nullptr);

    // Loads a picture file (relative to the working directory) at the size the box shows it,
    // so a large photo costs only what the box needs. Unreadable: run-time error naming it.
    void setPictureFile(const QString &fileName);
    void setPictureImage(const QImage &image);

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;
};

// The picture decoded at most at `box` size (device pixels), stretched later by the box.
QImage loadPicture(const QString &fileName, QSize box);
