// Hostile exercise folders against the real programs, run as child processes on the offscreen
// platform: whatever the folder holds, a program must end with the run-time report on stderr
// and a non-zero status within seconds, never by a signal or a hang, must open no network
// connection, must keep its memory bounded, and must leave pirvel.ini exactly as it was.

#include "tests/support/testsupport.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

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

} // namespace

class TestHostile : public QObject
{
    Q_OBJECT

    QTcpServer m_listener;
    int m_connections = 0;
    QTemporaryDir m_forNobody;

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
               "\"jatte2.jpg\" är för stor eller felaktig");
        addRow("the same padded to the bytes such a picture needs", Quiz, ini(9, "jatte3.jpg"),
               {{"jatte3.jpg", progressiveJpegClaiming(20000, 1200 * 1024)}}, false,
               "\"jatte3.jpg\" är för stor");
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
        const ProgramEnd end = finishProgram(p, 10000);
        // Let a connection attempt that was under way reach the listener.
        QTest::qWait(50);
        QVERIFY2(end.finished, "the program did not end within 10 s");
        QVERIFY2(end.exitCode > 0, qPrintable(end.err)); // a status of its own, not a signal
        QVERIFY2(end.err.contains(QStringLiteral("Körningsfel")), qPrintable(end.err));
        QCOMPARE(m_connections, connectionsBefore);

        QVERIFY2(end.err.contains(mentions), qPrintable(end.err));
        QCOMPARE(iniBytes(), before);

        // The largest child so far; a picture that declares billions of pixels must not be
        // decoded at that size.
        rusage usage{};
        getrusage(RUSAGE_CHILDREN, &usage);
        QVERIFY2(usage.ru_maxrss < 300 * 1024, qPrintable(QString::number(usage.ru_maxrss)));
    }
};

QTEST_MAIN(TestHostile)
#include "tst_hostile.moc"
