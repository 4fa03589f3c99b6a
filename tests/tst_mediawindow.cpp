// The media window against real clips. The committed fixtures are one second, red for their
// first twelve frames and blue for the rest, so one pixel's colour says which end is shown. The
// media table's clips are made here by ffmpeg with each muxer's defaults: their first twelve
// frames are red above and blue below, as they should stand; the rest are green.

#include "common/mediawindow.h"
#include "common/runtimeerror.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>
#include <sys/resource.h>
#include <unistd.h>

namespace {

enum class Colour { Red, Blue, Green, Other };

// The colour at half the width and at the given fraction of the height.
Colour colourAt(const QImage &frame, double y = 0.5)
{
    if (frame.isNull())
        return Colour::Other;
    const QRgb p = frame.pixel(frame.width() / 2, int(frame.height() * y));
    const auto high = [](int c) { return c > 180; };
    const auto low = [](int c) { return c < 80; };
    if (high(qRed(p)) && low(qGreen(p)) && low(qBlue(p)))
        return Colour::Red;
    if (high(qBlue(p)) && low(qGreen(p)) && low(qRed(p)))
        return Colour::Blue;
    if (high(qGreen(p)) && low(qRed(p)) && low(qBlue(p)))
        return Colour::Green;
    return Colour::Other;
}

// The first frame of a table clip, upright: red above, blue below.
bool isFirstFrame(const QImage &frame)
{
    return colourAt(frame, 0.25) == Colour::Red && colourAt(frame, 0.75) == Colour::Blue;
}

// Records the colour of every frame painted from now on.
struct FrameLog
{
    explicit FrameLog(MediaWindow &w)
    {
        connection = QObject::connect(&w, &MediaWindow::framePainted, &w, [this, &w] {
            colours.append(colourAt(w.currentFrame()));
            firstFrames.append(isFirstFrame(w.currentFrame()));
        });
    }
    ~FrameLog() { QObject::disconnect(connection); }
    QList<Colour> colours;
    QList<bool> firstFrames;
    QMetaObject::Connection connection;
};

// A little WAV file: a real, playable medium with sound only.
QByteArray silentWav()
{
    QByteArray samples(8000, '\0');
    QByteArray wav;
    auto u32 = [&](quint32 v) {
        for (int i = 0; i < 4; ++i)
            wav.append(char((v >> (8 * i)) & 0xff));
    };
    auto u16 = [&](quint16 v) {
        wav.append(char(v & 0xff));
        wav.append(char(v >> 8));
    };
    wav.append("RIFF");
    u32(36 + samples.size());
    wav.append("WAVEfmt ");
    u32(16);
    u16(1);
    u16(1);
    u32(8000);
    u32(8000);
    u16(1);
    u16(8);
    wav.append("data");
    u32(samples.size());
    wav.append(samples);
    return wav;
}

// The media table: what teachers' clips are, each made by ffmpeg with its defaults. A clip is
// drawn upright at `drawn` size and stored turned by `turn`, which its rotation tag undoes: the
// tag is put on afterwards, as a phone's is kept when its clip is copied.
struct Clip
{
    const char *name;
    QSize drawn;
    QSize shown;
    const char *turn;
    QStringList encoding;
    const char *rotate = nullptr;
};

const QList<Clip> &clips()
{
    const QSize small(160, 120), portrait(120, 160), pal(720, 576);
    static const QList<Clip> list{
        {"mpeg4.avi", small, small, "", {"-c:v", "mpeg4"}},
        {"mjpeg.avi", small, small, "", {"-c:v", "mjpeg"}},
        {"dv-4x3.avi", pal, {768, 576}, "", {"-c:v", "dvvideo", "-aspect", "4:3"}},
        {"dv-16x9.avi", pal, {1024, 576}, "", {"-c:v", "dvvideo", "-aspect", "16:9"}},
        {"h264-aac.mov", small, small, "", {"-c:v", "libx264", "-c:a", "aac"}},
        {"hevc.mov", small, small, "", {"-c:v", "libx265"}},
        {"rotated-90.mov", portrait, portrait, "transpose=clock", {"-c:v", "libx264"}, "rotate=90"},
        {"rotated-180.mov", small, small, "hflip,vflip", {"-c:v", "libx264"}, "rotate=180"},
        {"rotated-270.mov",
         portrait,
         portrait,
         "transpose=cclock",
         {"-c:v", "libx264"},
         "rotate=270"},
        {"mpeg1.mpg", small, small, "", {"-c:v", "mpeg1video", "-f", "mpeg"}},
        {"mpeg2.mpeg", small, small, "", {"-c:v", "mpeg2video", "-f", "mpeg"}},
        {"mpeg2-vob.mpeg", small, small, "", {"-c:v", "mpeg2video", "-f", "vob"}},
        {"mpeg2-late.mpeg",
         small,
         small,
         "",
         {"-c:v", "mpeg2video", "-f", "mpeg", "-output_ts_offset", "10"}},
    };
    return list;
}

bool ffmpeg(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral("ffmpeg"),
            QStringList{"-hide_banner", "-loglevel", "error", "-y", "-nostdin"} + args);
    return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

} // namespace

class TestMediaWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void sizeAfterOpen_data();
    void sizeAfterOpen();
    void zoom_data();
    void zoom();
    void refusedZoom_data();
    void refusedZoom();
    void position();

    void media_data();
    void media();
    void replaceWhilePlaying();
    void replaceDuringPlayWait();
    void staleEventsOfReplacedFile_data();
    void staleEventsOfReplacedFile();
    void commands_data();
    void commands();

    void refusedFiles_data();
    void refusedFiles();
    void unreadableFile();
    void destroyedWhilePlaying();

private:
    void copyFixture(const QString &name);
    void waitForColour(MediaWindow &w, Colour colour);

    QTemporaryDir m_clips;
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_oldDir;
    QTcpServer m_listener;
    int m_connections = 0;
};

void TestMediaWindow::initTestCase()
{
    MediaWindow::setAudioOutput(QStringLiteral("null"));
    QVERIFY(m_listener.listen(QHostAddress::LocalHost));
    QVERIFY(m_clips.isValid());
    for (const Clip &c : clips()) {
        const QString size = QStringLiteral("%1x%2").arg(c.drawn.width()).arg(c.drawn.height());
        QString graph = QStringLiteral("color=c=red:s=%1:r=25:d=0.48,drawbox=y=ih/2:h=ih/2:"
                                       "c=blue:t=fill[a];color=c=lime:s=%1:r=25:d=0.52[b];"
                                       "[a][b]concat=n=2:v=1:a=0,format=yuv420p")
                            .arg(size);
        if (*c.turn)
            graph += QLatin1Char(',') + QLatin1String(c.turn);
        QStringList args{"-f", "lavfi", "-i", graph};
        if (c.encoding.contains(QStringLiteral("aac")))
            args << QStringList{"-f", "lavfi", "-i", "sine=d=1"};
        const QString out = m_clips.filePath(c.name);
        const QString encoded = c.rotate ? out + QStringLiteral(".mov") : out;
        QVERIFY2(ffmpeg(args + c.encoding + QStringList{encoded}), c.name);
        if (c.rotate)
            QVERIFY(ffmpeg({"-i", encoded, "-c", "copy", "-metadata:s:v:0", c.rotate, out}));
    }
    // Far beyond the size limit, yet cheap to make and to decode.
    QVERIFY(ffmpeg({"-f", "lavfi", "-i", "color=s=16x8200:d=0.04", "-frames:v", "1", "-c:v", "png",
                    m_clips.filePath("tall.mov")}));
    QVERIFY(QFile::copy(QStringLiteral(FIXTURES_DIR "/twocolour.avi"),
                        m_clips.filePath("twocolour.avi")));
    connect(&m_listener, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *s = m_listener.nextPendingConnection()) {
            ++m_connections;
            s->close();
            s->deleteLater();
        }
    });
}

void TestMediaWindow::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_oldDir = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_dir->path()));
    for (const char *name : {"twocolour.avi", "twocolour.mov", "twocolour.mp4", "wide.avi"})
        copyFixture(QString::fromLatin1(name));
    for (const char *name : {"mpeg1.mpg", "mpeg2.mpeg"})
        QVERIFY(QFile::copy(m_clips.filePath(name), name));
    m_connections = 0;
}

void TestMediaWindow::cleanup()
{
    QDir::setCurrent(m_oldDir);
    m_dir.reset();
}

void TestMediaWindow::copyFixture(const QString &name)
{
    QVERIFY(QFile::copy(QStringLiteral(FIXTURES_DIR "/") + name, name));
}

void TestMediaWindow::waitForColour(MediaWindow &w, Colour colour)
{
    QVERIFY2(QTest::qWaitFor([&] { return colourAt(w.currentFrame()) == colour; }, 3000),
             colour == Colour::Red ? "no red frame" : "no blue frame");
}

void TestMediaWindow::sizeAfterOpen_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QSize>("natural");
    for (const char *name : {"twocolour.avi", "twocolour.mov", "twocolour.mp4"})
        QTest::newRow(name) << QString::fromLatin1(name) << QSize(160, 120);
    QTest::newRow("wide.avi") << QStringLiteral("wide.avi") << QSize(240, 180);
}

void TestMediaWindow::sizeAfterOpen()
{
    QFETCH(QString, file);
    QFETCH(QSize, natural);
    MediaWindow w;
    QCOMPARE(w.naturalSize(), QSize(0, 0));
    w.setFileName(file);
    QCOMPARE(w.naturalSize(), natural);
    QCOMPARE(w.Width(), float(natural.width() * 15));
    QCOMPARE(w.Height(), float(natural.height() * 15));
    QCOMPARE(w.fileName(), file);
    QVERIFY(!w.isPlaying());
    // Paused on its first frame: the red stays, nothing moves on to blue.
    waitForColour(w, Colour::Red);
    QTest::qWait(600);
    QCOMPARE(colourAt(w.currentFrame()), Colour::Red);
    QCOMPARE(w.currentFrame().size(), natural);
}

void TestMediaWindow::zoom_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<float>("percent");
    QTest::addColumn<float>("width");
    QTest::addColumn<float>("height");
    QTest::newRow("160 px at 100") << "twocolour.avi" << 100.0f << 2400.0f << 1800.0f;
    QTest::newRow("160 px fitted to 3600 twips") << "twocolour.avi" << 150.0f << 3600.0f << 2700.0f;
    QTest::newRow("160 px fitted to 2500 twips")
        << "twocolour.mov" << float(2500.0 / 2400.0 * 100.0) << 2505.0f << 1875.0f;
    QTest::newRow("160 px at 50") << "mpeg1.mpg" << 50.0f << 1200.0f << 900.0f;
    QTest::newRow("240 px at 100 is already 3600 twips")
        << "wide.avi" << 100.0f << 3600.0f << 2700.0f;
    QTest::newRow("240 px halves rounded") << "wide.avi" << 33.3f << 1200.0f << 900.0f;
    QTest::newRow("zoom 0 collapses the window") << "twocolour.mp4" << 0.0f << 0.0f << 0.0f;
}

void TestMediaWindow::zoom()
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

void TestMediaWindow::refusedZoom_data()
{
    QTest::addColumn<float>("percent");
    QTest::newRow("negative") << -50.0f;
    QTest::newRow("not a number") << std::numeric_limits<float>::quiet_NaN();
    QTest::newRow("infinite") << std::numeric_limits<float>::infinity();
    QTest::newRow("beyond any screen") << 1.0e7f;
}

void TestMediaWindow::refusedZoom()
{
    QFETCH(float, percent);
    MediaWindow w;
    w.setFileName(QStringLiteral("twocolour.avi"));
    w.setZoom(150);
    try {
        w.setZoom(percent);
        QFAIL("the zoom was taken");
    } catch (const RuntimeError &e) {
        QCOMPARE(e.number(), int(ErrorNumber::InvalidPropertyValue));
        QVERIFY2(e.text().contains(QStringLiteral("twocolour.avi")), qPrintable(e.text()));
    }
    QCOMPARE(w.Width(), 3600.0f);
}

void TestMediaWindow::position()
{
    QWidget parent;
    parent.resize(640, 480);
    auto *w = new MediaWindow(&parent);
    w->setFileName(QStringLiteral("twocolour.avi"));
    w->setTop(3000.0f);
    w->setLeft(4320.0f - 3600.0f / 2);
    QCOMPARE(w->Top(), 3000.0f);
    QCOMPARE(w->Left(), 2520.0f);
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

void TestMediaWindow::media_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QSize>("shown");
    for (const Clip &c : clips())
        QTest::newRow(c.name) << QString::fromLatin1(c.name) << c.shown;
}

// A played clip's frames: from its first frame (after a redraw of the end frame already on
// show, which mpv may send before a rewind lands), through most of its first part, to its end.
static void checkPlayedThrough(FrameLog &log)
{
    while (!log.colours.isEmpty() && log.colours.first() == Colour::Green) {
        log.colours.removeFirst();
        log.firstFrames.removeFirst();
    }
    QVERIFY(!log.colours.isEmpty());
    QVERIFY(log.firstFrames.first());
    QVERIFY2(log.firstFrames.count(true) >= 8,
             qPrintable(QString::number(log.firstFrames.count(true))));
    QCOMPARE(log.colours.last(), Colour::Green);
}

// The quiz's whole use of one clip: opened paused on its first frame, upright at its shown size;
// "Play" from there; after the end "Play wait" from the first frame again; the rewind setting;
// and opened while another clip plays, with none of that clip's frames painted after the change.
void TestMediaWindow::media()
{
    QFETCH(QString, file);
    QFETCH(QSize, shown);
    QVERIFY(QDir::setCurrent(m_clips.path()));
    MediaWindow w;
    w.setFileName(file);
    QCOMPARE(w.naturalSize(), shown);
    QCOMPARE(w.Height(), float(shown.height() * 15));
    QVERIFY(!w.isPlaying());
    QVERIFY(isFirstFrame(w.currentFrame()));
    QVERIFY(QTest::qWaitFor([&] { return w.currentFrame().size() == shown; }, 3000));

    QSignalSpy ended(&w, &MediaWindow::playbackEnded);
    {
        FrameLog log(w);
        QElapsedTimer t;
        t.start();
        w.setCommand(QStringLiteral("Play"));
        QVERIFY2(t.elapsed() < 300, qPrintable(QString::number(t.elapsed())));
        QVERIFY(w.isPlaying());
        QVERIFY(ended.wait(5000));
        QVERIFY(!w.isPlaying());
        checkPlayedThrough(log);
    }
    {
        FrameLog log(w);
        QElapsedTimer t;
        t.start();
        w.setCommand(QStringLiteral("Play wait"));
        const qint64 elapsed = t.elapsed();
        QVERIFY2(elapsed >= 800 && elapsed < 3000, qPrintable(QString::number(elapsed)));
        QCOMPARE(ended.size(), 2);
        checkPlayedThrough(log);
    }
    // Other settings leave the finished clip alone; 0 puts it back on its first frame, paused.
    w.setRewindSetting(1);
    QTest::qWait(100);
    QCOMPARE(colourAt(w.currentFrame()), Colour::Green);
    w.setRewindSetting(0);
    QVERIFY(!w.isPlaying());
    QVERIFY(QTest::qWaitFor([&] { return isFirstFrame(w.currentFrame()); }, 3000));

    w.setFileName(QStringLiteral("twocolour.avi"));
    w.setCommand(QStringLiteral("Play"));
    QTest::qWait(300);
    FrameLog log(w);
    w.setFileName(file);
    QVERIFY(isFirstFrame(w.currentFrame()));
    QVERIFY(!log.firstFrames.isEmpty());
    QVERIFY2(!log.firstFrames.contains(false), "a frame of the replaced clip was painted");
    QCOMPARE(ended.size(), 2);
}

void TestMediaWindow::replaceWhilePlaying()
{
    MediaWindow w;
    QSignalSpy ended(&w, &MediaWindow::playbackEnded);
    w.setFileName(QStringLiteral("twocolour.avi"));
    w.setCommand(QStringLiteral("Play"));
    QTest::qWait(200);
    w.setFileName(QStringLiteral("wide.avi"));
    QVERIFY(!w.isPlaying());
    QCOMPARE(w.naturalSize(), QSize(240, 180));
    QCOMPARE(w.Width(), 3600.0f);
    // The replaced clip's end is not reported, and the new one waits on its first frame.
    QTest::qWait(1000);
    QCOMPARE(ended.size(), 0);
    QCOMPARE(colourAt(w.currentFrame()), Colour::Red);
    QCOMPARE(w.currentFrame().size(), QSize(240, 180));

    // A rewind in mid-play stops on the first frame, and no end is reported for that playback.
    w.setCommand(QStringLiteral("Play"));
    QTest::qWait(700);
    QVERIFY(w.isPlaying());
    w.setRewindSetting(0);
    QVERIFY(!w.isPlaying());
    waitForColour(w, Colour::Red);
    QTest::qWait(500);
    QCOMPARE(colourAt(w.currentFrame()), Colour::Red);
    QCOMPARE(ended.size(), 0);

    // A new command replaces the playback in progress, from the start again.
    w.setCommand(QStringLiteral("Play"));
    QTest::qWait(300);
    FrameLog log(w);
    w.setCommand(QStringLiteral("Play"));
    QVERIFY(ended.wait(5000));
    QCOMPARE(ended.size(), 1);
    QCOMPARE(log.colours.first(), Colour::Red);
}

void TestMediaWindow::replaceDuringPlayWait()
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
}

void TestMediaWindow::staleEventsOfReplacedFile_data()
{
    QTest::addColumn<QStringList>("files");
    QTest::newRow("small then wide") << QStringList{"twocolour.avi", "wide.avi"};
    QTest::newRow("wide then small") << QStringList{"wide.avi", "mpeg1.mpg"};
    QTest::newRow("same file twice") << QStringList{"wide.avi", "wide.avi"};
    QTest::newRow("alternating quickly")
        << QStringList{"twocolour.mov", "wide.avi", "mpeg2.mpeg", "wide.avi", "twocolour.mp4"};
}

void TestMediaWindow::staleEventsOfReplacedFile()
{
    QFETCH(QStringList, files);
    MediaWindow w;
    for (const QString &file : files) {
        w.setFileName(file);
        const QSize natural =
            file.startsWith(QLatin1String("wide")) ? QSize(240, 180) : QSize(160, 120);
        QCOMPARE(w.naturalSize(), natural);
        QCOMPARE(w.Width(), float(natural.width() * 15));
    }
    // Nothing left in the queue from the earlier files changes the size afterwards.
    QTest::qWait(300);
    const QSize last = w.naturalSize();
    QCOMPARE(w.size(), last);
    QVERIFY(QTest::qWaitFor([&] { return w.currentFrame().size() == last; }, 3000));
}

void TestMediaWindow::commands_data()
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

void TestMediaWindow::commands()
{
    QFETCH(QString, command);
    QFETCH(bool, valid);
    MediaWindow w;
    try {
        w.setCommand(command);
        QFAIL("a command was taken with no file open");
    } catch (const RuntimeError &e) {
        QCOMPARE(e.number(),
                 int(valid ? ErrorNumber::MediaError : ErrorNumber::InvalidPropertyValue));
    }
    w.setFileName(QStringLiteral("twocolour.mp4"));
    if (valid) {
        w.setCommand(command);
        QVERIFY(w.isPlaying() != command.contains(QLatin1String("wait"), Qt::CaseInsensitive));
        return;
    }
    try {
        w.setCommand(command);
        QFAIL("the command was taken");
    } catch (const RuntimeError &e) {
        QCOMPARE(e.number(), int(ErrorNumber::InvalidPropertyValue));
        QVERIFY2(e.text().contains(QLatin1Char('"') + command + QLatin1Char('"')),
                 qPrintable(e.text()));
    }
    QVERIFY(!w.isPlaying());
}

void TestMediaWindow::refusedFiles_data()
{
    const QString port = QString::number(m_listener.serverPort());
    const QString url = QStringLiteral("http://127.0.0.1:%1/x.mov").arg(port);
    const QString absolute = QDir(QStringLiteral(FIXTURES_DIR)).absoluteFilePath("twocolour.avi");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content"); // empty: no file is made
    QTest::addColumn<int>("number");

    const QByteArray none;
    QTest::newRow("missing") << "gone.avi" << none << int(ErrorNumber::FileNotFound);
    QTest::newRow("empty name") << "" << none << int(ErrorNumber::FileNotFound);
    QTest::newRow("name cut short by a NUL")
        << QStringLiteral("wide.avi") + QChar(0) + QStringLiteral("x") << none
        << int(ErrorNumber::FileNotFound);
    QTest::newRow("http URL") << url << none << int(ErrorNumber::FileNotFound);
    QTest::newRow("lavfi device") << "av://lavfi:testsrc" << none << int(ErrorNumber::FileNotFound);
    QTest::newRow("edl URL") << QStringLiteral("edl://%1,0,1").arg(absolute) << none
                             << int(ErrorNumber::FileNotFound);
    QTest::newRow("a directory") << "." << none << int(ErrorNumber::PathFileAccessError);
    QTest::newRow("m3u playlist named .avi")
        << "list.avi" << (url + "\n").toUtf8() << int(ErrorNumber::MediaError);
    QTest::newRow("extended m3u naming a local clip, named .avi")
        << "local.avi" << QStringLiteral("#EXTM3U\n#EXTINF:1,x\n%1\n").arg(absolute).toUtf8()
        << int(ErrorNumber::MediaError);
    QTest::newRow("HLS playlist named .mpg")
        << "live.mpg"
        << QStringLiteral("#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:1\n"
                          "#EXT-X-MEDIA-SEQUENCE:0\n#EXTINF:1.0,\n%1\n#EXT-X-ENDLIST\n")
               .arg(QStringLiteral("http://127.0.0.1:%1/seg.ts").arg(port))
               .toUtf8()
        << int(ErrorNumber::MediaError);
    QTest::newRow("mpv EDL named .mov")
        << "cut.mov"
        << QStringLiteral("# mpv EDL v0\n%1,0,0.5\n%2,0,0.5\n").arg(absolute, url).toUtf8()
        << int(ErrorNumber::MediaError);
    QTest::newRow("ffconcat list naming a clip of the folder, named .mov")
        << "list.mov" << QByteArray("ffconcat version 1.0\nfile twocolour.avi\n")
        << int(ErrorNumber::MediaError);
    QFile tall(m_clips.filePath("tall.mov"));
    QTest::newRow("a frame 8200 px high")
        << "tall.mov" << (tall.open(QIODevice::ReadOnly) ? tall.readAll() : QByteArray())
        << int(ErrorNumber::MediaError);
    QTest::newRow("zero bytes") << "empty.avi" << QByteArray("") << int(ErrorNumber::MediaError);
    QByteArray noise(20000, '\0');
    QRandomGenerator rng(4711);
    for (char &c : noise)
        c = char(rng.bounded(256));
    QTest::newRow("random bytes") << "noise.avi" << noise << int(ErrorNumber::MediaError);
    QTest::newRow("sound only") << "sound.avi" << silentWav() << int(ErrorNumber::MediaError);
}

void TestMediaWindow::refusedFiles()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(int, number);
    if (!content.isNull()) {
        QFile f(name);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
    }
    MediaWindow w;
    w.setFileName(QStringLiteral("wide.avi"));
    try {
        w.setFileName(name);
        QFAIL("the file was taken");
    } catch (const RuntimeError &e) {
        QCOMPARE(e.number(), number);
        QVERIFY2(e.text().contains(QLatin1Char('"') + name + QLatin1Char('"')),
                 qPrintable(e.text()));
    }
    QTest::qWait(200);
    QCOMPARE(m_connections, 0);
    // The window is still usable afterwards.
    w.setFileName(QStringLiteral("twocolour.avi"));
    QCOMPARE(w.Width(), 2400.0f);
    waitForColour(w, Colour::Red);
}

void TestMediaWindow::unreadableFile()
{
    if (geteuid() == 0)
        QSKIP("root reads every file");
    QVERIFY(QFile::setPermissions(QStringLiteral("wide.avi"), QFileDevice::WriteOwner));
    MediaWindow w;
    try {
        w.setFileName(QStringLiteral("wide.avi"));
        QFAIL("the file was taken");
    } catch (const RuntimeError &e) {
        QCOMPARE(e.number(), int(ErrorNumber::PermissionDenied));
        QVERIFY2(e.text().contains(QStringLiteral("\"wide.avi\"")), qPrintable(e.text()));
    }
}

// Frames and events still queued for a window that is gone must not reach it.
void TestMediaWindow::destroyedWhilePlaying()
{
    for (int delay : {0, 30, 200}) {
        auto *w = new MediaWindow;
        w->setFileName(QStringLiteral("mpeg1.mpg"));
        w->setCommand(QStringLiteral("Play"));
        QTest::qWait(delay);
        delete w;
        QTest::qWait(50);
    }
    MediaWindow w;
    w.setFileName(QStringLiteral("twocolour.avi"));
    QCOMPARE(w.Width(), 2400.0f);
}

QTEST_MAIN(TestMediaWindow)
#include "tst_mediawindow.moc"
