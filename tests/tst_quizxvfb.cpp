// The real quiz program on a real X server under one window manager (PIRVEL_WINDOW_MANAGER;
// ctest runs it once for each, and in a Wayland session with and without Xwayland), played by
// xdotool the way a learner plays it: the window must stand in front of its backdrop, active and
// with a task-bar button, also after a click on the black and after the window manager was asked
// to minimise it; the right picture of each sign is found from the colours on the screen, one wrong
// click first, then the five right ones, and the program must end by itself after the closing
// video, or at "Sluta" during it.

#include "tests/support/testsupport.h"
#include "tests/support/xserver.h"

#include "common/imagebox.h"
#include "common/mediawindow.h"
#include "quiz/form1.h"

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTest>
#include <QToolButton>

class TestQuizOnX : public QObject
{
    Q_OBJECT

    ExerciseFolder m_folder{ExerciseFolder::Quiz, 0};
    QProcess m_other;

    static int xdotool(const QStringList &args)
    {
        return QProcess::execute(QStringLiteral("xdotool"), args);
    }
    // On the screen the user sees, which in a Wayland session is the compositor's; there the
    // compositor draws the pointer into the picture too.
    static void pointAt(QPoint p, bool click = true)
    {
        QProcess x;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), QString::fromLocal8Bit(screenDisplay()));
        x.setProcessEnvironment(env);
        QStringList args = {"mousemove", QString::number(p.x()), QString::number(p.y())};
        x.start(QStringLiteral("xdotool"), click ? args << "click"
                                                        << "1"
                                                 : args);
        x.waitForFinished();
    }
    static void clickAt(QPoint p) { pointAt(p); }
    static bool withX() { return !qEnvironmentVariableIsEmpty("DISPLAY"); }

private slots:
    void initTestCase()
    {
        MediaWindow::setAudioOutput(QStringLiteral("null"));
        // Another program's window is open when the quiz starts, as on a teacher's desktop:
        // the backdrop must hide it.
        if (!withX())
            return;
        m_other.start(QStringLiteral("xmessage"),
                      {"-geometry", "1000x740+10+10", "-bg", "white", "ett annat program"});
        QVERIFY(m_other.waitForStarted());
        QCOMPARE(xdotool({"search", "--sync", "--onlyvisible", "--class", "xmessage"}), 0);
    }

    void playsAWholeQuiz_data()
    {
        QTest::addColumn<QString>("leave"); // how the closing video is left, if it is
        const QByteArray wm = qgetenv("PIRVEL_WINDOW_MANAGER");
        QTest::newRow("ends by itself after the closing video") << QString();
        // A second whole quiz each, so under one window manager only.
        if (wm == "mutter" || wm == "wayland-no-x11")
            QTest::newRow("Sluta during a closing video of two hours") << "Sluta";
        if (wm == "metacity")
            QTest::newRow("Alt+F4 during a closing video of two hours") << "alt+F4";
    }
    void playsAWholeQuiz()
    {
        QFETCH(QString, leave);
        const bool leaveDuringClosingVideo = !leave.isEmpty();
        const QString slut = m_folder.dir.filePath("slut.mov");
        QFile::remove(slut);
        if (leaveDuringClosingVideo)
            QCOMPARE(QProcess::execute("ffmpeg", {"-v", "error", "-f", "lavfi", "-i",
                                                  "color=s=64x48:r=1/3600:d=7200", slut}),
                     0);
        else
            QVERIFY(QFile::copy(QStringLiteral(FIXTURES_DIR "/twocolour.mov"), slut));

        QProcess quiz;
        quiz.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        startProgram(quiz, QStringLiteral(PIRVEL_EXE), m_folder.dir.path(), true);
        QVERIFY(quiz.state() == QProcess::Running);

        QStringList faults;
        QRect window; // its client area on the screen
        QTRY_VERIFY2_WITH_TIMEOUT(
            (faults = checkMainInFront(quiz.processId(), "Vilket pirvel?", true, &window))
                .isEmpty(),
            qPrintable(faults.join("; ")), 25000);
        // Which pair's picture stands where on the screen, as the window lays out its boxes.
        const quiz::Form1 layout;
        auto onScreen = [&](const QWidget *w) { return window.topLeft() + w->geometry().center(); };
        pointAt({0, 0}, false);
        QTest::qWait(300);
        const QImage shot = grabScreen();
        QPoint boxOfPair[6];
        for (const ImageBox *box : layout.Image1)
            boxOfPair[pairShownIn(shot.copy(QRect(onScreen(box), QSize(1, 1))))] = onScreen(box);
        for (int pair = 1; pair <= 5; ++pair)
            QVERIFY2(!boxOfPair[pair].isNull(), "every pair's picture is on the screen");

        clickAt(boxOfPair[2]);
        QTest::qWait(300);
        QCOMPARE(quiz.state(), QProcess::Running);
        // A click on the black leaves the exercise in front and active.
        clickAt({window.left() / 2, window.center().y()});
        QTRY_VERIFY2_WITH_TIMEOUT(
            (faults = checkMainInFront(quiz.processId(), "Vilket pirvel?", true)).isEmpty(),
            qPrintable(faults.join("; ")), 5000);
        // So does a minimise, which some window managers offer on any window.
        if (withX()) {
            QCOMPARE(xdotool({"search", "--all", "--onlyvisible", "--pid",
                              QString::number(quiz.processId()), "--name", "^Vilket pirvel",
                              "windowminimize"}),
                     0);
            QTest::qWait(500);
            QTRY_VERIFY2_WITH_TIMEOUT(
                (faults = checkMainInFront(quiz.processId(), "Vilket pirvel?", true)).isEmpty(),
                qPrintable(faults.join("; ")), 5000);
        }

        for (int pair = 1; pair <= 5; ++pair) {
            clickAt(boxOfPair[pair]);
            QTest::qWait(400);
        }
        if (leaveDuringClosingVideo) {
            QTest::qWait(1000);
            QCOMPARE(quiz.state(), QProcess::Running);
            if (leave == QLatin1String("Sluta"))
                clickAt(onScreen(layout.Command3D2));
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

QTEST_MAIN(TestQuizOnX)
#include "tst_quizxvfb.moc"
