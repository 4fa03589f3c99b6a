// The media window against real clips. The committed fixtures are one second, red for their
// first twelve frames and blue for the rest, so one pixel's colour says which end is shown. The
// media table's clips are made here by ffmpeg with each muxer's defaults: their first twelve
// frames are red above and blue below, as they should stand; the rest are green.

#include "common/mediawindow.h"
#include "common/runtimeerror.h"
#include "tests/support/testsupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QScreen>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// What a frame shows: 'R', 'B' or 'G' all over, 'F' a table clip's first frame, '?' else.
char kindOf(const QImage &frame)
{
    const auto at = [&frame](double y) {
        const QColor c = frame.pixelColor(frame.width() / 2, int(frame.height() * y));
        for (const auto &[kind, colour] :
             {std::pair{'R', Qt::red}, {'B', Qt::blue}, {'G', Qt::green}})
            if (nearColour(c, colour, 80))
                return kind;
        return '?';
    };
    if (frame.isNull())
        return '?';
    const char above = at(0.25), below = at(0.75);
    return above == 'R' && below == 'B' ? 'F' : above == below ? above : '?';
}

bool showsSoon(const MediaWindow &w, char kind)
{
    return QTest::qWaitFor([&] { return kindOf(w.currentFrame()) == kind; }, 3000);
}

// Records what every frame painted from now on shows.
struct FrameLog
{
    explicit FrameLog(MediaWindow &w)
        : connection(QObject::connect(&w, &MediaWindow::framePainted, &w,
                                      [this, &w] { kinds += kindOf(w.currentFrame()); }))
    {}
    ~FrameLog() { QObject::disconnect(connection); }
    QString kinds;
    QMetaObject::Connection connection;
};

// The run-time error a call raises; number 0 when it raises none.
template <typename Call> RuntimeError raised(Call call)
{
    try {
        call();
    } catch (const RuntimeError &e) {
        return e;
    }
    return RuntimeError(0, QString());
}

// The media table: what teachers' clips are, each made by ffmpeg with its defaults. A clip is
// drawn upright at `drawn` size and stored turned by `turn`, which its rotation tag undoes: the
// tag is put on afterwards, as a phone's is kept when its clip is copied.
struct Clip
{
    const char *name;
    QSize drawn;
    QSize shown;
    const char *encoding; // ffmpeg's output options
    const char *turn = nullptr;
    const char *rotate = nullptr;
    // Small frames share the program stream's 2 KB packs, and only the first frame that starts
    // in a pack gets a time stamp: low-bit-rate recordings of a signer before a plain wall.
    bool unstamped = false;
};

const QSize small(160, 120), portrait(120, 160), pal(720, 576), cd(480, 360);
const Clip clips[] = {
    {"mpeg4.avi", small, small, "-c:v mpeg4"},
    {"mjpeg.avi", small, small, "-c:v mjpeg"},
    {"dv-4x3.avi", pal, {768, 576}, "-c:v dvvideo -aspect 4:3"},
    {"dv-16x9.avi", pal, {1024, 576}, "-c:v dvvideo -aspect 16:9"},
    {"h264-aac.mov", small, small, "-c:v libx264 -c:a aac"},
    {"hevc.mov", small, small, "-c:v libx265"},
    {"rotated-90.mov", portrait, portrait, "-c:v libx264", "transpose=clock", "rotate=90"},
    {"rotated-180.mov", small, small, "-c:v libx264", "hflip,vflip", "rotate=180"},
    {"rotated-270.mov", portrait, portrait, "-c:v libx264", "transpose=cclock", "rotate=270"},
    {"mpeg1.mpg", small, small, "-c:v mpeg1video -f mpeg"},
    {"mpeg2.mpeg", small, small, "-c:v mpeg2video -f mpeg"},
    {"mpeg2-vob.mpeg", small, small, "-c:v mpeg2video -f vob"},
    {"mpeg2-late.mpeg", small, small, "-c:v mpeg2video -f mpeg -output_ts_offset 10"},
    {"packed-mpeg1.mpg", cd, cd, "-c:v mpeg1video -q:v 3 -f mpeg", nullptr, nullptr, true},
    {"packed-mpeg2.mpeg", cd, cd, "-c:v mpeg2video -q:v 3 -f mpeg", nullptr, nullptr, true},
    // A transport stream stamps every frame, and still a seek to its start loses the same.
    {"packed-ts.mpg", cd, cd, "-c:v mpeg2video -q:v 3 -f mpegts"},
    // A DVD's picture shape is in its video stream only.
    {"dvd-4x3.mpeg", pal, {768, 576}, "-target pal-dvd -aspect 4:3"},
    {"dvd-16x9.mpeg", pal, {1024, 576}, "-target pal-dvd -aspect 16:9"},
};

bool ffmpeg(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral("ffmpeg"),
            QStringList{"-hide_banner", "-loglevel", "error", "-y", "-nostdin"} + args);
    return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// How many of the file's video frames carry no time stamp of their own.
int unstampedFrames(const QString &file)
{
    QProcess p;
    p.start(QStringLiteral("ffprobe"), {"-v", "error", "-select_streams", "v", "-show_entries",
                                        "frame=pts_time", "-of", "csv=p=0", file});
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        return -1;
    return int(p.readAllStandardOutput().count("N/A"));
}

// The frames of the clip's first part that one showing painted, counted from its first frame
// (after a redraw of the end frame already on show, which mpv may send before a rewind lands) to
// its end; 0 when it did not start on the first frame or did not reach the end.
int firstPartShown(const FrameLog &log)
{
    QString kinds = log.kinds;
    while (kinds.startsWith(QLatin1Char('G')))
        kinds.remove(0, 1);
    if (!kinds.startsWith(QLatin1Char('F')) || !kinds.endsWith(QLatin1Char('G')))
        return 0;
    return int(kinds.count(QLatin1Char('F')));
}

// Every showing of a clip, checked together at the end so that a failure names them all.
struct Showings
{
    QStringList seen;
    bool whole = true;
    void add(const QString &what, const FrameLog &log)
    {
        const int first = firstPartShown(log);
        seen << QStringLiteral("%1: %2 of 12 (%3)").arg(what).arg(first).arg(log.kinds);
        whole = whole && first >= 8;
    }
};

// Pixels that differ from both lines next to them the same way: the teeth of a comb.
int combTeeth(const QImage &frame)
{
    int teeth = 0;
    for (int y = 1; y + 1 < frame.height(); ++y) {
        for (int x = 0; x < frame.width(); ++x) {
            const int here = qGray(frame.pixel(x, y));
            teeth +=
                qAbs(2 * here - qGray(frame.pixel(x, y - 1)) - qGray(frame.pixel(x, y + 1))) > 300;
        }
    }
    return teeth;
}

// The placement that the quiz and the editor's preview make before every "Play".
void fitTo(MediaWindow &w, float twips)
{
    w.setRewindSetting(0);
    w.setZoom(100);
    w.setZoom(twips / w.Width() * 100);
}

// Plays the clip from the placed window to its end, as "Play" does in both programs.
void playThrough(MediaWindow &w, Showings &showings, const QString &what)
{
    FrameLog log(w);
    QSignalSpy ended(&w, &MediaWindow::playbackEnded);
    w.setCommand(QStringLiteral("Play"));
    QVERIFY(ended.wait(5000));
    showings.add(what, log);
}

} // namespace

class TestMediaWindow : public QObject
{
    Q_OBJECT

    QTemporaryDir m_clips;
    std::unique_ptr<QTemporaryDir> m_dir; // each test's own, the working directory
    QTcpServer m_listener;
    int m_connections = 0;

    QByteArray clipBytes(const char *name, qint64 size = 1 << 24) const
    {
        QFile f(m_clips.filePath(name));
        return f.open(QIODevice::ReadOnly) ? f.read(size) : QByteArray();
    }

private slots:
    void initTestCase()
    {
        MediaWindow::setAudioOutput(QStringLiteral("null"));
        QVERIFY(m_listener.listen(QHostAddress::LocalHost));
        QVERIFY(m_clips.isValid());
        for (const Clip &c : clips) {
            const QString size = QStringLiteral("%1x%2").arg(c.drawn.width()).arg(c.drawn.height());
            QString graph = QStringLiteral("color=c=red:s=%1:r=25:d=0.48,drawbox=y=ih/2:h=ih/2:"
                                           "c=blue:t=fill[a];color=c=lime:s=%1:r=25:d=0.52[b];"
                                           "[a][b]concat=n=2:v=1:a=0,format=yuv420p")
                                .arg(size);
            if (c.turn)
                graph += QLatin1Char(',') + QLatin1String(c.turn);
            QStringList args{"-f", "lavfi", "-i", graph};
            const QStringList encoding = QString::fromLatin1(c.encoding).split(QLatin1Char(' '));
            if (encoding.contains(QStringLiteral("aac")))
                args << QStringList{"-f", "lavfi", "-i", "sine=d=1"};
            const QString out = m_clips.filePath(c.name);
            const QString encoded = c.rotate ? out + QStringLiteral(".mov") : out;
            QVERIFY2(ffmpeg(args + encoding + QStringList{encoded}), c.name);
            if (c.rotate)
                QVERIFY(ffmpeg({"-i", encoded, "-c", "copy", "-metadata:s:v:0", c.rotate, out}));
            if (c.unstamped)
                QVERIFY2(unstampedFrames(out) > 0, "every frame got a time stamp");
        }
        // Far beyond the size limit, yet cheap to make and to decode.
        QVERIFY(ffmpeg({"-f", "lavfi", "-i", "color=s=16x8200:d=0.04", "-frames:v", "1", "-c:v",
                        "png", m_clips.filePath("tall.mov")}));
        QVERIFY(ffmpeg({"-f", "lavfi", "-i", "sine=d=0.5", m_clips.filePath("sound.wav")}));
        QVERIFY(QFile::copy(QStringLiteral(FIXTURES_DIR "/twocolour.avi"),
                            m_clips.filePath("twocolour.avi")));
        connect(&m_listener, &QTcpServer::newConnection, this, [this] {
            ++m_connections;
            delete m_listener.nextPendingConnection();
        });
    }

    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir::setCurrent(m_dir->path()));
        for (const char *name :
             {"twocolour.avi", "twocolour.mov", "twocolour.mp4", "twocolour.mpg", "wide.avi"})
            QVERIFY(QFile::copy(QStringLiteral(FIXTURES_DIR "/") + name, name));
        m_connections = 0;
    }

    void media_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QSize>("shown");
        for (const Clip &c : clips)
            QTest::newRow(c.name) << QString::fromLatin1(c.name) << c.shown;
    }

    // The quiz's whole use of one clip: opened paused on its first frame, upright at its shown
    // size; placed and "Play" from there; after the end "Play wait" and "PLAY" from the first
    // frame again; the rewind setting; opened while another clip plays, with none of that clip's
    // frames painted after the change, and played; and the editor's preview. Every showing has
    // (almost) all of the clip's first part.
    void media()
    {
        QFETCH(QString, file);
        QFETCH(QSize, shown);
        QVERIFY(QDir::setCurrent(m_clips.path()));
        MediaWindow w;
        QCOMPARE(w.naturalSize(), QSize(0, 0));
        w.setFileName(file);
        QCOMPARE(w.naturalSize(), shown);
        QCOMPARE(QSizeF(w.Width(), w.Height()), QSizeF(shown) * 15);
        QVERIFY(!w.isPlaying());
        QCOMPARE(kindOf(w.currentFrame()), 'F');
        QVERIFY(QTest::qWaitFor([&] { return w.currentFrame().size() == shown; }, 3000));
        // Nothing moves on before "Play".
        QTest::qWait(600);
        QCOMPARE(kindOf(w.currentFrame()), 'F');

        QSignalSpy ended(&w, &MediaWindow::playbackEnded);
        QElapsedTimer t;
        Showings showings;
        fitTo(w, 3600);
        {
            FrameLog log(w);
            t.start();
            w.setCommand(QStringLiteral("Play"));
            QVERIFY2(t.elapsed() < 300, qPrintable(QString::number(t.elapsed())));
            QVERIFY(w.isPlaying());
            QVERIFY(ended.wait(5000));
            QVERIFY(!w.isPlaying());
            showings.add("Play after the open", log);
        }
        {
            FrameLog log(w);
            t.start();
            w.setCommand(QStringLiteral("Play wait"));
            const qint64 elapsed = t.elapsed();
            QVERIFY2(elapsed < 3000, qPrintable(QString::number(elapsed)));
            QCOMPARE(ended.size(), 2);
            showings.add(QStringLiteral("Play wait after the end, %1 ms").arg(elapsed), log);
            showings.whole = showings.whole && elapsed >= 800;
        }
        fitTo(w, 3600);
        playThrough(w, showings, "PLAY after the end");
        QCOMPARE(ended.size(), 3);
        // Other settings leave the finished clip alone; 0 puts it back on its first frame, paused.
        w.setRewindSetting(1);
        QTest::qWait(100);
        QCOMPARE(kindOf(w.currentFrame()), 'G');
        w.setRewindSetting(0);
        QVERIFY(!w.isPlaying());
        QVERIFY(showsSoon(w, 'F'));

        w.setFileName(QStringLiteral("twocolour.avi"));
        w.setCommand(QStringLiteral("Play"));
        QTest::qWait(300);
        FrameLog log(w);
        w.setFileName(file);
        QCOMPARE(kindOf(w.currentFrame()), 'F');
        QVERIFY2(!log.kinds.isEmpty() && log.kinds.count(QLatin1Char('F')) == log.kinds.size(),
                 "a frame of the replaced clip was painted");
        QVERIFY(!w.isPlaying());
        QCOMPARE(w.naturalSize(), shown);
        // The replaced clip's end is not reported, and the new one waits on its first frame.
        QTest::qWait(1000);
        QCOMPARE(ended.size(), 3);
        QCOMPARE(kindOf(w.currentFrame()), 'F');
        fitTo(w, 3600);
        playThrough(w, showings, "Play after replacing a playing clip");

        // The editor's first preview, in a window that has shown nothing yet.
        MediaWindow preview;
        preview.setFileName(file);
        fitTo(preview, 2500);
        playThrough(preview, showings, "the editor's preview");
        QVERIFY2(showings.whole, qPrintable(showings.seen.join(QStringLiteral("; "))));
    }

    void fields_data()
    {
        // A white box crossing black at 800 px a second, filmed as fields a fiftieth of a
        // second apart: woven into frames, its upright edges are combed 16 px deep.
        const QString box = QStringLiteral(
            "color=black:s=720x576:r=50:d=0.2[bg];color=white:s=120x300:r=50:d=0.2[box];"
            "[bg][box]overlay=x='40+t*800':y=138,interlace=lowpass=off:scan=");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("encoding");
        QTest::addColumn<bool>("combed");
        QTest::newRow("interlaced MPEG-2 of a TV recording")
            << "tv.mpeg" << box + "tff"
            << "-c:v mpeg2video -flags +ildct+ilme -top 1 -q:v 2 -f mpeg" << false;
        QTest::newRow("DV of a camcorder") << "camera.avi" << box + "bff"
                                           << "-c:v dvvideo -pix_fmt yuv420p" << false;
        // Lines one pixel apart look combed, and a progressive clip keeps them.
        QTest::newRow("progressive lines stay")
            << "lines.mov"
            << "color=white:s=320x240:d=0.2,drawgrid=w=iw:h=2:c=black,format=yuv420p"
            << "-c:v libx264 -qp 0" << true;
    }

    // The first frame as the window shows it, one pixel to a pixel.
    void fields()
    {
        QFETCH(QString, file);
        QFETCH(QString, source);
        QFETCH(QString, encoding);
        QFETCH(bool, combed);
        QVERIFY(ffmpeg(QStringList{"-f", "lavfi", "-i", source} + encoding.split(' ') +
                       QStringList{file}));
        MediaWindow w;
        w.setFileName(file);
        QVERIFY(QTest::qWaitFor([&] { return w.currentFrame().size() == w.naturalSize(); }, 3000));
        const QImage frame = w.currentFrame();
        const int teeth = combTeeth(frame);
        QVERIFY2((teeth > frame.width() * frame.height() / 500) == combed,
                 qPrintable(QStringLiteral("%1 comb teeth").arg(teeth)));
    }

    void zoom_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<float>("percent");
        QTest::addColumn<float>("width");
        QTest::addColumn<float>("height");
        QTest::newRow("160 px fitted to 2500 twips")
            << "twocolour.mov" << float(2500.0 / 2400.0 * 100.0) << 2505.0f << 1875.0f;
        QTest::newRow("240 px halves rounded") << "wide.avi" << 33.3f << 1200.0f << 900.0f;
        QTest::newRow("zoom 0 collapses the window") << "twocolour.mp4" << 0.0f << 0.0f << 0.0f;
    }

    void zoom()
    {
        QFETCH(QString, file);
        QFETCH(float, percent);
        QFETCH(float, width);
        QFETCH(float, height);
        MediaWindow w;
        w.setFileName(file);
        w.setZoom(percent);
        QCOMPARE(w.zoom(), percent);
        QCOMPARE(w.Width(), width);
        QCOMPARE(w.Height(), height);
        // The next file opens at the zoom in force, and zoom 100 returns to the natural size.
        w.setFileName(QStringLiteral("wide.avi"));
        QCOMPARE(w.Width(), float(std::round(240.0 * percent / 100.0) * 15));
        w.setZoom(100);
        QCOMPARE(w.Width(), 3600.0f);
        if (percent > 0) {
            // A frame rendered at the zoomed size arrives without another command.
            w.setFileName(file);
            w.setZoom(percent);
            QVERIFY(QTest::qWaitFor([&] { return w.currentFrame().size() == w.size(); }, 3000));
        }
    }

    void refusedZoom_data()
    {
        QTest::addColumn<float>("percent");
        QTest::newRow("negative") << -50.0f;
        QTest::newRow("not a number") << std::numeric_limits<float>::quiet_NaN();
        QTest::newRow("beyond any screen") << 1.0e7f;
    }

    void refusedZoom()
    {
        QFETCH(float, percent);
        MediaWindow w;
        w.setFileName(QStringLiteral("twocolour.avi"));
        w.setZoom(150);
        const RuntimeError e = raised([&] { w.setZoom(percent); });
        QCOMPARE(e.number(), int(ErrorNumber::InvalidPropertyValue));
        QVERIFY2(e.text().contains(QStringLiteral("twocolour.avi")), qPrintable(e.text()));
        QCOMPARE(w.Width(), 3600.0f);
    }

    void position()
    {
        QWidget parent;
        parent.resize(640, 480);
        auto *w = new MediaWindow(&parent);
        w->setFileName(QStringLiteral("twocolour.avi"));
        w->setTop(3000.0f);
        w->setLeft(4320.0f - 3600.0f / 2);
        QCOMPARE(w->pos(), QPoint(168, 200));
        // Positions between pixels land on the nearest one.
        w->setTop(1237.0f);
        w->setLeft(22.4f);
        QCOMPARE(w->pos(), QPoint(1, 82));
        QCOMPARE(w->Top(), 1230.0f);
        QCOMPARE(w->Left(), 15.0f);
        // Setting one coordinate keeps the other.
        w->setTop(0);
        QCOMPARE(w->Left(), 15.0f);
    }

    // The quiz's closing video: opened over the last sign, which has played to its end, and
    // processed events at zoom 100 before it is fitted and placed. What reaches the screen
    // meanwhile is neither the new clip's frame nor a frame of the old one; after "Play" the new
    // clip is where the placement put it, and nowhere else.
    void framesOnlyWherePlaced()
    {
        QWidget form;
        form.resize(640, 480);
        const QColor yellow(255, 255, 128);
        form.setPalette(QPalette(yellow));
        form.setAutoFillBackground(true);
        auto *w = new MediaWindow(&form);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        const auto screen = [&form] {
            QCoreApplication::processEvents();
            return form.screen()->grabWindow(form.winId()).toImage();
        };
        const auto reds = [](const QImage &image, const QRect &outside = {}) {
            int n = 0;
            for (int y = 0; y < image.height(); y += 2)
                for (int x = 0; x < image.width(); x += 2)
                    n += !outside.contains(x, y) && nearColour(image.pixelColor(x, y), Qt::red);
            return n;
        };
        w->setFileName(QStringLiteral("wide.avi"));
        w->setTop(600);
        w->setLeft(2520);
        w->setCommand(QStringLiteral("Play wait"));
        QCOMPARE(reds(screen()), 0);

        w->setFileName(QStringLiteral("twocolour.mov"));
        w->setRewindSetting(0);
        w->setZoom(100);
        QCOMPARE(reds(screen()), 0);
        w->setZoom(3600.0f / w->Width() * 100);
        w->setTop(2400);
        w->setLeft(480);
        QCOMPARE(reds(screen()), 0);
        w->setCommand(QStringLiteral("Play"));
        const QImage shown = screen();
        QVERIFY(nearColour(shown.pixelColor(w->geometry().center()), Qt::red));
        QCOMPARE(reds(shown, w->geometry()), 0);
        QVERIFY(nearColour(shown.pixelColor(200, 50), yellow));
    }

    void rewindAndReplay()
    {
        MediaWindow w;
        QSignalSpy ended(&w, &MediaWindow::playbackEnded);
        w.setFileName(QStringLiteral("wide.avi"));
        // A rewind in mid-play stops on the first frame, and no end is reported for that playback.
        w.setCommand(QStringLiteral("Play"));
        QTest::qWait(700);
        QVERIFY(w.isPlaying());
        w.setRewindSetting(0);
        QVERIFY(!w.isPlaying());
        QVERIFY(showsSoon(w, 'R'));
        QTest::qWait(500);
        QCOMPARE(kindOf(w.currentFrame()), 'R');
        QCOMPARE(ended.size(), 0);

        // A new command replaces the playback in progress, from the start again.
        w.setCommand(QStringLiteral("Play"));
        QTest::qWait(300);
        FrameLog log(w);
        w.setCommand(QStringLiteral("Play"));
        QVERIFY(ended.wait(5000));
        QCOMPARE(ended.size(), 1);
        QVERIFY2(log.kinds.startsWith(QLatin1Char('R')), qPrintable(log.kinds));
    }

    // Replacing the file ends a "Play wait" at once, and however fast files follow each other,
    // nothing left in the queue from the earlier ones changes the size afterwards.
    void replacedFiles()
    {
        MediaWindow w;
        w.setFileName(QStringLiteral("twocolour.mov"));
        QTimer::singleShot(250, &w, [&w] { w.setFileName(QStringLiteral("wide.avi")); });
        QElapsedTimer t;
        t.start();
        w.setCommand(QStringLiteral("Play wait"));
        QVERIFY2(t.elapsed() < 800, qPrintable(QString::number(t.elapsed())));
        QCOMPARE(w.fileName(), QStringLiteral("wide.avi"));
        QCOMPARE(w.naturalSize(), QSize(240, 180));
        QVERIFY(!w.isPlaying());
        for (const char *file :
             {"wide.avi", "twocolour.mov", "wide.avi", "twocolour.mpg", "twocolour.mp4"}) {
            w.setFileName(QString::fromLatin1(file));
            const QSize natural =
                qstrcmp(file, "wide.avi") == 0 ? QSize(240, 180) : QSize(160, 120);
            QCOMPARE(w.naturalSize(), natural);
            QCOMPARE(w.Width(), float(natural.width() * 15));
        }
        QTest::qWait(300);
        const QSize last = w.naturalSize();
        QCOMPARE(w.size(), last);
        QVERIFY(QTest::qWaitFor([&] { return w.currentFrame().size() == last; }, 3000));
    }

    void commands_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("valid");
        QTest::newRow("Play") << "Play" << true;
        QTest::newRow("upper case, as the media control interface allows") << "PLAY" << true;
        QTest::newRow("Play wait") << "Play wait" << true;
        QTest::newRow("Stop") << "Stop" << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("words run together") << "Playwait" << false;
        QTest::newRow("trailing word") << "Play from 0" << false;
    }

    void commands()
    {
        QFETCH(QString, command);
        QFETCH(bool, valid);
        MediaWindow w;
        const int withoutFile = valid ? ErrorNumber::MediaError : ErrorNumber::InvalidPropertyValue;
        QCOMPARE(raised([&] { w.setCommand(command); }).number(), withoutFile);
        w.setFileName(QStringLiteral("twocolour.mp4"));
        const RuntimeError e = raised([&] { w.setCommand(command); });
        if (valid) {
            QCOMPARE(e.number(), 0);
            QVERIFY(w.isPlaying() != command.contains(QLatin1String("wait"), Qt::CaseInsensitive));
            return;
        }
        QCOMPARE(e.number(), int(ErrorNumber::InvalidPropertyValue));
        QVERIFY2(e.text().contains(QLatin1Char('"') + command + QLatin1Char('"')),
                 qPrintable(e.text()));
        QVERIFY(!w.isPlaying());
    }

    void refusedFiles_data()
    {
        const QByteArray port = QByteArray::number(m_listener.serverPort());
        const QByteArray url = "http://127.0.0.1:" + port + "/x.mov", seg = url + ".ts";
        const QByteArray absolute = QFile::encodeName(FIXTURES_DIR "/twocolour.avi");
        QTest::addColumn<QString>("name");
        // Null: no file is made; "<link>" and a target: a symbolic link; "<locked>": no reading.
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("number");

        const QByteArray none;
        const int notFound = ErrorNumber::FileNotFound, special = ErrorNumber::PathFileAccessError;
        const int media = ErrorNumber::MediaError;
        QTest::newRow("missing") << "gone.avi" << none << notFound;
        QTest::newRow("empty name") << "" << none << notFound;
        QTest::newRow("name cut short by a NUL")
            << QStringLiteral("wide.avi") + QChar(0) + QStringLiteral("x") << none << notFound;
        QTest::newRow("http URL") << QString(url) << none << notFound;
        QTest::newRow("a directory") << "." << none << special;
        // Only regular files are opened, and no open waits for a writer.
        QTest::newRow("a FIFO") << "fifo" << none << special;
        QTest::newRow("a link to /dev/zero")
            << "zero.mov" << QByteArray("<link>/dev/zero") << special;
        QTest::newRow("may not be read")
            << "wide.avi" << QByteArray("<locked>") << int(ErrorNumber::PermissionDenied);
        QTest::newRow("m3u playlist named .avi") << "list.avi" << url + "\n" << media;
        QTest::newRow("HLS playlist named .mpg")
            << "live.mpg"
            << "#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:1\n"
               "#EXT-X-MEDIA-SEQUENCE:0\n#EXTINF:1.0,\n" +
                   seg + "\n#EXT-X-ENDLIST\n"
            << media;
        QTest::newRow("mpv EDL named .mov")
            << "cut.mov"
            << "# mpv EDL v0\n" + absolute + ",0,0.5\n" + url + ",0,0.5\n"
            << media;
        QTest::newRow("ffconcat list naming a clip of the folder, named .mov")
            << "list.mov" << QByteArray("ffconcat version 1.0\nfile twocolour.avi\n") << media;
        QTest::newRow("a frame 8200 px high") << "tall.mov" << clipBytes("tall.mov") << media;
        QTest::newRow("zero bytes") << "empty.avi" << QByteArray("") << media;
        QTest::newRow("cut after its headers")
            << "cut.avi" << clipBytes("twocolour.avi", 600) << media;
        QTest::newRow("sound only") << "sound.avi" << clipBytes("sound.wav") << media;
    }

    void refusedFiles()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(int, number);
        QCOMPARE(::mkfifo("fifo", 0644), 0);
        if (content == "<locked>") {
            if (::geteuid() == 0)
                QSKIP("root reads every file");
            QVERIFY(QFile::setPermissions(name, QFileDevice::WriteOwner));
        } else if (content.startsWith("<link>")) {
            QVERIFY(QFile::link(QString::fromLatin1(content.mid(6)), name));
        } else if (!content.isNull()) {
            QVERIFY(ExerciseFolder::writeFile(name, content));
        }
        MediaWindow w;
        w.setFileName(QStringLiteral("twocolour.mov"));
        const RuntimeError e = raised([&] { w.setFileName(name); });
        QCOMPARE(e.number(), number);
        // A file is named; a missing name, by the line of pirvel.ini that lacks it.
        const QString named = name.isEmpty() ? QStringLiteral("pirvel.ini") : name;
        QVERIFY2(e.text().contains(QLatin1Char('"') + named + QLatin1Char('"')),
                 qPrintable(e.text()));
        QTest::qWait(200);
        QCOMPARE(m_connections, 0);
        // The window is still usable afterwards.
        w.setFileName(QStringLiteral("twocolour.avi"));
        QCOMPARE(w.Width(), 2400.0f);
        QVERIFY(showsSoon(w, 'R'));
    }

    // Frames and events still queued for a window that is gone must not reach it.
    void destroyedWhilePlaying()
    {
        for (int delay : {0, 30, 200}) {
            auto *w = new MediaWindow;
            w->setFileName(QStringLiteral("twocolour.mpg"));
            w->setCommand(QStringLiteral("Play"));
            QTest::qWait(delay);
            delete w;
            QTest::qWait(50);
        }
        MediaWindow w;
        w.setFileName(QStringLiteral("twocolour.avi"));
        QCOMPARE(w.Width(), 2400.0f);
    }
};

QTEST_MAIN(TestMediaWindow)
#include "tst_mediawindow.moc"
