// Hostile exercise folders against the real programs, run as child processes on the offscreen
// platform: whatever the folder holds, a program must end with the run-time report on stderr
// and a non-zero status within seconds, never by a signal or a hang, must open no network
// connection, must keep its memory bounded, and must leave pirvel.ini exactly as it was.

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

enum Programs { Quiz = 1, Editor = 2, Both = 3 };

QByteArray ini(const QList<QByteArray> &names, const QByteArray &flag = "1")
{
    QByteArray b;
    for (const QByteArray &n : names)
        b += "\"" + n + "\"\r\n";
    return b + flag + "\r\n";
}

QList<QByteArray> goodNames()
{
    QList<QByteArray> n;
    for (int pair = 1; pair <= 5; ++pair)
        n << "tecken" + QByteArray::number(pair) + ".avi"
          << "bild" + QByteArray::number(pair) + ".bmp";
    return n;
}

QList<QByteArray> withName(int index, const QByteArray &name)
{
    QList<QByteArray> n = goodNames();
    n[index] = name;
    return n;
}

// A JPEG or GIF whose header declares a huge picture and whose data then stops.
QByteArray hugeDeclared(const char *format)
{
    QImage small(16, 16, QImage::Format_RGB32);
    small.fill(Qt::red);
    QByteArray bytes;
    if (qstrcmp(format, "gif") == 0) {
        bytes = "GIF89a";
        bytes += char(0x60) + QByteArray(1, char(0xEA)) + char(0x60) + char(0xEA); // 60000 x 60000
        bytes += QByteArray("\x80\x00\x00", 3) + QByteArray(6, '\0');
        bytes += QByteArray("\x2C\x00\x00\x00\x00\x60\xEA\x60\xEA\x00\x08", 11);
        bytes += QByteArray(4000, '\x55');
        return bytes;
    }
    QBuffer buf(&bytes);
    buf.open(QIODevice::WriteOnly);
    small.save(&buf, "JPEG");
    // The frame header (SOF0) holds height then width, big-endian, after its marker.
    const qsizetype sof = bytes.indexOf(QByteArray("\xFF\xC0", 2));
    bytes[sof + 5] = char(0xEA);
    bytes[sof + 6] = char(0x60);
    bytes[sof + 7] = char(0xEA);
    bytes[sof + 8] = char(0x60);
    return bytes.left(bytes.size() * 2 / 3);
}

} // namespace

class TestHostile : public QObject
{
    Q_OBJECT

    QTcpServer m_listener;
    int m_connections = 0;

    QByteArray url(const char *path) const
    {
        return "http://127.0.0.1:" + QByteArray::number(m_listener.serverPort()) + path;
    }

    static void writeFile(const QString &name, const QByteArray &bytes)
    {
        QFile f(name);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }

    static void makeGoodFolder()
    {
        for (int pair = 1; pair <= 5; ++pair) {
            QFile::copy(QStringLiteral(FIXTURES_DIR "/twocolour.avi"),
                        QStringLiteral("tecken%1.avi").arg(pair));
            QImage img(32, 32, QImage::Format_RGB32);
            img.fill(Qt::blue);
            img.save(QStringLiteral("bild%1.bmp").arg(pair));
        }
        QFile::copy(QStringLiteral(FIXTURES_DIR "/twocolour.mov"), QStringLiteral("slut.mov"));
    }

    void addRow(const char *name, int programs, const QByteArray &pairing,
                const QList<QPair<QString, QByteArray>> &files = {}, bool unreadable = false)
    {
        for (int p : {Quiz, Editor}) {
            if (!(programs & p))
                continue;
            QStringList fileNames;
            QList<QByteArray> contents;
            for (const auto &[n, c] : files) {
                fileNames << n;
                contents << c;
            }
            QTest::addRow("%s: %s", p == Quiz ? "pirvel" : "kolmiras", name)
                << (p == Quiz ? QStringLiteral(PIRVEL_EXE) : QStringLiteral(KOLMIRAS_EXE))
                << pairing << fileNames << contents << unreadable;
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
    }

    void endsWithReport_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QByteArray>("pairing"); // null: no pirvel.ini at all
        QTest::addColumn<QStringList>("fileNames");
        QTest::addColumn<QList<QByteArray>>("contents"); // "<dir>": a folder of that name
        QTest::addColumn<bool>("unreadable"); // pirvel.ini may not be read by the program

        const QByteArray good = ini(goodNames());
        QByteArray random(4096, '\0');
        QRandomGenerator rng(7);
        for (char &c : random)
            c = char(rng.bounded(256));
        QByteArray tenLines = good.left(good.lastIndexOf("1\r\n"));

        // The editor starts a new exercise where there is none.
        addRow("missing pirvel.ini", Quiz, QByteArray());
        addRow("empty pirvel.ini", Both, QByteArray(""));
        addRow("ten lines", Both, tenLines);
        addRow("binary pirvel.ini", Both, random);
        addRow("50 MB on one line", Both, QByteArray(50 * 1024 * 1024, 'a'));
        addRow("pirvel.ini is a folder", Both, good, {{"pirvel.ini", "<dir>"}});
        addRow("pirvel.ini may not be read", Both, good, {}, true);
        addRow("flag abc", Both, ini(goodNames(), "abc"));
        addRow("flag empty", Both, ini(goodNames(), ""));
        addRow("flag 40000", Both, ini(goodNames(), "40000"));
        addRow("flag -40000", Both, ini(goodNames(), "-40000"));
        addRow("flag 1.5", Both, ini(goodNames(), "1.5"));
        addRow("stray comma shifts the items", Both,
               "\"tecken1.avi\",extra\r\n" + good.mid(good.indexOf('\n') + 1));
        // The editor only lists the cut name; the quiz finds no such file.
        addRow("quote inside a name", Quiz,
               QByteArray(good).replace("\"tecken1.avi\"", "\"teck\"en1.avi\"") + "trailing");
        addRow("flag missing, ten names and then the end", Both, tenLines + "\"x\"");

        addRow("sign is a http URL", Quiz, ini(withName(0, url("/x.mov"))));
        addRow("sign is av://lavfi", Quiz, ini(withName(0, "av://lavfi:testsrc")));
        addRow("sign is edl://", Quiz, ini(withName(0, "edl://" + url("/y.avi"))));
        addRow("sign is file://", Quiz, ini(withName(0, "file:///etc/hostname")));
        addRow("M3U playlist named .mov", Quiz, ini(withName(0, "lista.mov")),
               {{"lista.mov", "#EXTM3U\n#EXTINF:1,x\n" + url("/z.mov") + "\n"}});
        addRow("M3U without header named .avi", Quiz, ini(withName(0, "lista.avi")),
               {{"lista.avi", url("/w.avi") + "\n"}});
        addRow("mpv EDL text named .mov", Quiz, ini(withName(0, "klipp.mov")),
               {{"klipp.mov", "# mpv EDL v0\n" + url("/e.mov") + ",0,1\n"}});
        addRow("zero-byte video", Quiz, ini(withName(0, "tom.avi")), {{"tom.avi", ""}});
        addRow("video cut after its headers", Quiz, ini(withName(0, "kort.avi")),
               {{"kort.avi", [] {
                     QFile f(QStringLiteral(FIXTURES_DIR "/twocolour.avi"));
                     f.open(QIODevice::ReadOnly);
                     return f.read(600);
                 }()}});
        addRow("random bytes as video", Quiz, ini(withName(0, "brus.avi")), {{"brus.avi", random}});
        addRow("video is a folder", Quiz, ini(withName(0, "mapp.avi")), {{"mapp.avi", "<dir>"}});
        addRow("corrupt JPEG", Quiz, ini(withName(3, "trasig.jpg")),
               {{"trasig.jpg", QByteArray("\xFF\xD8\xFF\xE0", 4) + random}});
        addRow("JPEG declaring 60000 x 60000", Quiz, ini(withName(5, "jatte.jpg")),
               {{"jatte.jpg", hugeDeclared("jpg")}});
        addRow("GIF declaring 60000 x 60000", Quiz, ini(withName(7, "jatte.gif")),
               {{"jatte.gif", hugeDeclared("gif")}});
        addRow("text named .bmp", Quiz, ini(withName(9, "text.bmp")), {{"text.bmp", "hej"}});
        addRow("picture is a folder", Quiz, ini(withName(1, "mapp.gif")), {{"mapp.gif", "<dir>"}});
    }

    void endsWithReport()
    {
        QFETCH(QString, program);
        QFETCH(QByteArray, pairing);
        QFETCH(QStringList, fileNames);
        QFETCH(QList<QByteArray>, contents);
        QFETCH(bool, unreadable);

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString previous = QDir::currentPath();
        QDir::setCurrent(dir.path());
        makeGoodFolder();
        if (!pairing.isNull())
            writeFile(QStringLiteral("pirvel.ini"), pairing);
        for (int i = 0; i < fileNames.size(); ++i) {
            QFile::remove(fileNames[i]);
            if (contents[i] == "<dir>")
                QVERIFY(QDir().mkdir(fileNames[i]));
            else
                writeFile(fileNames[i], contents[i]);
        }
        const QByteArray before = [] {
            QFile f(QStringLiteral("pirvel.ini"));
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<none>");
        }();
        QDir::setCurrent(previous);

        const int connectionsBefore = m_connections;
        QProcess p;
        if (unreadable) {
            // Root reads any file, so as root the program runs as nobody; the folder stays
            // open to it and only pirvel.ini is closed.
            QVERIFY(::chmod(QFile::encodeName(dir.path()).constData(), 0755) == 0);
            QVERIFY(::chmod(QFile::encodeName(dir.filePath("pirvel.ini")).constData(), 0) == 0);
            if (::geteuid() == 0)
                p.setChildProcessModifier([] {
                    if (::setgid(65534) != 0 || ::setuid(65534) != 0)
                        ::_exit(99);
                });
        }
        p.setWorkingDirectory(dir.path());
        auto env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        p.setProcessEnvironment(env);
        p.start(program, {});
        QVERIFY(p.waitForStarted());
        const bool finished = p.waitForFinished(10000);
        if (!finished) {
            p.kill();
            p.waitForFinished();
        }
        // Let a connection attempt that was under way reach the listener.
        QTest::qWait(50);
        const QString err = QString::fromLocal8Bit(p.readAllStandardError());
        QVERIFY2(finished, "the program did not end within 10 s");
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QVERIFY2(p.exitCode() != 0, qPrintable(err));
        QVERIFY2(err.contains(QStringLiteral("Körningsfel")), qPrintable(err));
        QCOMPARE(m_connections, connectionsBefore);

        QFile after(dir.filePath(QStringLiteral("pirvel.ini")));
        QCOMPARE(after.open(QIODevice::ReadOnly) ? after.readAll() : QByteArray("<none>"), before);

        // The largest child so far; a picture that declares billions of pixels must not be
        // decoded at that size.
        rusage usage{};
        getrusage(RUSAGE_CHILDREN, &usage);
        QVERIFY2(usage.ru_maxrss < 400 * 1024, qPrintable(QString::number(usage.ru_maxrss)));
    }
};

QTEST_MAIN(TestHostile)
#include "tst_hostile.moc"
