// Start-up of the quiz as a learner sees it: from starting the process to the first frame of the
// first sign on the screen, on a private Xvfb. The first sign is a clip whose first frame is pure
// red, so the moment is read from one screen pixel where the fitted video stands. The same is
// measured for a bare `mpv` (Debian's package, if installed) showing the same clip, and the
// quiz's peak resident memory is read from /proc.
//
// Usage: bench_startup [runs]   (default 5; prints medians)

#include "xvfbserver.h"

#include <QApplication>
#include <QColor>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>

namespace {

constexpr QSize Screen(1024, 768);

const QColor Red(255, 0, 0);
// The middle of the demo's first sign's first frame: the signer's orange shirt.
const QColor DemoFirstFrame(239, 174, 0);

bool near(QColor a, QColor b)
{
    return qAbs(a.red() - b.red()) < 40 && qAbs(a.green() - b.green()) < 40 &&
           qAbs(a.blue() - b.blue()) < 40;
}

// Milliseconds until the pixel at `p` shows `colour`, or -1 after 10 s.
double untilColour(QScreen *screen, QPoint p, QColor colour, QElapsedTimer &clock)
{
    while (clock.elapsed() < 10000) {
        if (near(screen->grabWindow(0, p.x(), p.y(), 1, 1).toImage().pixelColor(0, 0), colour))
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

double median(QList<double> v)
{
    std::sort(v.begin(), v.end());
    return v.isEmpty() ? -1 : v[v.size() / 2];
}

void makeExercise(const QString &dir, bool hugePictures)
{
    const QDir d(dir);
    for (int pair = 1; pair <= 5; ++pair) {
        QFile::copy(QStringLiteral(FIXTURES_DIR "/twocolour.avi"),
                    d.filePath(QStringLiteral("tecken%1.avi").arg(pair)));
        QImage img(hugePictures ? QSize(6000, 4000) : QSize(320, 240), QImage::Format_RGB32);
        QPainter p(&img);
        QLinearGradient g(0, 0, img.width(), img.height());
        g.setColorAt(0, QColor::fromHsv(pair * 60, 200, 250));
        g.setColorAt(1, QColor::fromHsv(pair * 60 + 30, 255, 120));
        p.fillRect(img.rect(), g);
        for (int i = 0; i < 400; ++i)
            p.drawEllipse(QPoint((i * 7919) % img.width(), (i * 104729) % img.height()), 40, 40);
        p.end();
        img.save(d.filePath(QStringLiteral("bild%1.jpg").arg(pair)), "JPEG", 90);
    }
    QFile::copy(QStringLiteral(FIXTURES_DIR "/twocolour.mov"), d.filePath("slut.mov"));
    QFile ini(d.filePath("pirvel.ini"));
    ini.open(QIODevice::WriteOnly);
    for (int pair = 1; pair <= 5; ++pair)
        ini.write(QStringLiteral("\"tecken%1.avi\"\r\n\"bild%1.jpg\"\r\n").arg(pair).toLatin1());
    ini.write("0\r\n");
}

struct Result
{
    QList<double> ms;
    QList<double> peakMb;
};

Result measureQuiz(QScreen *screen, const QString &dir, QColor firstFrame, int runs)
{
    // A 4:3 clip is fitted to 240 x 180 px, its top-left corner at (168, 52) in the window,
    // which stands centred on the screen.
    const QPoint window((Screen.width() - 634) / 2, (Screen.height() - 455) / 2);
    const QPoint probe = window + QPoint(168 + 120, 52 + 90);
    Result r;
    for (int i = 0; i < runs; ++i) {
        QProcess quiz;
        quiz.setWorkingDirectory(dir);
        quiz.setProcessChannelMode(QProcess::ForwardedChannels);
        QElapsedTimer clock;
        clock.start();
        quiz.start(QStringLiteral(PIRVEL_EXE), {});
        const double ms = untilColour(screen, probe, firstFrame, clock);
        QThread::msleep(1500); // let the sign play on, so the peak includes playback
        r.ms << ms;
        r.peakMb << peakKb(quiz.processId()) / 1024.0;
        quiz.kill();
        quiz.waitForFinished();
    }
    return r;
}

QList<double> measureMpv(QScreen *screen, const QString &clip, int runs)
{
    const QString mpv = QStandardPaths::findExecutable(QStringLiteral("mpv"));
    QList<double> ms;
    if (mpv.isEmpty())
        return ms;
    // Without a GPU mpv's own choice falls through several video outputs that fail first; the
    // X11 one is the software path it would end on, and the geometry puts the 160 x 120 window
    // where the probe looks.
    const QPoint probe(400 + 80, 300 + 60);
    for (int i = 0; i < runs; ++i) {
        QProcess p;
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QElapsedTimer clock;
        clock.start();
        p.start(mpv, {"--no-config", "--really-quiet", "--ao=null", "--vo=x11",
                      "--geometry=+400+300", "--keep-open=yes", clip});
        ms << untilColour(screen, probe, Red, clock);
        p.kill();
        p.waitForFinished();
    }
    return ms;
}

// The editor in a folder of 10 000 media files: from starting the process until its window
// (light yellow, centred) is on the screen.
QList<double> measureEditor(QScreen *screen, int runs)
{
    QTemporaryDir dir;
    makeExercise(dir.path(), false);
    const QDir d(dir.path());
    for (int i = 0; i < 10000; ++i) {
        QFile f(d.filePath(
            QStringLiteral("fil%1.%2").arg(i, 5, 10, QLatin1Char('0')).arg(i % 2 ? "avi" : "jpg")));
        f.open(QIODevice::WriteOnly);
    }
    const QPoint probe((Screen.width() - 634) / 2 + 3, (Screen.height() - 455) / 2 + 3);
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
    XvfbServer x;
    if (!x.start("1024x768x24")) {
        std::fprintf(stderr, "Xvfb could not be started\n");
        return 1;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
    QScreen *screen = QGuiApplication::primaryScreen();

    QTemporaryDir small, huge;
    makeExercise(small.path(), false);
    makeExercise(huge.path(), true);

    const Result d = measureQuiz(screen, QStringLiteral(DEMO_DIR), DemoFirstFrame, runs);
    const Result s = measureQuiz(screen, small.path(), Red, runs);
    const Result h = measureQuiz(screen, huge.path(), Red, runs);
    const QList<double> m = measureMpv(screen, QStringLiteral(FIXTURES_DIR "/twocolour.avi"), runs);

    const QList<double> e = measureEditor(screen, runs);

    std::printf("runs: %d (medians)\n", runs);
    std::printf("editor start -> window shown, 10 000 media files: %.1f ms\n", median(e));
    std::printf("quiz start -> first sign frame, demo exercise: %.1f ms, peak RSS %.1f MB\n",
                median(d.ms), median(d.peakMb));
    std::printf("quiz start -> first sign frame, small pictures: %.1f ms, peak RSS %.1f MB\n",
                median(s.ms), median(s.peakMb));
    std::printf(
        "quiz start -> first sign frame, five 24-megapixel JPEGs: %.1f ms, peak RSS %.1f MB\n",
        median(h.ms), median(h.peakMb));
    if (m.isEmpty())
        std::printf("bare mpv: not installed (apt-get install mpv to compare)\n");
    else
        std::printf("bare mpv start -> first frame of the same clip: %.1f ms (quiz/mpv %.2f)\n",
                    median(m), median(h.ms) / median(m));
    return 0;
}
