// The quiz window as the learner sees it, read back from grab(): where every control stands,
// how far the red gauge fills for each value, that the scale digits stand level with the fill
// lines, and that a picture fills its whole box whatever its proportions.

#include "quizfixture.h"

#include "gauge.h"
#include "imagebox.h"
#include "mediawindow.h"
#include "scalelabel.h"

#include <QFrame>
#include <QToolButton>

using quiz::Form1;

class TestQuizLook : public QObject
{
    Q_OBJECT

    static bool isRed(QColor c) { return c.red() > 200 && c.green() < 60 && c.blue() < 60; }
    static bool isInk(QColor c) { return c.lightness() < 100; }

private slots:
    void initTestCase() { MediaWindow::setAudioOutput(QStringLiteral("null")); }

    void windowAndControlsStandWhereTheyBelong()
    {
        Form1 form;
        QCOMPARE(form.windowTitle(), QStringLiteral("Vilket pirvel?"));
        QCOMPARE(form.size(), QSize(634, 455));
        QCOMPARE(form.minimumSize(), form.maximumSize());
        QVERIFY(!(form.windowFlags() & Qt::WindowMinimizeButtonHint));
        QVERIFY(!(form.windowFlags() & Qt::WindowMaximizeButtonHint));
        QCOMPARE(form.palette().color(QPalette::Window), QColor(255, 255, 128));

        QCOMPARE(form.Command3D1->geometry(), QRect(208, 232, 162, 59));
        QCOMPARE(form.Command3D2->geometry(), QRect(580, 0, 56, 60));
        QCOMPARE(form.Panel3D1->geometry(), QRect(580, 59, 56, 391));
        QCOMPARE(form.Gauge1->geometry(), QRect(4, 5, 47, 380));
        QCOMPARE(form.Label1->geometry(), QRect(568, 55, 10, 397));
        const QRect boxes[5] = {{16, 88, 137, 137},
                                {40, 264, 137, 137},
                                {220, 304, 137, 137},
                                {400, 264, 137, 137},
                                {424, 88, 137, 137}};
        for (int i = 0; i < 5; ++i)
            QCOMPARE(form.Image1[std::size_t(i)]->geometry(), boxes[i]);

        // "Sluta" and the panel reach past the right edge and are cut off there; the gauge is
        // wholly inside.
        QVERIFY(form.Command3D2->geometry().right() > form.rect().right());
        QVERIFY(form.Panel3D1->geometry().right() > form.rect().right());
        QVERIFY(form.rect().contains(form.Gauge1->geometry().translated(form.Panel3D1->pos())));

        QCOMPARE(form.Command3D1->text(), QStringLiteral("PLAY"));
        QCOMPARE(form.Command3D2->text(), QStringLiteral("Sluta"));
        QCOMPARE(form.Command3D2->iconSize(), QSize(31, 30));
        QCOMPARE(form.Label1->text().size(), 46);
    }

    void focusStartsOnPlayAndTabGoesToSluta()
    {
        QuizFolder folder(1);
        Form1 form;
        guarded([&] { form.Form_Load(); });
        form.show();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        form.Command3D1->setFocus();
        QCOMPARE(QApplication::focusWidget(), form.Command3D1);
        QTest::keyClick(&form, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), form.Command3D2);
        QTest::keyClick(&form, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), form.Command3D1);
        for (ImageBox *box : form.Image1)
            QCOMPARE(box->focusPolicy(), Qt::NoFocus);
        // Enter on "PLAY" is no default button: nothing ends, nothing is reported.
        QTest::keyClick(&form, Qt::Key_Escape);
        QTest::keyClick(form.Command3D1, Qt::Key_Return);
        QVERIFY(folder.ends.isEmpty());
    }

    void gaugeFillsItsValueInFifthsFromTheBottom()
    {
        Form1 form;
        const int x = form.Panel3D1->x() + form.Gauge1->x() + form.Gauge1->width() / 2;
        const int top = form.Panel3D1->y() + form.Gauge1->y();
        const int bottom = top + form.Gauge1->height() - 1;
        for (qint16 v = 0; v <= 5; ++v) {
            form.Gauge1->setValue(v);
            const QImage shot = form.grab().toImage();
            // The fill line for value v lies at 6665 - 1140 v twips.
            const int line = qRound((6665.0 - 1140.0 * v) / 15.0);
            for (int y = top; y <= bottom; ++y) {
                const bool red = isRed(shot.pixelColor(x, y));
                QVERIFY2(red == (y >= line),
                         qPrintable(QStringLiteral("value %1, y %2").arg(v).arg(y)));
            }
        }
        QVERIFY_THROWS_EXCEPTION(RuntimeError, form.Gauge1->setValue(6));
        QVERIFY_THROWS_EXCEPTION(RuntimeError, form.Gauge1->setValue(-1));
    }

    void scaleDigitsStandLevelWithFillLines()
    {
        Form1 form;
        const QImage shot = form.grab().toImage();
        const QRect label = form.Label1->geometry();
        // Ink rows of the label, grouped into runs: one run per digit, 5 at the top.
        QList<QPair<int, int>> runs;
        for (int y = label.top(); y <= label.bottom(); ++y) {
            bool ink = false;
            for (int x = label.left(); x <= label.right(); ++x)
                ink = ink || isInk(shot.pixelColor(x, y));
            if (ink && (runs.isEmpty() || runs.last().second < y - 1))
                runs.append({y, y});
            else if (ink)
                runs.last().second = y;
        }
        QCOMPARE(runs.size(), 6);
        for (int n = 5; n >= 0; --n) {
            const auto [first, last] = runs[5 - n];
            const double middle = (first + last) / 2.0;
            const double fillLine = (6665.0 - 1140.0 * n) / 15.0;
            QVERIFY2(
                qAbs(middle - fillLine) <= 3.0,
                qPrintable(
                    QStringLiteral("digit %1 at %2, line at %3").arg(n).arg(middle).arg(fillLine)));
        }
    }

    void picturesFillTheirWholeBox()
    {
        QuizFolder folder(1);
        Form1 form;
        guarded([&] { form.Form_Load(); });
        QVERIFY(folder.reports.isEmpty());
        // Pair 3's picture is twice as wide as high; it still covers its square box.
        ImageBox *box = form.Image1[std::size_t(form.SlotOf(2))];
        const QImage shot = box->grab().toImage();
        const QRect inside = box->contentsRect().adjusted(1, 1, -1, -1);
        for (const QPoint p : {inside.topLeft(), inside.topRight(), inside.bottomLeft(),
                               inside.bottomRight(), inside.center()}) {
            QImage one(1, 1, QImage::Format_RGB32);
            one.setPixelColor(0, 0, shot.pixelColor(p));
            QCOMPARE(pairShownIn(one), 3);
        }
    }
};

QTEST_MAIN(TestQuizLook)
#include "tst_quizlook.moc"
