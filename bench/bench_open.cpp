// Opens each fixture clip many times, offscreen, and prints how long the synchronous open takes
// when it replaces a playing clip and when it replaces a paused one (the quiz's usual case: the
// last sign has played to its end), how long it is from the start of an open until "Play" has
// painted its first frame, how long a replay after the end takes (the rewind setting, then
// "Play", until a frame of the new showing is painted), and what a window costs to create, open
// once and destroy.
//
//   QT_QPA_PLATFORM=offscreen bench_open [runs]
//
// With "huge" instead it makes (with ffmpeg, which takes a while and some GB itself) a .mov of
// one 16000 x 16000 16-bit PNG frame, opens it, and prints this process's peak memory before
// and after the open, which refuses the file.

#include "common/mediawindow.h"
#include "common/runtimeerror.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <sys/resource.h>

namespace {

struct Stats
{
    double median;
    double p95;
};

Stats stats(QList<double> v)
{
    std::sort(v.begin(), v.end());
    const auto at = [&](double q) { return v.at(qMin(v.size() - 1, qsizetype(q * v.size()))); };
    return {at(0.5), at(0.95)};
}

double ms(const QElapsedTimer &t)
{
    return double(t.nsecsElapsed()) / 1e6;
}

// Waits for the next painted frame; -1 when none comes within two seconds.
double waitForFrame(MediaWindow &w, const QElapsedTimer &since)
{
    QEventLoop loop;
    double at = -1;
    const auto c = QObject::connect(&w, &MediaWindow::framePainted, &loop, [&] {
        at = ms(since);
        loop.quit();
    });
    QTimer::singleShot(2000, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    QObject::disconnect(c);
    return at;
}

// Runs the action and returns when the first frame of the clip (red all over in every fixture)
// painted during or after it arrives: -1 when none comes within two seconds. A redraw of the
// frame on show before does not count.
template <typename Action>
double firstFrameOf(MediaWindow &w, const QElapsedTimer &since, Action action)
{
    double at = -1;
    QEventLoop loop;
    const auto c = QObject::connect(&w, &MediaWindow::framePainted, &w, [&] {
        const QImage f = w.currentFrame();
        const QColor centre = f.pixelColor(f.width() / 2, f.height() / 2);
        if (at < 0 && centre.red() > 200 && centre.blue() < 80) {
            at = ms(since);
            loop.quit();
        }
    });
    action();
    if (at < 0) {
        QTimer::singleShot(2000, &loop, &QEventLoop::quit);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    QObject::disconnect(c);
    return at;
}

long peakKilobytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

int openHuge()
{
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"), {"-hide_banner", "-loglevel", "error", "-f", "lavfi",
                                            "-i", "color=s=16000x16000:d=0.04", "-frames:v", "1",
                                            "-c:v", "png", "-pix_fmt", "rgb48be", "huge.mov"});
    if (!ffmpeg.waitForFinished(600000) || ffmpeg.exitCode() != 0) {
        std::fprintf(stderr, "ffmpeg could not make huge.mov\n");
        return 1;
    }
    MediaWindow w;
    const long before = peakKilobytes();
    QElapsedTimer t;
    t.start();
    QString result = QStringLiteral("opened");
    try {
        w.setFileName(QStringLiteral("huge.mov"));
    } catch (const RuntimeError &e) {
        result = e.text();
    }
    std::printf("16000 x 16000 rgb48 PNG in .mov (%lld bytes): %s\n",
                QFileInfo(QStringLiteral("huge.mov")).size(), qPrintable(result));
    std::printf("peak memory before the open %ld kB, after %ld kB, %.0f ms\n", before,
                peakKilobytes(), ms(t));
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const int runs = argc > 1 ? qMax(1, atoi(argv[1])) : 20;
    MediaWindow::setAudioOutput(QStringLiteral("null"));
    if (argc > 1 && qstrcmp(argv[1], "huge") == 0)
        return openHuge();

    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    const QStringList files{"twocolour.avi",  "twocolour.mov", "twocolour.mpg",
                            "twocolour.mpeg", "twocolour.mp4", "wide.avi"};
    for (const QString &f : files)
        QFile::copy(QStringLiteral(FIXTURES_DIR "/") + f, f);

    std::printf("%-15s %17s %17s %17s %17s %17s\n", "", "open, was playing", "open, was paused",
                "open->Play frame", "replay->frame", "window lifetime");
    std::printf("%-15s", "file (ms)");
    for (int i = 0; i < 5; ++i)
        std::printf(" %8s %8s", "median", "p95");
    std::printf("\n");
    MediaWindow w;
    w.show();
    for (const QString &f : files) {
        QList<double> open, reopen, firstFrame, replay, lifetime;
        for (int i = 0; i < runs; ++i) {
            QElapsedTimer t;
            t.start();
            w.setFileName(f);
            reopen.append(ms(t));
            w.setCommand(QStringLiteral("Play"));
            firstFrame.append(waitForFrame(w, t));
            // A few frames on, the clip is really playing when the next open replaces it.
            for (int k = 0; k < 3; ++k)
                waitForFrame(w, t);
            if (!w.isPlaying())
                std::fprintf(stderr, "%s stopped early\n", qPrintable(f));

            t.restart();
            w.setFileName(f);
            open.append(ms(t));

            w.setCommand(QStringLiteral("Play wait"));
            t.restart();
            replay.append(firstFrameOf(w, t, [&w] {
                w.setRewindSetting(0);
                w.setCommand(QStringLiteral("Play"));
            }));
            // The next open replaces a clip that has played to its end, as in the quiz.
            w.setCommand(QStringLiteral("Play wait"));

            QElapsedTimer life;
            life.start();
            {
                MediaWindow other;
                other.setFileName(f);
            }
            lifetime.append(ms(life));
        }
        std::printf("%-15s", qPrintable(f));
        for (const QList<double> &v : {open, reopen, firstFrame, replay, lifetime}) {
            const Stats s = stats(v);
            std::printf(" %8.1f %8.1f", s.median, s.p95);
        }
        std::printf("\n");
    }
    return 0;
}
