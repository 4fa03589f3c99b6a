#include "common/imagebox.h"

#include "common/exercisefile.h"
#include "common/jpegeighth.h"
#include "common/runtimeerror.h"
#include "common/swedish.h"
#include "common/thumbnailcache.h"

#include <QAccessibleWidget>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QMutex>
#include <QPainter>
#include <QPixmap>
#include <QSemaphore>
#include <QThread>
#include <QThreadPool>
#include <QTimer>
#include <QTransform>
#include <QtConcurrent/QtConcurrentRun>

#include <limits>
#include <memory>
#include <optional>
#include <sys/stat.h>

namespace {

// What a screen reader meets in an answering box: a button whose press answers.
class AnswerAccessible : public QAccessibleWidget
{
public:
    explicit AnswerAccessible(ImageBox *box) : QAccessibleWidget(box, QAccessible::Button) {}

    QStringList actionNames() const override
    {
        return QStringList(pressAction()) + QAccessibleWidget::actionNames();
    }
    void doAction(const QString &action) override
    {
        // Queued: an answer may play the closing video to its end, and the screen reader that
        // asked must have its reply long before that.
        if (action == pressAction())
            QMetaObject::invokeMethod(static_cast<ImageBox *>(widget()), &ImageBox::clicked,
                                      Qt::QueuedConnection);
        else
            QAccessibleWidget::doAction(action);
    }
};

QAccessibleInterface *answerAccessible(const QString &className, QObject *object)
{
    auto *box = qobject_cast<ImageBox *>(object);
    if (className == QLatin1String("ImageBox") && box && box->isAnswerable())
        return new AnswerAccessible(box);
    return nullptr;
}

} // namespace

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

void ImageBox::setAnswerable(bool on)
{
    static const bool factoryInstalled = (QAccessible::installFactory(answerAccessible), true);
    Q_UNUSED(factoryInstalled);
    m_answerable = on;
    setFocusPolicy(on ? Qt::TabFocus : Qt::NoFocus);
}

void ImageBox::keyPressEvent(QKeyEvent *event)
{
    if (!m_answerable)
        return QLabel::keyPressEvent(event);
    switch (event->key()) {
    case Qt::Key_Space:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // A held key answers once, as a held mouse button does.
        if (!event->isAutoRepeat())
            emit clicked();
        return;
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
        if (ImageBox *next = neighbour(event->key()))
            next->setFocus(Qt::TabFocusReason);
        return;
    default:
        QLabel::keyPressEvent(event);
    }
}

// The nearest shown answering box on the key's side: one within 45 degrees of the key's
// direction before any other, so that Right from the upper left corner goes to the upper right
// one and not to the one a little right of it further down.
ImageBox *ImageBox::neighbour(int key) const
{
    constexpr qint64 OffLine = qint64(1) << 40;
    ImageBox *best = nullptr;
    qint64 bestScore = std::numeric_limits<qint64>::max();
    const QPoint from = geometry().center();
    for (ImageBox *box : parentWidget()->findChildren<ImageBox *>(Qt::FindDirectChildrenOnly)) {
        if (box == this || !box->m_answerable || !box->isVisible())
            continue;
        const QPoint d = box->geometry().center() - from;
        const bool across = key == Qt::Key_Left || key == Qt::Key_Right;
        const qint64 along = key == Qt::Key_Left || key == Qt::Key_Up ? -(across ? d.x() : d.y())
                                                                      : (across ? d.x() : d.y());
        const qint64 aside = across ? d.y() : d.x();
        if (along <= 0)
            continue;
        const qint64 score = along * along + aside * aside + (qAbs(aside) > along ? OffLine : 0);
        if (score < bestScore) {
            best = box;
            bestScore = score;
        }
    }
    return best;
}

void ImageBox::paintEvent(QPaintEvent *event)
{
    QLabel::paintEvent(event);
    // Only a focus the keyboard gave shows, as with the toolkit's own controls; a black ring
    // with a yellow one inside stands out on any picture and on the window's yellow.
    if (!hasFocus() || !window()->testAttribute(Qt::WA_KeyboardFocusChange))
        return;
    QPainter p(this);
    p.setPen(QPen(Qt::black, 4, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    p.drawRect(QRectF(rect()).adjusted(2, 2, -2, -2));
    p.setPen(QPen(QColor(255, 230, 0), 4, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    p.drawRect(QRectF(rect()).adjusted(6, 6, -6, -6));
}

namespace {

// What decoding one picture may hold at a time. A phone's 24-megapixel photo stored progressive
// with full colour needs 144 MB; with the rest of the quiz and a playing sign the program stays
// well within 300 MB. Decodes on worker threads share it, so that several large pictures wait
// for each other instead of adding up.
constexpr int DecodeBudgetMb = 160;

QSemaphore &decodeBudget()
{
    static QSemaphore budget(DecodeBudgetMb);
    return budget;
}

// The layout a JPEG's headers declare, read before any decoder sees the file.
struct JpegLayout
{
    QSize size;
    // Bytes the decoder keeps for the DCT coefficients of the whole picture: a progressive file,
    // or one whose colours come in separate scans, holds them all until its last scan, 128
    // bytes for every 8 x 8 block whatever size the picture is decoded at.
    qint64 coefficientBytes = 0;
    // Blocks of all colour components; each takes at least one bit of Huffman-coded data.
    qint64 blocks = 0;
    bool huffman = true;
};

bool isFrameMarker(int marker)
{
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

// Reads the headers up to the first scan; nullopt when the file is no JPEG or its headers end
// before that scan.
std::optional<JpegLayout> readJpegLayout(QIODevice &file)
{
    auto byte = [&file]() -> int {
        char c;
        return file.getChar(&c) ? int(uchar(c)) : -1;
    };
    if (byte() != 0xFF || byte() != 0xD8)
        return std::nullopt;
    std::optional<JpegLayout> layout;
    bool multiScan = false;
    int components = 0;
    int sampling[4][2] = {};
    for (;;) {
        // Bytes between segments are skipped as the decoder skips them, so that none can hide
        // a frame header from this reading.
        int marker = byte();
        while (marker >= 0 && marker != 0xFF)
            marker = byte();
        while (marker == 0xFF)
            marker = byte();
        if (marker < 0 || marker == 0xD9)
            return std::nullopt;
        if (marker == 0 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8))
            continue;
        const int high = byte(), low = byte();
        if (low < 0 || high * 256 + low < 2)
            return std::nullopt;
        const QByteArray segment = file.read(high * 256 + low - 2);
        if (segment.size() != high * 256 + low - 2)
            return std::nullopt;
        auto at = [&segment](int i) { return int(uchar(segment.at(i))); };
        if (isFrameMarker(marker) && segment.size() >= 6) {
            components = at(5);
            if (components < 1 || components > 4 || segment.size() < 6 + 3 * components)
                return std::nullopt;
            layout = JpegLayout{};
            layout->size = QSize(at(3) * 256 + at(4), at(1) * 256 + at(2));
            layout->huffman = marker < 0xC8;
            multiScan = (marker & 3) == 2; // SOF2, SOF6, SOF10, SOF14: progressive
            for (int c = 0; c < components; ++c) {
                sampling[c][0] = std::max(1, at(7 + 3 * c) >> 4);
                sampling[c][1] = std::max(1, at(7 + 3 * c) & 15);
            }
        } else if (marker == 0xDA) {
            if (!layout || segment.isEmpty())
                return std::nullopt;
            multiScan = multiScan || at(0) < components;
            break;
        }
    }
    int maxH = 1, maxV = 1;
    for (int c = 0; c < components; ++c) {
        maxH = std::max(maxH, sampling[c][0]);
        maxV = std::max(maxV, sampling[c][1]);
    }
    auto blocksAlong = [](qint64 pixels, int factor, int maxFactor) {
        return ((pixels * factor + maxFactor - 1) / maxFactor + 7) / 8;
    };
    for (int c = 0; c < components; ++c) {
        const auto [h, v] = sampling[c];
        const qint64 wide = blocksAlong(layout->size.width(), h, maxH);
        const qint64 high = blocksAlong(layout->size.height(), v, maxV);
        layout->blocks += wide * high;
        if (multiScan)
            layout->coefficientBytes += (wide + h - 1) / h * h * ((high + v - 1) / v * v) * 128;
    }
    return layout;
}

// The largest power-of-two reduction (up to 1/8) at which a JPEG decoder reads `full` when it
// is asked for `wanted`; it reduces further afterwards.
QSize reducedDecode(QSize full, QSize wanted)
{
    if (wanted.isEmpty())
        return full;
    const int ratio = std::min(full.width() / wanted.width(), full.height() / wanted.height());
    const int denominator = ratio >= 8 ? 8 : ratio >= 4 ? 4 : ratio >= 2 ? 2 : 1;
    return QSize((full.width() + denominator - 1) / denominator,
                 (full.height() + denominator - 1) / denominator);
}

RuntimeError tooLarge(const QString &fileName, const QString &why)
{
    return RuntimeError(
        ErrorNumber::OutOfMemory,
        QStringLiteral("%1 i mappen %2 är för stor eller felaktig: %3.")
            .arg(namedFile(fileName, ExerciseFileKind::Picture), exerciseFolder(), why),
        QStringLiteral("spara bilden på nytt i en mindre storlek, eller rätta "
                       "övningen i Kolmiras"));
}

// The memory a decode of the file at `wanted` (as stored) takes, in megabytes, checked before any
// decoder can spend it. A picture whose headers promise more than its file can hold, or more
// than the budget, is an error naming it.
int decodeCost(const std::optional<JpegLayout> &jpeg, qint64 fileSize, const QString &fileName,
               QSize full, QSize wanted)
{
    qint64 bytes = 0;
    if (jpeg) {
        if (jpeg->huffman && jpeg->blocks / 8 > fileSize) {
            throw tooLarge(fileName,
                           QStringLiteral("den säger sig vara %1 × %2 bildpunkter, men filen är "
                                          "bara %3 byte, för lite för en så stor bild")
                               .arg(jpeg->size.width())
                               .arg(jpeg->size.height())
                               .arg(fileSize));
        }
        const QSize decoded = reducedDecode(jpeg->size, wanted);
        bytes = jpeg->coefficientBytes + qint64(decoded.width()) * decoded.height() * 4;
    } else if (full.isValid()) {
        // Other formats are decoded at full size, then reduced.
        bytes = qint64(full.width()) * full.height() * 4;
    }
    const qint64 mb = (bytes + (1 << 20) - 1) >> 20;
    if (mb > DecodeBudgetMb) {
        throw tooLarge(fileName, QStringLiteral("att läsa den skulle kräva %1 MB minne, och högst "
                                                "%2 MB är tillåtet")
                                     .arg(mb)
                                     .arg(DecodeBudgetMb));
    }
    return int(mb);
}

QSize eighthOf(const JpegLayout &jpeg)
{
    return QSize((jpeg.size.width() + 7) / 8, (jpeg.size.height() + 7) / 8);
}

// Which version of which file: a file replaced or changed since is another.
struct Identity
{
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    qint64 modified = 0; // nanoseconds since the epoch
    bool operator==(const Identity &) const = default;
};

std::optional<Identity> identityOf(const QFile &file)
{
    struct stat st;
    if (::fstat(file.handle(), &st) != 0)
        return std::nullopt;
    return Identity{st.st_dev, st.st_ino, st.st_size,
                    qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

// Pictures read at an eighth before anyone asked for them, by name, with the version of the
// file read (none where the reading was not done or declined the file).
struct ReadAhead
{
    std::optional<Identity> file;
    QImage eighth;
};

QMutex prefetchedLock;
QList<std::pair<QString, QFuture<ReadAhead>>> prefetched;

// What was read ahead of the file of that name, if it is still this version: waits for it.
QImage takePrefetched(const QString &fileName, const QFile &file)
{
    QFuture<ReadAhead> ahead;
    {
        const QMutexLocker locked(&prefetchedLock);
        for (qsizetype i = 0; i < prefetched.size(); ++i) {
            if (prefetched[i].first == fileName) {
                ahead = prefetched.takeAt(i).second;
                break;
            }
        }
    }
    if (!ahead.isValid())
        return {};
    const ReadAhead read = ahead.result();
    return read.file && read.file == identityOf(file) ? read.eighth : QImage();
}

// A JPEG wanted at no more than an eighth of its size, read by its DC coefficients alone, as
// the reader would give it: at `wanted` as stored, then turned upright as its EXIF data ask.
// Null when that reading declines the file, which the reader then reads itself.
QImage readEighth(const QString &fileName, const QFile &file, const JpegLayout &jpeg, QSize wanted,
                  QImageIOHandler::Transformations turn)
{
    const QSize eighth = eighthOf(jpeg);
    if (!jpeg.huffman || !wanted.isValid() || wanted.width() > eighth.width() ||
        wanted.height() > eighth.height())
        return {};
    QImage image = takePrefetched(fileName, file);
    if (image.isNull())
        image = readJpegEighth(file.handle());
    if (image.isNull() || image.size() != eighth)
        return {};
    if (image.size() != wanted)
        image = image.scaled(wanted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    image = image.mirrored(turn & QImageIOHandler::TransformationMirror,
                           turn & QImageIOHandler::TransformationFlip);
    if (turn & QImageIOHandler::TransformationRotate90)
        image = image.transformed(QTransform().rotate(90));
    return image;
}

QImage fitted(QImage image, QSize box)
{
    if (box.isValid() && !box.isEmpty() &&
        (image.width() > box.width() || image.height() > box.height()))
        image = image.scaled(image.size().boundedTo(box), Qt::IgnoreAspectRatio,
                             Qt::SmoothTransformation);
    return image;
}

// The picture as the box shows it, and what writes the reduced copy the cache lacked.
struct Loaded
{
    QImage image;
    std::function<void()> remember;
};

// What a file that the reader refused really is, told by its first bytes, when that is a kind
// of picture or video that people have: "en HEIC-bild", "en video". Empty when unknown.
QString contentKind(QFile &file)
{
    if (!file.seek(0))
        return {};
    const QByteArray head = file.read(32);
    if (head.mid(4, 4) == "ftyp") {
        const QByteArray brand = head.mid(8, 4);
        for (const char *heic : {"heic", "heix", "heim", "heis", "hevc", "hevx", "mif1", "msf1"}) {
            if (brand == heic)
                return QStringLiteral("en HEIC-bild");
        }
        if (brand == "avif" || brand == "avis")
            return QStringLiteral("en AVIF-bild");
        return QStringLiteral("en video");
    }
    if (head.startsWith("RIFF") && head.mid(8, 4) == "WEBP")
        return QStringLiteral("en WebP-bild");
    if (head.startsWith("RIFF") && head.mid(8, 4) == "AVI ")
        return QStringLiteral("en video");
    if (head.startsWith(QByteArray("II*\0", 4)) || head.startsWith(QByteArray("MM\0*", 4)))
        return QStringLiteral("en TIFF-bild");
    if (head.startsWith("%PDF"))
        return QStringLiteral("en PDF-fil");
    return {};
}

// The report on a picture the reader refused: what the file really is where its content tells,
// since Qt's own words are English and say little; they stay as the detail otherwise.
RuntimeError unreadable(QFile &file, const QString &fileName, const QString &why)
{
    const QString picture =
        QStringLiteral("%1 i mappen %2")
            .arg(namedFile(fileName, ExerciseFileKind::Picture), exerciseFolder());
    const QString kind = contentKind(file);
    if (kind == QLatin1String("en video") || kind == QLatin1String("en PDF-fil")) {
        return RuntimeError(ErrorNumber::InvalidPicture,
                            QStringLiteral("%1 är %2, ingen bild.").arg(picture, kind),
                            QStringLiteral("rätta övningen i Kolmiras"));
    }
    if (!kind.isEmpty()) {
        return RuntimeError(ErrorNumber::InvalidPicture,
                            QStringLiteral("%1 är %2, som inte kan visas.").arg(picture, kind),
                            QStringLiteral("spara den som JPEG"));
    }
    return RuntimeError(ErrorNumber::InvalidPicture,
                        QStringLiteral("%1 kunde inte läsas: %2.").arg(picture, why),
                        nextStepFor(fileName, ExerciseFileKind::Picture, FileTrouble::Content));
}

Loaded load(const QString &fileName, QSize box)
{
    // The reader decides the format from the content, as the file is opened here: only a
    // regular file of the exercise folder, and never with an open that could wait.
    const std::unique_ptr<QFile> file = openExerciseFile(fileName, ExerciseFileKind::Picture);
    const std::optional<JpegLayout> jpeg = readJpegLayout(*file);
    file->seek(0);
    QImageReader reader(file.get());
    reader.setAutoTransform(true);
    // Sizes as stored, before the turn its EXIF data asks for; the box and the cache see the
    // picture upright.
    const bool turned = reader.transformation() & QImageIOHandler::TransformationRotate90;
    auto stored = [turned](QSize s) { return turned ? s.transposed() : s; };
    const QSize full = reader.size();
    const QSize upright = stored(full);

    // A picture much larger than the box is what a reduced copy in the desktop's cache saves
    // decoding; a smaller one decodes about as fast as the copy would read.
    const bool large =
        full.isValid() && box.isValid() &&
        qint64(full.width()) * full.height() >= 16 * qint64(box.width()) * box.height();
    const QSize entry = large ? ThumbnailCache::entrySize(upright, box) : QSize();
    ThumbnailCache::Stamp stamp;
    QString path;
    if (entry.isValid()) {
        struct stat st;
        if (::fstat(file->handle(), &st) == 0)
            stamp = {qint64(st.st_mtime), qint64(st.st_size)};
        path = QDir::current().absoluteFilePath(fileName);
    }

    QSize wanted;
    if (entry.isValid())
        wanted = stored(entry);
    else if (full.isValid() && box.isValid() && !box.isEmpty() &&
             (upright.width() > box.width() || upright.height() > box.height()))
        wanted = full.boundedTo(stored(box));
    // Whatever the decoder would read as a JPEG has its cost weighed first.
    if (!jpeg && reader.format() == "jpeg")
        throw unreadable(*file, fileName, QStringLiteral("filen är skadad eller ofullständig"));
    const int cost = decodeCost(jpeg, file->size(), fileName, full, wanted);

    if (entry.isValid()) {
        const QImage cached = ThumbnailCache::find(path, stamp, box);
        if (!cached.isNull())
            return {fitted(cached, box), {}};
    }
    // Formats that can (JPEG) decode straight at this size; the rest scale afterwards.
    if (wanted.isValid())
        reader.setScaledSize(wanted);
    QImage image;
    {
        QSemaphoreReleaser held;
        if (cost > 0) {
            decodeBudget().acquire(cost);
            held = QSemaphoreReleaser(decodeBudget(), cost);
        }
        if (jpeg)
            image = readEighth(fileName, *file, *jpeg, wanted, reader.transformation());
        if (image.isNull())
            image = reader.read();
    }
    if (image.isNull())
        throw unreadable(*file, fileName, pictureCause(reader.error()));
    Loaded loaded{fitted(image, box), {}};
    if (entry.isValid() && image.size() == entry)
        loaded.remember = [path, stamp, upright, image] {
            ThumbnailCache::store(path, stamp, upright, image);
        };
    return loaded;
}

QThreadPool &decodePool()
{
    static QThreadPool pool;
    return pool;
}

// Photos read ahead take the cores the start-up leaves: all but one while it goes on, all once
// the window waits for them (hurryReadAhead).
QThreadPool &aheadPool()
{
    static QThreadPool pool;
    static const bool sized =
        (pool.setMaxThreadCount(std::max(1, QThread::idealThreadCount() - 1)), true);
    Q_UNUSED(sized);
    return pool;
}

void hurryReadAhead()
{
    aheadPool().setMaxThreadCount(std::max(1, QThread::idealThreadCount()));
}

// The large JPEG photo `name` read at an eighth, after the same checks as before any reading,
// unless the desktop's cache may already hold it.
ReadAhead readAhead(const QString &name)
{
    try {
        const std::unique_ptr<QFile> file = openExerciseFile(name, ExerciseFileKind::Picture);
        const std::optional<JpegLayout> jpeg = readJpegLayout(*file);
        const std::optional<Identity> id = identityOf(*file);
        if (!id || !jpeg || !jpeg->huffman || jpeg->size.width() < 1024 ||
            jpeg->size.height() < 1024 ||
            ThumbnailCache::mayHold(QDir::current().absoluteFilePath(name)))
            return {};
        // Refuses, as the load will, a file too small for what it claims or too dear to read.
        const int cost = decodeCost(jpeg, file->size(), name, jpeg->size, eighthOf(*jpeg));
        decodeBudget().acquire(cost);
        const QSemaphoreReleaser held(decodeBudget(), cost);
        return {id, readJpegEighth(file->handle())};
    } catch (const RuntimeError &) {
        return {}; // the load reports it
    }
}

} // namespace

void prefetchPictures(const QStringList &fileNames)
{
    const QMutexLocker locked(&prefetchedLock);
    for (const QString &name : fileNames)
        prefetched.append({name, QtConcurrent::run(&aheadPool(), readAhead, name)});
}

QImage loadPicture(const QString &fileName, QSize box)
{
    Loaded loaded = load(fileName, box);
    if (loaded.remember)
        loaded.remember();
    return loaded.image;
}

PictureDecodes::PictureDecodes(const QStringList &fileNames, QSize box)
{
    // A thread for each picture rather than one for each core: the decodes share the cores and
    // end together, where otherwise the last one would decode alone while the other cores idle.
    decodePool().setMaxThreadCount(std::max(QThread::idealThreadCount(), int(fileNames.size())));
    for (const QString &name : fileNames) {
        m_decodes.append(QtConcurrent::run(&decodePool(), [name, box] {
            Decoded decoded;
            try {
                Loaded loaded = load(name, box);
                decoded.image = std::move(loaded.image);
                decoded.remember = std::move(loaded.remember);
            } catch (...) {
                decoded.error = std::current_exception();
            }
            return decoded;
        }));
    }
}

PictureDecodes::~PictureDecodes()
{
    for (QFuture<Decoded> &decode : m_decodes) {
        decode.waitForFinished();
        if (decode.resultCount() > 0 && decode.result().remember)
            m_remember.append(decode.result().remember);
    }
    {
        // What was read ahead and not wanted after all.
        const QMutexLocker locked(&prefetchedLock);
        prefetched.clear();
    }
    if (m_remember.isEmpty())
        return;
    auto write = [remember = m_remember] {
        decodePool().start([remember] {
            for (const auto &store : remember)
                store();
        });
    };
    // A second after the pictures are set: the first sign and the window's first frame come
    // first, and the copies are written in a moment when nothing else wants the cores.
    if (QCoreApplication::instance())
        QTimer::singleShot(1000, QCoreApplication::instance(), write);
    else
        write();
}

QImage PictureDecodes::take(int index)
{
    hurryReadAhead();
    Decoded decoded = m_decodes[index].result();
    // The future lets go of its copy, so only the box keeps the pixels.
    m_decodes[index] = QFuture<Decoded>();
    if (decoded.remember)
        m_remember.append(std::move(decoded.remember));
    if (decoded.error)
        std::rethrow_exception(decoded.error);
    return decoded.image;
}
