// Hostile exercise folders against the real programs, run as child processes on the offscreen
// platform: whatever the folder holds, a program must end with the run-time report on stderr
// and a non-zero status within seconds, never by a signal or a hang, must open no network
// connection, must keep its memory bounded, and must leave pirvel.ini exactly as it was. The
// crafted videos are made here: ffmpeg's small clips, their tables then patched.

#include "tests/support/testsupport.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <QtEndian>

#include <grp.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <zlib.h>

namespace {

enum Programs { Quiz = 1, Editor = 2, Both = 3 };
using FileList = QList<QPair<QString, QByteArray>>;

// The exercise's pirvel.ini with item `index` (0 to 9: sign and picture by turns) replaced.
QByteArray ini(int index, const QByteArray &name)
{
    QStringList signs = ExerciseFolder::signs(), pictures = ExerciseFolder::pictures();
    (index % 2 ? pictures : signs)[index / 2] = QString::fromLatin1(name);
    return ExerciseFolder::iniBytes(signs, pictures, "1");
}

// A GIF and a JPEG whose headers declare 60000 x 60000 pixels and whose data then stops.
QByteArray hugeGif()
{
    // Screen and image descriptors 60000 (0xEA60, little-endian) each way; two colours.
    return QByteArray("GIF89a\x60\xEA\x60\xEA\x80\x00\x00", 13) + QByteArray(6, '\0') +
           QByteArray("\x2C\x00\x00\x00\x00\x60\xEA\x60\xEA\x00\x08", 11) +
           QByteArray(4000, '\x55');
}

QByteArray hugeJpeg()
{
    QImage small(16, 16, QImage::Format_RGB32);
    small.fill(Qt::red);
    QByteArray bytes;
    QBuffer buf(&bytes);
    buf.open(QIODevice::WriteOnly);
    small.save(&buf, "JPEG");
    // The frame header (SOF0) holds height then width, big-endian, after its marker.
    bytes.replace(bytes.indexOf("\xFF\xC0") + 5, 4, QByteArray("\xEA\x60\xEA\x60", 4));
    return bytes.left(bytes.size() * 2 / 3);
}

bool ffmpeg(const QStringList &args)
{
    return QProcess::execute(QStringLiteral("ffmpeg"),
                             QStringList{"-v", "error", "-y", "-nostdin"} + args) == 0;
}

// The boxes of a QuickTime file down to its sample tables; `patch` gets each other box's type
// and the offset of its body.
template <typename Patch> void walkTables(QByteArray &mov, qsizetype at, qsizetype end, Patch patch)
{
    while (at + 8 <= end) {
        const qsizetype size = qFromBigEndian<quint32>(mov.constData() + at);
        const QByteArray type = mov.mid(at + 4, 4);
        if (size < 8 || at + size > end)
            return;
        if (QByteArrayList{"moov", "trak", "mdia", "minf", "stbl"}.contains(type))
            walkTables(mov, at + 8, at + size, patch);
        else
            patch(type, at + 8);
        at += size;
    }
}

void putBigEndian(QByteArray &bytes, qsizetype at, std::initializer_list<quint32> values)
{
    for (quint32 v : values) {
        qToBigEndian(v, bytes.data() + at);
        at += 4;
    }
}

// The clip with tables that claim `samples` samples of 100 bytes, in one chunk and one run.
QByteArray claimingSamples(QByteArray mov, quint32 samples)
{
    walkTables(mov, 0, mov.size(), [&](const QByteArray &type, qsizetype body) {
        if (type == "stsz")
            putBigEndian(mov, body + 4, {100, samples});
        else if (type == "stts")
            putBigEndian(mov, body + 4, {1, samples, 512});
        else if (type == "stsc")
            putBigEndian(mov, body + 4, {1, 1, samples, 1});
    });
    return mov;
}

QByteArray box(const char *type, const QByteArray &body)
{
    QByteArray b(4, '\0');
    putBigEndian(b, 0, {quint32(8 + body.size())});
    return b + type + body;
}

// The clip with its header (moov, last in ffmpeg's files) packed as old QuickTime files pack
// it, and padded with zeros to `inflated` bytes once unpacked.
QByteArray compressedHeader(const QByteArray &mov, quint32 inflated)
{
    const qsizetype at = mov.indexOf("moov") - 4;
    const QByteArray header = mov.mid(at);
    QByteArray padding(4, '\0');
    putBigEndian(padding, 0, {quint32(inflated - header.size())});
    padding += "free";
    z_stream z{};
    deflateInit(&z, Z_BEST_SPEED);
    QByteArray packed, out(1 << 20, '\0');
    const QByteArray zeros(1 << 20, '\0');
    for (qint64 left = inflated; left > 0;) {
        const QByteArray in =
            left == inflated ? header + padding : zeros.left(qMin<qint64>(left, zeros.size()));
        left -= in.size();
        z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(in.constData()));
        z.avail_in = uInt(in.size());
        do {
            z.next_out = reinterpret_cast<Bytef *>(out.data());
            z.avail_out = uInt(out.size());
            deflate(&z, left > 0 ? Z_NO_FLUSH : Z_FINISH);
            packed += out.left(out.size() - z.avail_out);
        } while (z.avail_out == 0);
    }
    deflateEnd(&z);
    QByteArray size(4, '\0');
    putBigEndian(size, 0, {inflated});
    return mov.left(at) +
           box("moov", box("cmov", box("dcom", "zlib") + box("cmvd", size + packed)));
}

// The peak resident memory of a running process in kB, as the kernel keeps it.
qint64 peakKb(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return 0;
}

// What either program may take on any input; AddressSanitizer's bookkeeping comes on top of it
// in a sanitizer build.
#if defined(__SANITIZE_ADDRESS__)
constexpr qint64 CeilingKb = 3 * 300 * 1024;
#else
constexpr qint64 CeilingKb = 300 * 1024;
#endif

} // namespace

class TestHostile : public QObject
{
    Q_OBJECT

    QTcpServer m_listener;
    int m_connections = 0;
    QTemporaryDir m_forNobody;
    QTemporaryDir m_media;
    QByteArray m_clip, m_switching, m_huge; // made by ffmpeg

    // Read only when it is a regular file: opening a FIFO would wait for a writer.
    static QByteArray iniBytes()
    {
        QFile f(QStringLiteral("pirvel.ini"));
        if (!QFileInfo(f).isFile())
            return QFileInfo(f).exists() ? "<special>" : "<none>";
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<none>");
    }

    void addRow(const char *name, int programs, const QByteArray &pairing,
                const FileList &files = {}, bool unreadable = false, const QString &mentions = {})
    {
        for (int p : {Quiz, Editor}) {
            if (programs & p)
                QTest::addRow("%s: %s", p == Quiz ? "pirvel" : "kolmiras", name)
                    << (p == Quiz ? QStringLiteral(PIRVEL_EXE) : QStringLiteral(KOLMIRAS_EXE))
                    << pairing << files << unreadable << mentions;
        }
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_listener.listen(QHostAddress::LocalHost));
        connect(&m_listener, &QTcpServer::newConnection, this, [this] {
            ++m_connections;
            delete m_listener.nextPendingConnection();
        });
        QVERIFY(m_forNobody.isValid());
        QVERIFY(::chmod(QFile::encodeName(m_forNobody.path()).constData(), 0755) == 0);
        for (const char *exe : {PIRVEL_EXE, KOLMIRAS_EXE}) {
            const QString name = QFileInfo(QString::fromLocal8Bit(exe)).fileName();
            QVERIFY(QFile::copy(QString::fromLocal8Bit(exe), m_forNobody.filePath(name)));
        }
        // A small clip; a stream of two joined that changes from 64 x 64 to 4096 x 4096 pixels
        // after a second; and a 200 KB H.264 file of 8192 x 8192 pixels (within each side's
        // limit) with 16 reference frames.
        const auto made = [this](const char *name) {
            QFile f(m_media.filePath(name));
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        };
        const QStringList h264{"-c:v", "libx264", "-preset", "ultrafast", "-threads", "1"};
        QVERIFY(ffmpeg(QStringList{"-f", "lavfi", "-i", "testsrc=s=64x64:r=25:d=0.4"} + h264 +
                       QStringList{m_media.filePath("clip.mov")}));
        QVERIFY(ffmpeg(QStringList{"-f", "lavfi", "-i", "testsrc=s=64x64:r=25:d=1"} + h264 +
                       QStringList{m_media.filePath("a.ts")}));
        QVERIFY(ffmpeg(QStringList{"-f", "lavfi", "-i", "color=s=4096x4096:r=25,format=yuv420p",
                                   "-frames:v", "2", "-output_ts_offset", "1.5"} +
                       h264 + QStringList{m_media.filePath("b.ts")}));
        QVERIFY(ffmpeg(QStringList{"-f", "lavfi", "-i", "color=s=8192x8192:r=25,format=yuv420p",
                                   "-frames:v", "2", "-x264-params", "ref=16"} +
                       h264 + QStringList{m_media.filePath("huge.mp4")}));
        m_clip = made("clip.mov");
        m_switching = made("a.ts") + made("b.ts");
        m_huge = made("huge.mp4");
        QVERIFY(!m_clip.isEmpty() && m_switching.size() > 20000 && !m_huge.isEmpty());
    }

    void endsWithReport_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QByteArray>("pairing");
        // Names and contents; "<dir>", "<fifo>": a folder or FIFO of that name; "<link>target":
        // a symbolic link to target.
        QTest::addColumn<FileList>("files");
        QTest::addColumn<bool>("unreadable");  // pirvel.ini may not be read by the program
        QTest::addColumn<QString>("mentions"); // what the report line must show whole

        const QByteArray good = ExerciseFolder::iniBytes();
        QByteArray random(4096, '\0');
        QRandomGenerator rng(7);
        for (char &c : random)
            c = char(rng.bounded(256));
        QByteArray utf16("\xFF\xFE");
        for (char c : good)
            utf16 += QByteArray(1, c) + '\0';

        // Each rule is checked where it is made (tst_pairingfile, tst_mediawindow, the fuzzer);
        // here one row a rule and program shows that its error reaches the report, and the
        // rows that only a whole program can show: memory, network, who may read what.
        addRow("pirvel.ini may not be read", Both, good, {}, true);
        addRow("UTF-16 pirvel.ini", Both, utf16, {}, false, "heltal");
        addRow("M3U playlist named .mov", Quiz, ini(0, "lista.mov"),
               {{"lista.mov", "#EXTM3U\n#EXTINF:1,x\nhttp://127.0.0.1:" +
                                  QByteArray::number(m_listener.serverPort()) + "/z.mov\n"}});
        addRow("corrupt JPEG", Quiz, ini(3, "trasig.jpg"),
               {{"trasig.jpg", QByteArray("\xFF\xD8\xFF\xE0", 4) + random}});
        addRow("JPEG declaring 60000 x 60000", Quiz, ini(5, "jatte.jpg"),
               {{"jatte.jpg", hugeJpeg()}});
        addRow("GIF declaring 60000 x 60000", Quiz, ini(7, "jatte.gif"),
               {{"jatte.gif", hugeGif()}});
        // A decoder holds every coefficient of a progressive picture whatever size it shows it
        // at: the claim is weighed against the file, then against the memory it would take.
        addRow("progressive JPEG of 2 KB declaring 20000 x 20000", Quiz, ini(9, "jatte2.jpg"),
               {{"jatte2.jpg", progressiveJpegClaiming(20000)}}, false,
               "är för stor eller felaktig: den säger sig vara 20000 × 20000");
        addRow("the same padded to the bytes such a picture needs", Quiz, ini(9, "jatte3.jpg"),
               {{"jatte3.jpg", progressiveJpegClaiming(20000, 1200 * 1024)}}, false,
               "är för stor eller felaktig: att läsa den skulle kräva");
        // Names reach no file outside the folder, even one that exists. (The editor shows such
        // a name as a row that cannot be previewed and can be taken out: tst_editor.)
        addRow("name sub/x.jpg", Quiz, ini(3, "sub/x.jpg"),
               {{"sub", "<dir>"}, {"sub/x.jpg", "<link>../bild1.bmp"}}, false, "sub/x.jpg");
        // Only regular files are opened, and no open waits.
        addRow("FIFO as pirvel.ini", Both, good, {{"pirvel.ini", "<fifo>"}}, false, "pirvel.ini");
        addRow("symbolic link to a FIFO as picture", Quiz, ini(3, "lank.gif"),
               {{"ror", "<fifo>"}, {"lank.gif", "<link>ror"}}, false, "lank.gif");
        // The report quotes the whole text, NULs and all.
        addRow("NUL in a picture name", Quiz, ini(1, QByteArray("bild\0x.bmp", 10)), {}, false,
               QStringLiteral("bild\u2400x.bmp"));
        // 0x9D starts a terminal's command once it reaches one as U+009D.
        addRow("C1 controls in a picture name", Quiz, ini(1, "bild\x9d\x8d\x90.bmp"), {}, false,
               QStringLiteral("bild\u241b]\u241bM\u241bP.bmp"));
        // What a video costs is checked before it is spent, and again at every change of size.
        addRow("6 KB .mov whose tables claim 50 million samples", Quiz, ini(0, "tabell.mov"),
               {{"tabell.mov", claimingSamples(m_clip, 50'000'000)}}, false,
               "kan inte spelas upp: filen är felaktig");
        addRow("packed header inflating to 1.5 GB", Quiz, ini(0, "packad.mov"),
               {{"packad.mov", compressedHeader(m_clip, 1'500'000'000)}}, false,
               "kan inte spelas upp: filen är för stor");
        addRow("stream changing from 64 x 64 to 4096 x 4096", Quiz, ini(0, "byter.ts"),
               {{"byter.ts", m_switching}}, false, "kan inte spelas upp: videon är 4096 × 4096");
        addRow("8192 x 8192 H.264 with 16 reference frames", Quiz, ini(0, "stor.mp4"),
               {{"stor.mp4", m_huge}}, false, "kan inte spelas upp: videon är 8192 × 8192");
    }

    void endsWithReport()
    {
        QFETCH(QString, program);
        QFETCH(QByteArray, pairing);
        QFETCH(FileList, files);
        QFETCH(bool, unreadable);
        QFETCH(QString, mentions);

        const ExerciseFolder folder(ExerciseFolder::Quiz);
        QVERIFY(ExerciseFolder::writeFile(QStringLiteral("pirvel.ini"), pairing));
        for (const auto &[name, content] : files) {
            QFile::remove(name);
            const QByteArray path = QFile::encodeName(name);
            if (content == "<dir>")
                QVERIFY(QDir().mkdir(name));
            else if (content == "<fifo>")
                QVERIFY(::mkfifo(path.constData(), 0644) == 0);
            else if (content.startsWith("<link>"))
                QVERIFY(::symlink(content.mid(6).constData(), path.constData()) == 0);
            else
                QVERIFY(ExerciseFolder::writeFile(name, content));
        }
        const QByteArray before = iniBytes();

        const int connectionsBefore = m_connections;
        QProcess p;
        if (unreadable) {
            // Root reads any file, so as root the program runs as nobody; the folder stays
            // open to it and only pirvel.ini is closed.
            QVERIFY(::chmod(".", 0755) == 0);
            QVERIFY(::chmod("pirvel.ini", 0) == 0);
            if (::geteuid() == 0) {
                // The build may lie where nobody cannot go (a private temporary folder,
                // /root); a copy of the program lies where it can.
                program = m_forNobody.filePath(QFileInfo(program).fileName());
                p.setChildProcessModifier([] {
                    if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 ||
                        ::setuid(65534) != 0)
                        ::_exit(99);
                });
            }
        }
        startProgram(p, program, folder.dir.path());
        // Its peak memory is read while it runs: its own, not that of any other child.
        qint64 peak = 0;
        QElapsedTimer clock;
        clock.start();
        while (p.state() != QProcess::NotRunning && clock.elapsed() < 10000) {
            peak = qMax(peak, peakKb(p.processId()));
            p.waitForFinished(10);
        }
        const bool ended = p.state() == QProcess::NotRunning;
        ProgramEnd end = finishProgram(p, 1);
        end.finished = ended;
        // Let a connection attempt that was under way reach the listener.
        QTest::qWait(50);
        QVERIFY2(end.finished, "the program did not end within 10 s");
        QVERIFY2(end.exitCode > 0, qPrintable(end.err)); // a status of its own, not a signal
        QVERIFY2(end.err.contains(QStringLiteral("Körningsfel")), qPrintable(end.err));
        QCOMPARE(m_connections, connectionsBefore);

        QVERIFY2(end.err.contains(mentions), qPrintable(end.err));
        // No control character reaches the terminal as it is.
        for (QChar c : end.err)
            QVERIFY2(c == QLatin1Char('\n') ||
                         (c >= QChar(0x20) && (c < QChar(0x7f) || c > QChar(0x9f))),
                     qPrintable(end.err));
        QCOMPARE(iniBytes(), before);
        // A picture that declares billions of pixels is not decoded at that size either.
        QVERIFY2(peak < CeilingKb, qPrintable(QStringLiteral("%1 kB").arg(peak)));
    }

    // The first sign is checked, then swapped for a link to a FIFO the moment the check lets go
    // of it: the player must never open the FIFO (and wait on it), but play what was checked.
    void swapAfterCheck_data()
    {
        QTest::addColumn<QByteArray>("target");
        QTest::newRow("FIFO") << QByteArray("ror");
        QTest::newRow("/dev/zero") << QByteArray("/dev/zero");
    }

    void swapAfterCheck()
    {
        QFETCH(QByteArray, target);
        const ExerciseFolder folder(ExerciseFolder::Quiz);
        QVERIFY(::mkfifo("ror", 0644) == 0);
        QVERIFY(::symlink(target.constData(), "lank") == 0);
        const QByteArray sign =
            QFile::encodeName(QDir::current().absoluteFilePath(ExerciseFolder::sign(1)));
        const int watch = ::inotify_init1(IN_CLOEXEC);
        QVERIFY(::inotify_add_watch(watch, sign.constData(), IN_CLOSE_NOWRITE) >= 0);
        std::thread swapper([watch] {
            char event[4096];
            pollfd ready{watch, POLLIN, 0};
            if (::poll(&ready, 1, 4000) > 0 && ::read(watch, event, sizeof event) > 0)
                ::rename("lank", qPrintable(ExerciseFolder::sign(1)));
        });
        QProcess p;
        startProgram(p, QStringLiteral(PIRVEL_EXE), folder.dir.path());
        QStringList opened;
        QElapsedTimer clock;
        clock.start();
        while (p.state() != QProcess::NotRunning && clock.elapsed() < 4000) {
            const QDir fds(QStringLiteral("/proc/%1/fd").arg(p.processId()));
            for (const QFileInfo &fd : fds.entryInfoList(QDir::System))
                if ((fd.symLinkTarget().endsWith(QLatin1String("/ror")) ||
                     fd.symLinkTarget() == QLatin1String("/dev/zero")) &&
                    !opened.contains(fd.symLinkTarget()))
                    opened << fd.symLinkTarget();
            p.waitForFinished(5);
        }
        const bool running = p.state() != QProcess::NotRunning;
        const ProgramEnd end = finishProgram(p, 1);
        swapper.join();
        ::close(watch);
        QVERIFY2(opened.isEmpty(), qPrintable(opened.join(' ')));
        // Playing the clip it checked: still running, with nothing to report.
        QVERIFY2(running, qPrintable(end.err));
    }

    // The desktop's launcher, given a folder named "-" (relative, as a file manager may pass
    // it), starts the quiz in that folder and not in the one it came from.
    void launcherTakesEveryPathAsPath()
    {
        const ExerciseFolder folder(ExerciseFolder::Quiz);
        QVERIFY(QDir().mkpath(QStringLiteral("-")) && QDir().mkpath("libexec/pirvel") &&
                QDir().mkpath("bin"));
        for (const QString &name : folder.files())
            QVERIFY(QFile::copy(name, QStringLiteral("-/") + name));
        QVERIFY(QFile::copy(QStringLiteral(SOURCE_DIR "/desktop/pirvel-open"),
                            "libexec/pirvel/pirvel-open"));
        QVERIFY(QFile::link(QStringLiteral(PIRVEL_EXE), "bin/pirvel"));
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("OLDPWD"), QDir::tempPath());
        p.setProcessEnvironment(env);
        p.start(QStringLiteral("sh"), {"libexec/pirvel/pirvel-open", "pirvel", "-"});
        QString cwd;
        for (int i = 0; i < 200 && cwd.isEmpty() && p.state() != QProcess::NotRunning; ++i) {
            p.waitForFinished(20);
            if (QFileInfo(QStringLiteral("/proc/%1/exe").arg(p.processId())).symLinkTarget() ==
                QFileInfo(QStringLiteral(PIRVEL_EXE)).canonicalFilePath())
                cwd = QFileInfo(QStringLiteral("/proc/%1/cwd").arg(p.processId())).symLinkTarget();
        }
        p.kill();
        p.waitForFinished();
        QCOMPARE(cwd, folder.dir.path() + QStringLiteral("/-"));
    }
};

QTEST_MAIN(TestHostile)
#include "tst_hostile.moc"
