#pragma once

#include <QFuture>
#include <QImage>
#include <QLabel>
#include <QList>
#include <QSize>

#include <exception>
#include <functional>

// An image box: a bordered box that stretches its picture to fill it, whatever the picture's
// proportions, and reports clicks.
//
// A box that answers (setAnswerable) can also be used without a mouse: it takes the focus by
// the keyboard only, never by a click, shows a focus mark then, and answers Space or Enter as
// it answers a click. The arrow keys move the focus to the nearest answering box in their
// direction. A screen reader meets it as a button whose press is the click.
class ImageBox : public QLabel
{
    Q_OBJECT
public:
    explicit ImageBox(QWidget *parent = nullptr);

    void setAnswerable(bool on);
    bool isAnswerable() const { return m_answerable; }

    // Loads a picture file (relative to the working directory) at the size the box shows it,
    // so a large photo costs only what the box needs. Unreadable: run-time error naming it.
    void setPictureFile(const QString &fileName);
    void setPictureImage(const QImage &image);
    // The size in device pixels that the box shows a picture at on this screen.
    QSize pictureSize() const;

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    ImageBox *neighbour(int key) const;

    bool m_answerable = false;
};

// The picture decoded at most at `box` size (device pixels), stretched later by the box.
QImage loadPicture(const QString &fileName, QSize box);

// Starts reading the large JPEG photos among the named pictures on what the start-up leaves of
// the cores, before the window that shows them, or even the window system, is there; their
// loads take what was read if the file is still the same. Nothing is reported here: a picture
// that cannot be read is reported by its load.
void prefetchPictures(const QStringList &fileNames);

// Pictures decoded on worker threads while the user-interface thread goes on. take() waits for
// one and hands it over, or throws on the calling thread the run-time error its decode met, so
// a failure is reported where the picture is set and in the order the pictures are set. The
// reduced copies for the desktop's cache are written a second after the caller is done with
// the decodes, so that writing them never delays the pictures or what follows them.
class PictureDecodes
{
public:
    PictureDecodes(const QStringList &fileNames, QSize box);
    // Waits for every decode still running: none outlives the call that started it.
    ~PictureDecodes();
    PictureDecodes(const PictureDecodes &) = delete;
    PictureDecodes &operator=(const PictureDecodes &) = delete;

    QImage take(int index);

private:
    struct Decoded
    {
        QImage image;
        std::exception_ptr error;
        std::function<void()> remember; // writes the cache's copy, if one is to be written
    };
    QList<QFuture<Decoded>> m_decodes;
    QList<std::function<void()>> m_remember;
};
