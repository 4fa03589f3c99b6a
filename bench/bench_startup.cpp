// Start-up of the quiz as a learner sees it: from starting the process to the first frame of the
// first sign on the screen, on a private Xvfb. The first sign is a clip whose first frame is pure
// red, so the moment is read from one screen pixel where the fitted video stands. The same is
// measured for a bare `mpv` (Debian's package, if installed) showing the same clip, and the
// quiz's peak resident memory is read from /proc.
//
// All starts run on one private Xvfb with openbox as the window manager and a private session
// bus, as on a desktop. They run interleaved, so a busy machine slows every program alike; the
// ratios to mpv are what to compare across machines.
// --baseline names another build of the quiz to measure alongside, for before/after figures;
// it may be given more than once.
//
// On a machine shared with builds, `chrt -f 10 bench_startup ...` runs the whole measurement
// ahead of them, which comes much nearer to the figures of a quiet machine.
//
// The photo-like exercise is started three ways: with an empty picture cache (the first start),
// with the cache its previous start left (every later start), and with the reduced copies a
// file manager made while the teacher browsed the folder. Each build of the quiz gets caches of
// its own ($XDG_CACHE_HOME), so that no start sees another's.
//
// Usage: bench_startup [runs] [--baseline path/to/pirvel]...   (default 7; prints medians)

#include "tests/support/testsupport.h"
#include "tests/support/xserver.h"

#include <QApplication>
#include <QColor>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>

#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>

namespace {

const QColor Red(255, 0, 0);
// The middle of the demo's first sign's first frame: the signer's orange shirt.
const QColor DemoFirstFrame(239, 174, 0);

// Milliseconds until the pixel at `p` shows `colour`, or -1 after 10 s.
double untilColour(QScreen *screen, QPoint p, QColor colour, QElapsedTimer &clock)
{
    while (clock.elapsed() < 10000) {
        if (nearColour(screen->grabWindow(0, p.x(), p.y(), 1, 1).toImage().pixelColor(0, 0),
                       colour))
            return double(clock.nsecsElapsed()) / 1e6;
        QThread::usleep(500);
    }
    return -1;
}

long peakKb(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

// Milliseconds all threads of the process have run on a core so far.
double cpuMs(qint64 pid)
{
    double ns = 0;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile f(tasks.filePath(task + QStringLiteral("/schedstat")));
        if (f.open(QIODevice::ReadOnly))
            ns += f.readAll().split(' ').value(0).toDouble();
    }
    return ns / 1e6;
}

double median(QList<double> v)
{
    std::sort(v.begin(), v.end());
    return v.isEmpty() ? -1 : v[v.size() / 2];
}

enum class Pictures { Small, Huge, PhotoLike };

// An EXIF block right after the start of the JPEG holding only the orientation "turn 90 degrees
// clockwise to show" (6).
void addOrientation(const QString &jpeg)
{
    QFile f(jpeg);
    f.open(QIODevice::ReadOnly);
    QByteArray bytes = f.readAll();
    f.close();
    const QByteArray exif("\xFF\xE1\x00\x22"
                          "Exif\0\0"
                          "MM\0\x2A\0\0\0\x08"
                          "\0\x01"
                          "\x01\x12\0\x03\0\0\0\x01\0\x06\0\0"
                          "\0\0\0\0",
                          36);
    bytes.insert(2, exif);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(bytes);
}

// The reduced copies a file manager makes as the folder is shown: the desktop's own thumbnailer
// draws each, the file manager adds the keys that tie it to the file (no size, as many do not
// write one) and puts it into the cache's "large" folder. Written into `cache`, which stands for
// $XDG_CACHE_HOME.
bool makeDesktopThumbnails(const QString &exercise, const QString &cache)
{
    const QString large = cache + QStringLiteral("/thumbnails/large");
    QDir().mkpath(large);
    for (const QFileInfo &picture : QDir(exercise).entryInfoList({"*.jpg"}, QDir::Files)) {
        const QByteArray uri = QUrl::fromLocalFile(picture.absoluteFilePath()).toEncoded();
        const QString target =
            large + QLatin1Char('/') +
            QString::fromLatin1(QCryptographicHash::hash(uri, QCryptographicHash::Md5).toHex()) +
            QStringLiteral(".png");
        if (QProcess::execute(QStringLiteral("gdk-pixbuf-thumbnailer"),
                              {"-s", "256", picture.absoluteFilePath(), target}) != 0)
            return false;
        QImage drawn(target);
        drawn.setText(QStringLiteral("Thumb::URI"), QString::fromLatin1(uri));
        drawn.setText(QStringLiteral("Thumb::MTime"),
                      QString::number(picture.lastModified().toSecsSinceEpoch()));
        if (drawn.isNull() || !drawn.save(target, "png"))
            return false;
    }
    return true;
}

// Small: 320 x 240. Huge: 24 megapixels of smooth gradients, about 1 MB each. PhotoLike: the
// same with grain, about 6 MB each as a phone's photo is, which costs three times as much to
// decode, since most of a JPEG decode at a reduced size is reading the compressed data. The
// second photo is stored on its side with an EXIF orientation that turns it upright, as a phone
// held upright stores it.
void makeExercise(const QString &dir, Pictures kind)
{
    const QDir d(dir);
    std::minstd_rand grain(1);
    for (int pair = 1; pair <= 5; ++pair) {
        QFile::copy(QStringLiteral(FIXTURES_DIR "/twocolour.avi"),
                    d.filePath(QStringLiteral("tecken%1.avi").arg(pair)));
        QImage img(kind == Pictures::Small ? QSize(320, 240) : QSize(6000, 4000),
                   QImage::Format_RGB32);
        QPainter p(&img);
        QLinearGradient g(0, 0, img.width(), img.height());
        g.setColorAt(0, QColor::fromHsv(pair * 60, 200, 250));
        g.setColorAt(1, QColor::fromHsv(pair * 60 + 30, 255, 120));
        p.fillRect(img.rect(), g);
        for (int i = 0; i < 400; ++i)
            p.drawEllipse(QPoint((i * 7919) % img.width(), (i * 104729) % img.height()), 40, 40);
        p.end();
        if (kind == Pictures::PhotoLike) {
            for (int y = 0; y < img.height(); ++y) {
                auto *line = reinterpret_cast<QRgb *>(img.scanLine(y));
                for (int x = 0; x < img.width(); ++x) {
                    const int n = int(grain() % 17) - 8;
                    const QRgb c = line[x];
                    line[x] =
                        qRgb(std::clamp(qRed(c) + n, 0, 255), std::clamp(qGreen(c) + n, 0, 255),
                             std::clamp(qBlue(c) + n, 0, 255));
                }
            }
        }
        const QString name = d.filePath(QStringLiteral("bild%1.jpg").arg(pair));
        img.save(name, "JPEG", 90);
        if (kind == Pictures::PhotoLike && pair == 2)
            addOrientation(name);
    }
    QFile::copy(QStringLiteral(FIXTURES_DIR "/twocolour.mov"), d.filePath("slut.mov"));
    QFile ini(d.filePath("pirvel.ini"));
    ini.open(QIODevice::WriteOnly);
    for (int pair = 1; pair <= 5; ++pair)
        ini.write(QStringLiteral("\"tecken%1.avi\"\r\n\"bild%1.jpg\"\r\n").arg(pair).toLatin1());
    ini.write("0\r\n");
}

QString loadAverage()
{
    QFile f(QStringLiteral("/proc/loadavg"));
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromLatin1(f.readAll()).split(' ').mid(0, 3).join(' ');
}

// A session bus as on a desktop. Without one, the toolkit's accessibility bridge has libdbus
// start dbus-launch at every start-up to look for one, which no user's desktop does.
bool startSessionBus(QProcess &bus)
{
    bus.start(QStringLiteral("dbus-daemon"), {"--session", "--nofork", "--print-address=1"});
    if (!bus.waitForReadyRead(10000))
        return false;
    const QByteArray address = bus.readLine().trimmed();
    qputenv("DBUS_SESSION_BUS_ADDRESS", address);
    return !address.isEmpty();
}

// The largest patch of `colour` on the screen now (an empty rectangle if none): the video, not
// the red gauge beside it. The window manager decides where a window goes, so each probe point
// is found once, by a start that is not timed.
QRect locate(QScreen *screen, QColor colour)
{
    const QImage shot = screen->grabWindow(0).toImage();
    const int w = shot.width() / 2, h = shot.height() / 2;
    std::vector<char> seen(std::size_t(w * h), 0);
    auto match = [&](int x, int y) { return nearColour(shot.pixelColor(2 * x, 2 * y), colour); };
    QRect best;
    qsizetype bestCount = 0;
    for (int y0 = 0; y0 < h; ++y0) {
        for (int x0 = 0; x0 < w; ++x0) {
            if (seen[std::size_t(y0 * w + x0)] || !match(x0, y0))
                continue;
            QRect area;
            qsizetype count = 0;
            std::vector<QPoint> todo{{x0, y0}};
            seen[std::size_t(y0 * w + x0)] = 1;
            while (!todo.empty()) {
                const QPoint p = todo.back();
                todo.pop_back();
                area |= QRect(2 * p.x(), 2 * p.y(), 2, 2);
                ++count;
                for (const QPoint d : {QPoint(1, 0), QPoint(-1, 0), QPoint(0, 1), QPoint(0, -1)}) {
                    const QPoint q = p + d;
                    if (q.x() < 0 || q.y() < 0 || q.x() >= w || q.y() >= h ||
                        seen[std::size_t(q.y() * w + q.x())] || !match(q.x(), q.y()))
                        continue;
                    seen[std::size_t(q.y() * w + q.x())] = 1;
                    todo.push_back(q);
                }
            }
            if (count > bestCount) {
                bestCount = count;
                best = area;
            }
        }
    }
    return best.width() > 40 ? best : QRect();
}

// What the picture cache holds when a start begins.
enum class Cache {
    Kept,    // whatever the previous start of the same run left
    Empty,   // nothing: a first start
    Desktop, // only what a file manager made
};

struct Run
{
    Run(QString exe, QStringList arguments, QString folder, QColor first, bool measurePeak = false)
        : program(exe), args(arguments), dir(folder), firstFrame(first), peak(measurePeak)
    {}
    QString program;
    QStringList args;
    QString dir;
    QColor firstFrame;
    QPoint probe{-1, -1};
    bool peak = false;
    Cache cache = Cache::Kept;
    QString cacheHome;        // this run's $XDG_CACHE_HOME
    QString desktopCacheHome; // a file manager's cache, copied in before each start
    QList<double> ms;
    QList<double> cpu; // of all its threads, until the first frame
    QList<double> peakMb;
};

void copyTree(const QString &from, const QString &to)
{
    QDir().mkpath(to);
    for (const QFileInfo &e : QDir(from).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot)) {
        const QString target = QDir(to).filePath(e.fileName());
        if (e.isDir())
            copyTree(e.filePath(), target);
        else
            QFile::copy(e.filePath(), target);
    }
}

void prepare(QProcess &p, const Run &r)
{
    p.setWorkingDirectory(r.dir);
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    if (r.cacheHome.isEmpty())
        return;
    if (r.cache != Cache::Kept)
        QDir(r.cacheHome).removeRecursively();
    if (r.cache == Cache::Desktop)
        copyTree(r.desktopCacheHome, r.cacheHome);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CACHE_HOME"), r.cacheHome);
    p.setProcessEnvironment(env);
}

// One start: the time until the first frame's colour is at the probe and, if asked, the peak
// memory after the clip has played on for a while.
void once(QScreen *screen, Run &r)
{
    QProcess p;
    prepare(p, r);
    QElapsedTimer clock;
    clock.start();
    p.start(r.program, r.args);
    r.ms << untilColour(screen, r.probe, r.firstFrame, clock);
    r.cpu << cpuMs(p.processId());
    if (r.peak) {
        QThread::msleep(1500);
        r.peakMb << peakKb(p.processId()) / 1024.0;
    }
    p.kill();
    p.waitForFinished();
    QThread::msleep(300); // let the X server and the window manager forget the window
}

QRect calibrate(QScreen *screen, const Run &r)
{
    QProcess p;
    prepare(p, r);
    p.start(r.program, r.args);
    QElapsedTimer clock;
    clock.start();
    QRect area;
    while (area.isEmpty() && clock.elapsed() < 10000)
        area = locate(screen, r.firstFrame);
    p.kill();
    p.waitForFinished();
    QThread::msleep(300);
    return area;
}

// The editor in a folder of 10 000 media files: from starting the process until its window
// (light yellow, centred) is on the screen.
QList<double> measureEditor(QScreen *screen, int runs)
{
    QTemporaryDir dir;
    makeExercise(dir.path(), Pictures::Small);
    const QDir d(dir.path());
    for (int i = 0; i < 10000; ++i) {
        QFile f(d.filePath(
            QStringLiteral("fil%1.%2").arg(i, 5, 10, QLatin1Char('0')).arg(i % 2 ? "avi" : "jpg")));
        f.open(QIODevice::WriteOnly);
    }
    const Run window{QStringLiteral(KOLMIRAS_EXE), {}, dir.path(), QColor(255, 255, 128)};
    const QPoint probe = calibrate(screen, window).topLeft() + QPoint(3, 3);
    QList<double> ms;
    for (int i = 0; i < runs; ++i) {
        QProcess editor;
        editor.setWorkingDirectory(dir.path());
        editor.setProcessChannelMode(QProcess::ForwardedChannels);
        QElapsedTimer clock;
        clock.start();
        editor.start(QStringLiteral(KOLMIRAS_EXE), {});
        ms << untilColour(screen, probe, QColor(255, 255, 128), clock);
        editor.kill();
        editor.waitForFinished();
    }
    return ms;
}

} // namespace

int main(int argc, char *argv[])
{
    // A window manager as on a desktop, so the windows get frames and are placed by it.
    XServer x;
    if (!x.start(QStringLiteral("openbox"))) {
        std::fprintf(stderr, "%s (apt-get install xvfb openbox)\n", qPrintable(x.error()));
        return 1;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    QStringList baselines;
    for (qsizetype at; (at = args.indexOf(QStringLiteral("--baseline"))) >= 0;) {
        baselines << args.value(at + 1);
        args.remove(at, std::min<qsizetype>(2, args.size() - at));
    }
    const int runs = args.isEmpty() ? 7 : std::max(1, args[0].toInt());
    QScreen *screen = QGuiApplication::primaryScreen();

    QTemporaryDir small, huge, photos, caches;
    QProcess bus;
    if (!startSessionBus(bus)) {
        std::fprintf(stderr, "dbus-daemon could not be started (apt-get install dbus-daemon)\n");
        return 1;
    }
    makeExercise(small.path(), Pictures::Small);
    makeExercise(huge.path(), Pictures::Huge);
    makeExercise(photos.path(), Pictures::PhotoLike);
    const QString desktopCache = caches.filePath(QStringLiteral("desktop"));
    if (!makeDesktopThumbnails(photos.path(), desktopCache)) {
        std::fprintf(stderr,
                     "gdk-pixbuf-thumbnailer failed (apt-get install libgdk-pixbuf2.0-bin)\n");
        return 1;
    }
    const QString before = loadAverage();

    const QString clip = QStringLiteral(FIXTURES_DIR "/twocolour.avi");
    const QString quiz = QStringLiteral(PIRVEL_EXE);
    // Each build of the quiz starts on the exercises in a row: small pictures, 24-MP gradients
    // and 24-MP photo-like pictures, the last from an empty cache, then from the one that start
    // left, then from a file manager's.
    QList<Run> all;
    int builds = 0;
    auto addQuiz = [&](const QString &program) {
        const QString home = caches.filePath(QString::number(builds++));
        all.append({program, {}, small.path(), Red});
        all.append({program, {}, huge.path(), Red, true});
        for (Cache cache : {Cache::Empty, Cache::Kept, Cache::Desktop}) {
            all.append({program, {}, photos.path(), Red, true});
            all.back().cache = cache;
            all.back().cacheHome = home + QStringLiteral("/photos");
            all.back().desktopCacheHome = desktopCache;
        }
        all[all.size() - 4].cacheHome = home + QStringLiteral("/huge");
        all[all.size() - 5].cacheHome = home + QStringLiteral("/small");
    };
    addQuiz(quiz);
    const QString mpv = QStandardPaths::findExecutable(QStringLiteral("mpv"));
    // Without a GPU mpv's own choice falls through several video outputs that fail first; the
    // X11 one is the software path it would end on.
    if (!mpv.isEmpty())
        all.append({mpv,
                    {"--no-config", "--really-quiet", "--ao=null", "--vo=x11",
                     "--geometry=+400+300", "--keep-open=yes", clip},
                    small.path(),
                    Red});
    all.append({quiz, {}, QStringLiteral(DEMO_DIR), DemoFirstFrame});
    const qsizetype firstBaseline = all.size();
    for (const QString &baseline : baselines)
        addQuiz(baseline);
    Run &quizSmall = all[0];
    Run *bare = mpv.isEmpty() ? nullptr : &all[5];
    Run &demo = all[mpv.isEmpty() ? 5 : 6];

    // The quiz's window stands where the window manager put it, the same for every exercise
    // whose first sign has the same shape; the demo's first frame is read at the same place.
    quizSmall.probe = calibrate(screen, quizSmall).center();
    if (bare)
        bare->probe = calibrate(screen, *bare).center();
    for (Run &r : all)
        if (r.probe.x() < 0)
            r.probe = quizSmall.probe;
    if (quizSmall.probe.x() < 0 || (bare && bare->probe.x() < 0)) {
        std::fprintf(stderr, "the first frame did not show up\n");
        return 1;
    }

    // Interleaved, so that the load of a shared machine falls alike on every program.
    for (int i = 0; i < runs; ++i)
        for (Run &r : all)
            once(screen, r);

    const QList<double> e = measureEditor(screen, runs);
    const double m = bare ? median(bare->ms) : -1;
    auto ratio = [m](const Run &r) { return m > 0 ? median(r.ms) / m : 0.0; };

    std::printf("runs: %d each, interleaved (medians); load average %s before, %s after\n", runs,
                qPrintable(before), qPrintable(loadAverage()));
    std::printf("editor start -> window shown, 10 000 media files: %.1f ms\n", median(e));
    std::printf("quiz start -> first sign frame, demo exercise: %.1f ms\n", median(demo.ms));
    if (bare)
        std::printf(
            "bare mpv --no-config --vo=x11 --ao=null -> first frame: %.1f ms, CPU %.0f ms\n", m,
            median(bare->cpu));
    else
        std::printf("bare mpv: not installed (apt-get install mpv to compare)\n");
    const double photoMb = QFileInfo(QDir(photos.path()).filePath("bild1.jpg")).size() / 1e6;
    auto print = [&](const char *who, qsizetype first) {
        const Run &smallRun = all[first], &hugeRun = all[first + 1];
        std::printf("%s start -> first sign frame, demo-like pictures: %.1f ms (/mpv %.2f), CPU "
                    "%.0f ms\n",
                    who, median(smallRun.ms), ratio(smallRun), median(smallRun.cpu));
        std::printf("%s start -> first sign frame, five 24-MP JPEGs, later start: %.1f ms (/mpv "
                    "%.2f), peak RSS %.1f MB\n",
                    who, median(hugeRun.ms), ratio(hugeRun), median(hugeRun.peakMb));
        const char *starts[] = {"first start (empty cache)", "second start",
                                "first start after a file manager's thumbnails"};
        for (int i = 0; i < 3; ++i) {
            const Run &photoRun = all[first + 2 + i];
            std::printf("%s start -> first sign frame, five 24-MP photo-like JPEGs (%.1f MB each), "
                        "%s: %.1f ms (/mpv %.2f), CPU %.0f ms, peak RSS %.1f MB\n",
                        who, photoMb, starts[i], median(photoRun.ms), ratio(photoRun),
                        median(photoRun.cpu), median(photoRun.peakMb));
        }
    };
    print("quiz", 0);
    for (qsizetype i = 0; i < baselines.size(); ++i) {
        std::printf("baseline %lld = %s\n", static_cast<long long>(i + 1),
                    qPrintable(baselines[i]));
        const QByteArray who = "baseline " + QByteArray::number(i + 1);
        print(who.constData(), firstBaseline + 5 * i);
    }
    bus.terminate();
    bus.waitForFinished();
    return 0;
}
