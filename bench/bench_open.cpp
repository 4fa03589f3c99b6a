// Opens each fixture clip many times, offscreen, and prints how long the synchronous open takes
// and how long it is from the start of an open until "Play" has painted its first frame.
//
//   QT_QPA_PLATFORM=offscreen bench_open [runs]

#include "mediawindow.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>

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

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const int runs = argc > 1 ? qMax(1, atoi(argv[1])) : 20;
    MediaWindow::setAudioOutput(QStringLiteral("null"));

    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    const QStringList files{"twocolour.avi",  "twocolour.mov", "twocolour.mpg",
                            "twocolour.mpeg", "twocolour.mp4", "wide.avi"};
    for (const QString &f : files)
        QFile::copy(QStringLiteral(FIXTURES_DIR "/") + f, f);

    std::printf("%-16s %28s %28s %28s\n", "", "setFileName ms", "open -> first Play frame ms",
                "window create+destroy ms");
    std::printf("%-16s %14s %13s %14s %13s %14s %13s\n", "file", "median", "p95", "median", "p95",
                "median", "p95");
    MediaWindow w;
    w.show();
    for (const QString &f : files) {
        QList<double> open, firstFrame, lifetime;
        for (int i = 0; i < runs; ++i) {
            QElapsedTimer t;
            t.start();
            w.setFileName(f);
            open.append(ms(t));
            w.setCommand(QStringLiteral("Play"));
            firstFrame.append(waitForFrame(w, t));

            QElapsedTimer life;
            life.start();
            {
                MediaWindow other;
                other.setFileName(f);
            }
            lifetime.append(ms(life));
        }
        const Stats o = stats(open), p = stats(firstFrame), l = stats(lifetime);
        std::printf("%-16s %14.1f %13.1f %14.1f %13.1f %14.1f %13.1f\n", qPrintable(f), o.median,
                    o.p95, p.median, p.p95, l.median, l.p95);
    }
    return 0;
}
