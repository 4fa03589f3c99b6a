// The real quiz program on a real X server under one window manager (PIRVEL_WINDOW_MANAGER;
// ctest runs it once for each), played by xdotool the way a learner plays it: the window must
// stand in front of its backdrop, active and with a task-bar button; the right picture of each
// sign is found from the colours on the screen, one wrong click first, then the five right
// ones, and the program must end by itself after the closing video, or at "Sluta" during it.

#include "xserver.h"

#include <QApplication>
#include <QColor>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

class TestQuizOnX : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QProcess m_other;

    static QColor colour(int pair)
    {
        static const QColor c[5] = {QColor(255, 0, 0), QColor(0, 200, 0), QColor(0, 0, 255),
                                    QColor(255, 255, 0), QColor(255, 0, 255)};
        return c[pair - 1];
    }
    static int pairOf(QColor c)
    {
        for (int pair = 1; pair <= 5; ++pair) {
            const QColor w = colour(pair);
            if (qAbs(c.red() - w.red()) < 40 && qAbs(c.green() - w.green()) < 40 &&
                qAbs(c.blue() - w.blue()) < 40)
                return pair;
        }
        return 0;
    }
    static QString xdotool(const QStringList &args)
    {
        QProcess p;
        p.start(QStringLiteral("xdotool"), args);
        p.waitForFinished(10000);
        return QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
    }
    static QStringList xwininfo(const QString &window)
    {
        QProcess p;
        p.start(QStringLiteral("xwininfo"), {"-id", window});
        p.waitForFinished(10000);
        return QString::fromLocal8Bit(p.readAllStandardOutput()).split('\n');
    }
    static void clickAt(QPoint p)
    {
        xdotool({"mousemove", QString::number(p.x()), QString::number(p.y()), "click", "1"});
    }

private slots:
    void initTestCase()
    {
        // Another program's window is open when the quiz starts, as on a teacher's desktop:
        // the backdrop must hide it.
        m_other.start(QStringLiteral("xmessage"),
                      {"-geometry", "1000x740+10+10", "-bg", "white", "ett annat program"});
        QVERIFY(m_other.waitForStarted());
        QVERIFY(!xdotool({"search", "--sync", "--onlyvisible", "--class", "xmessage"}).isEmpty());
        QVERIFY(m_dir.isValid());
        const QDir d(m_dir.path());
        for (int pair = 1; pair <= 5; ++pair) {
            QVERIFY(QFile::copy(QStringLiteral(FIXTURES_DIR "/twocolour.avi"),
                                d.filePath(QStringLiteral("tecken%1.avi").arg(pair))));
            QImage img(48, 48, QImage::Format_RGB32);
            img.fill(colour(pair));
            QVERIFY(img.save(d.filePath(QStringLiteral("bild%1.bmp").arg(pair))));
        }
        QFile ini(d.filePath(QStringLiteral("pirvel.ini")));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        for (int pair = 1; pair <= 5; ++pair)
            ini.write(
                QStringLiteral("\"tecken%1.avi\"\r\n\"bild%1.bmp\"\r\n").arg(pair).toLatin1());
        ini.write("0\r\n");
    }

    void playsAWholeQuiz_data()
    {
        QTest::addColumn<QString>("leave"); // how the closing video is left, if it is
        const QByteArray wm = qgetenv("PIRVEL_WINDOW_MANAGER");
        QTest::newRow("ends by itself after the closing video") << QString();
        // A second whole quiz each, so under one window manager only.
        if (wm == "mutter")
            QTest::newRow("Sluta during a closing video of two hours") << "Sluta";
        if (wm == "metacity")
            QTest::newRow("Alt+F4 during a closing video of two hours") << "alt+F4";
    }
    void playsAWholeQuiz()
    {
        QFETCH(QString, leave);
        const bool leaveDuringClosingVideo = !leave.isEmpty();
        const QString slut = QDir(m_dir.path()).filePath("slut.mov");
        QFile::remove(slut);
        if (leaveDuringClosingVideo)
            QCOMPARE(QProcess::execute("ffmpeg", {"-v", "error", "-f", "lavfi", "-i",
                                                  "color=s=64x48:r=1/3600:d=7200", slut}),
                     0);
        else
            QVERIFY(QFile::copy(QStringLiteral(FIXTURES_DIR "/twocolour.mov"), slut));

        QProcess quiz;
        quiz.setWorkingDirectory(m_dir.path());
        auto env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        quiz.setProcessEnvironment(env);
        quiz.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        quiz.start(QStringLiteral(PIRVEL_EXE), {});
        QVERIFY(quiz.waitForStarted());

        QString window;
        QTRY_VERIFY_WITH_TIMEOUT(
            !(window = xdotool({"search", "--onlyvisible", "--name", "Vilket pirvel"})).isEmpty(),
            15000);
        window = window.section('\n', 0, 0);
        QStringList faults;
        QTRY_VERIFY2_WITH_TIMEOUT(
            (faults = checkMainInFront(quiz.processId(), "Vilket pirvel?", true)).isEmpty(),
            qPrintable(faults.join("; ")), 10000);
        // Client-area origin of the window on the screen (xdotool tells the frame's under some
        // window managers).
        const QStringList geo = xwininfo(window);
        QPoint origin;
        for (const QString &l : geo) {
            if (l.contains("Absolute upper-left X:"))
                origin.setX(l.section(':', 1).trimmed().toInt());
            if (l.contains("Absolute upper-left Y:"))
                origin.setY(l.section(':', 1).trimmed().toInt());
        }
        // Middles of the five picture boxes in the window, in pixels.
        const QPoint boxes[5] = {{84, 156}, {108, 332}, {288, 372}, {468, 332}, {492, 156}};

        QScreen *screen = QGuiApplication::primaryScreen();
        QTest::qWait(300);
        const QImage first = screen->grabWindow(0).toImage();
        if (!qEnvironmentVariableIsEmpty("PIRVEL_SCREENSHOT"))
            first.save(qEnvironmentVariable("PIRVEL_SCREENSHOT"));
        int boxOfPair[6] = {};
        for (int i = 0; i < 5; ++i)
            boxOfPair[pairOf(first.pixelColor(origin + boxes[i]))] = i;
        for (int pair = 1; pair <= 5; ++pair)
            QVERIFY2(pairOf(first.pixelColor(origin + boxes[boxOfPair[pair]])) == pair,
                     "every pair's picture is on the screen");

        clickAt(origin + boxes[boxOfPair[2]]);
        QTest::qWait(300);
        QCOMPARE(quiz.state(), QProcess::Running);

        for (int pair = 1; pair <= 5; ++pair) {
            clickAt(origin + boxes[boxOfPair[pair]]);
            QTest::qWait(400);
        }
        if (leaveDuringClosingVideo) {
            QTest::qWait(1000);
            QCOMPARE(quiz.state(), QProcess::Running);
            if (leave == QLatin1String("Sluta"))
                clickAt(origin + QPoint(608, 30));
            else
                xdotool({"key", leave}); // the window manager's close
            QVERIFY(quiz.waitForFinished(10000));
        } else {
            QVERIFY(quiz.waitForFinished(20000));
        }
        QCOMPARE(quiz.exitStatus(), QProcess::NormalExit);
        QCOMPARE(quiz.exitCode(), 0);
    }
};

int main(int argc, char *argv[])
{
    XServer x;
    if (!x.start(qEnvironmentVariable("PIRVEL_WINDOW_MANAGER"))) {
        std::fprintf(stderr, "%s\n", qPrintable(x.error()));
        return 1;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    TestQuizOnX test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_quizxvfb.moc"
