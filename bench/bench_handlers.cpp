// The two hot paths after start-up, in-process on the offscreen platform:
//   - quiz: a right answer's click until the next sign's first frame is painted (100 answers);
//   - editor: a click in the video file list until the preview's first frame is painted;
// and whether memory grows over 1000 "PLAY" presses and 1000 previews.
//
// Usage: bench_handlers   (prints median and p95 in milliseconds, RSS growth in MB)

#include "quiz/form1.h"

#include "common/imagebox.h"
#include "common/mediawindow.h"
#include "common/program.h"
#include "editor/filelistbox.h"
#include "editor/form1.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

namespace {

double rssMb()
{
    QFile f(QStringLiteral("/proc/self/status"));
    f.open(QIODevice::ReadOnly);
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return -1;
}

void report(const char *what, QList<double> ms)
{
    std::sort(ms.begin(), ms.end());
    std::printf("%s: median %.1f ms, p95 %.1f ms (%lld runs)\n", what, ms[ms.size() / 2],
                ms[qsizetype(ms.size() * 0.95)], qlonglong(ms.size()));
}

// Signs 2 and 4 are a clip that starts green, the others one that starts red, so that the
// first frame of the next sign can never be mistaken for a frame of the one before.
bool startsGreen(const QString &name)
{
    return name.contains(QLatin1Char('2')) || name.contains(QLatin1Char('4'));
}

bool showsFirstFrameOf(const MediaWindow *w, const QString &name)
{
    const QImage f = w->currentFrame();
    if (f.isNull() || w->fileName() != name)
        return false;
    const QColor c = f.pixelColor(f.width() / 2, f.height() / 2);
    return startsGreen(name) ? c.green() > 100 && c.red() < 80
                             : c.red() > 180 && c.green() < 80 && c.blue() < 80;
}

// Runs `action`, which opens `name`, and returns the milliseconds until the media window has
// painted its first frame, or -1 if that never came.
template <class F> double untilFirstFrame(MediaWindow *w, const QString &name, F action)
{
    bool painted = false;
    QElapsedTimer clock;
    auto c = QObject::connect(w, &MediaWindow::framePainted, [&] {
        if (!painted && showsFirstFrameOf(w, name))
            painted = true;
    });
    clock.start();
    action();
    double ms = painted ? double(clock.nsecsElapsed()) / 1e6 : -1;
    while (!painted && clock.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    if (ms < 0 && painted)
        ms = double(clock.nsecsElapsed()) / 1e6;
    QObject::disconnect(c);
    return ms;
}

// A learner answers while the sign is still playing; so does the bench.
void watch(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
}

void makeFolder()
{
    for (int pair = 1; pair <= 5; ++pair) {
        const QString sign = QStringLiteral("tecken%1.avi").arg(pair);
        QFile::copy(startsGreen(sign) ? QStringLiteral(FIXTURES_DIR "/editor/green100.mov")
                                      : QStringLiteral(FIXTURES_DIR "/twocolour.avi"),
                    sign);
        QImage img(64, 64, QImage::Format_RGB32);
        img.fill(QColor::fromHsv(pair * 60, 200, 240));
        img.save(QStringLiteral("bild%1.bmp").arg(pair));
    }
    QFile::copy(QStringLiteral(FIXTURES_DIR "/twocolour.mov"), QStringLiteral("slut.mov"));
    QFile ini(QStringLiteral("pirvel.ini"));
    ini.open(QIODevice::WriteOnly);
    for (int pair = 1; pair <= 5; ++pair)
        ini.write(QStringLiteral("\"tecken%1.avi\"\r\n\"bild%1.bmp\"\r\n").arg(pair).toLatin1());
    ini.write("0\r\n");
}

void quizAnswers()
{
    quiz::Form1 form;
    form.Form_Load();
    form.show();
    QList<double> answers;
    for (int n = 0; n < 100; ++n) {
        // The bench keeps the quiz going; only the click-to-frame path is measured.
        if (form.Remaining < 2)
            form.Remaining = 5;
        const qint16 right = form.SlotOf(form.Remaining - 1);
        const QString next = form.SignFiles(form.Remaining - 2);
        watch(300);
        answers << untilFirstFrame(form.MCIWnd1, next, [&] { form.Image1_Click(right); });
    }
    report("quiz: right answer -> next sign's first frame", answers);

    for (int n = 0; n < 100; ++n)
        form.Command3D1_Click();
    const double before = rssMb();
    for (int n = 0; n < 1000; ++n) {
        form.Command3D1_Click();
        QCoreApplication::processEvents();
    }
    std::printf("quiz: 1000 PLAY presses: RSS %.1f -> %.1f MB (%+.1f MB)\n", before, rssMb(),
                rssMb() - before);
}

void editorPreviews()
{
    editor::Form1 form;
    form.Form_Load();
    form.show();
    // slut.mov, tecken1 to tecken5: rows whose clips start green and red in turn.
    const int rows[] = {2, 1, 4, 3};
    QList<double> previews;
    for (int n = 0; n < 100; ++n) {
        form.File1->setCurrentRow(rows[n % 4]);
        watch(300);
        previews << untilFirstFrame(form.MCIWnd1, form.File1->FileName(),
                                    [&] { form.File1_Click(); });
    }
    report("editor: file click -> preview's first frame", previews);

    const double before = rssMb();
    for (int n = 0; n < 1000; ++n) {
        form.File1->setCurrentRow(rows[n % 4]);
        form.File1_Click();
    }
    std::printf("editor: 1000 previews: RSS %.1f -> %.1f MB (%+.1f MB)\n", before, rssMb(),
                rssMb() - before);
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    installDefaultProgram(QStringLiteral("BENCH"));
    MediaWindow::setAudioOutput(QStringLiteral("null"));
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    makeFolder();
    try {
        quizAnswers();
        editorPreviews();
    } catch (const RuntimeError &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
