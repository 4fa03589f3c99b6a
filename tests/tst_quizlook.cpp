// The quiz window as the learner sees it, read back from grab(): every control inside the
// window and clear of the others, captions that fit in the fonts the window was drawn in, the
// video's one-pixel line, how far the red gauge fills for each value, that the scale digits
// stand level with the fill lines, and that a picture fills its whole box whatever its
// proportions.

#include "tests/support/testsupport.h"

#include "common/program.h"
#include "quiz/form1.h"

#include <QTest>

#include "common/imagebox.h"
#include "common/mediawindow.h"
#include "quiz/gauge.h"
#include "quiz/scalelabel.h"

#include <QFontInfo>
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

    // Also the focus on "PLAY" and the tab key to "Sluta", and the places where the real-display
    // test clicks (the middles of the pictures and of "Sluta") on their controls.
    void startedWindowAsTheLearnerMeetsIt()
    {
        ExerciseFolder folder(ExerciseFolder::Quiz);
        Form1 form;
        guarded([&] { form.Form_Load(); });
        QVERIFY(folder.reports.isEmpty());
        form.show();
        QCOMPARE(form.windowTitle(), QStringLiteral("Vilket pirvel?"));
        QCOMPARE(form.size(), QSize(634, 455));
        QCOMPARE(form.minimumSize(), form.maximumSize());
        QVERIFY(!(form.windowFlags() & Qt::WindowMinimizeButtonHint));
        QVERIFY(!(form.windowFlags() & Qt::WindowMaximizeButtonHint));

        // Every control lies inside the window and clear of the others. Only "Sluta" and the
        // panel under it reach 30 twips past the right edge, where they are cut off, and meet
        // on one row of pixels; the label of the scale stands left of the panel.
        const QRect client = form.rect();
        QList<QPair<QString, QRect>> controls = {{"PLAY", form.Command3D1->geometry()},
                                                 {"Label1", form.Label1->geometry()}};
        for (int i = 0; i < 5; ++i)
            controls.append(
                {QStringLiteral("Image1(%1)").arg(i), form.Image1[std::size_t(i)]->geometry()});
        const QRect sluta = form.Command3D2->geometry(), panel = form.Panel3D1->geometry();
        for (const QRect &cut : {sluta, panel}) {
            QCOMPARE(cut.x() + cut.width() - client.width(), 2);
            QVERIFY(cut.top() >= 0 && cut.bottom() <= client.bottom());
            controls.append({"Sluta or the panel", cut.adjusted(0, 0, -2, 0)});
        }
        QCOMPARE(sluta.intersected(panel).height(), 1);
        QVERIFY(form.rect().contains(form.Gauge1->geometry().translated(panel.topLeft())));
        for (int i = 0; i < controls.size(); ++i) {
            QVERIFY2(client.contains(controls[i].second), qPrintable(controls[i].first));
            for (int j = i + 1; j < controls.size(); ++j)
                QVERIFY2(controls[i].first == controls[j].first ||
                             !controls[i].second.intersects(controls[j].second),
                         qPrintable(controls[i].first + " and " + controls[j].first));
        }
        // The picture boxes are squares of one size, large enough to tell pictures apart.
        for (ImageBox *box : form.Image1) {
            QCOMPARE(box->size(), form.Image1[0]->size());
            QCOMPARE(box->width(), box->height());
            QVERIFY(box->width() >= 100);
        }
        // Each button's caption fits under its picture, in the button's own font.
        QCOMPARE(form.Command3D1->text(), QStringLiteral("PLAY"));
        QCOMPARE(form.Command3D2->text(), QStringLiteral("Sluta"));
        QCOMPARE(form.Command3D2->iconSize(), QSize(31, 30));
        for (QToolButton *b : {form.Command3D1, form.Command3D2}) {
            const QFontMetrics metrics(b->font());
            QVERIFY(metrics.horizontalAdvance(b->text()) < b->contentsRect().width());
            QVERIFY(metrics.height() + b->iconSize().height() < b->contentsRect().height());
        }
        // Bold sans-serif at 8.25 and 9.75 pt for the buttons, a bold serif at 12.75 for the scale.
        const QList<QPair<QWidget *, double>> fonts = {
            {form.Command3D1, 8.25}, {form.Command3D2, 9.75}, {form.Label1, 12.75}};
        for (const auto &[w, points] : fonts) {
            const QFontInfo info(w->font());
            QVERIFY(info.bold());
            QCOMPARE(info.pixelSize(), qRound(points * 96 / 72));
            QCOMPARE(info.family().contains(QLatin1String("Sans")), w != form.Label1);
        }
        // The focus within the window: which window is active is the real-display tests' part
        // (the offscreen platform may leave the backdrop active).
        form.Command3D1->setFocus();
        QCOMPARE(form.focusWidget(), form.Command3D1);
        QTest::keyClick(&form, Qt::Key_Tab);
        QCOMPARE(form.focusWidget(), form.Command3D2);
        // Then the pictures, marked while they have the focus; a click never gives it them.
        QApplication::setActiveWindow(&form);
        const QImage unmarked = form.Image1[0]->grab().toImage();
        QTest::keyClick(&form, Qt::Key_Tab);
        QCOMPARE(form.focusWidget(), form.Image1[0]);
        QVERIFY(form.Image1[0]->grab().toImage() != unmarked);
        QTest::keyClick(&form, Qt::Key_Backtab);
        QCOMPARE(form.Image1[0]->grab().toImage(), unmarked);
        QCOMPARE(form.childAt(form.Command3D2->geometry().center()), form.Command3D2);
        for (ImageBox *box : form.Image1) {
            QCOMPARE(box->focusPolicy(), Qt::TabFocus);
            QCOMPARE(form.childAt(box->geometry().center()), box);
        }
        const QImage shot = form.grab().toImage();
        const QRect video = form.MCIWnd1->geometry();
        const QList<QPair<QPoint, QPoint>> edges = {
            // a point of the edge, a step inwards
            {QPoint(video.left(), video.center().y()), QPoint(1, 0)},
            {QPoint(video.right(), video.center().y()), QPoint(-1, 0)},
            {QPoint(video.center().x(), video.top()), QPoint(0, 1)}};
        for (const auto &[edge, in] : edges) {
            QVERIFY(isInk(shot.pixelColor(edge)));
            QVERIFY(!isInk(shot.pixelColor(edge + in)));
            QCOMPARE(shot.pixelColor(edge - in), QColor(255, 255, 128));
        }
        // Pair 3's picture is twice as wide as high; it still covers its square box.
        ImageBox *box = form.Image1[std::size_t(form.SlotOf(2))];
        const QRect inside = box->contentsRect().translated(box->pos()).adjusted(1, 1, -1, -1);
        for (const QPoint p : {inside.topLeft(), inside.topRight(), inside.bottomLeft(),
                               inside.bottomRight(), inside.center()})
            QVERIFY(nearColour(shot.pixelColor(p), ExerciseFolder::colour(3)));
        // Enter on "PLAY" is no default button: nothing ends, nothing is reported.
        QTest::keyClick(&form, Qt::Key_Escape);
        QTest::keyClick(form.Command3D1, Qt::Key_Return);
        QVERIFY(folder.ends.isEmpty());
    }

    // The gauge fills its value in fifths from the bottom, and each scale digit stands level
    // with the fill line of its value.
    void gaugeFillsInFifthsLevelWithTheScaleDigits()
    {
        Form1 form;
        form.Gauge1->setValue(0);
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
        const int x = form.Panel3D1->x() + form.Gauge1->x() + form.Gauge1->width() / 2;
        const int top = form.Panel3D1->y() + form.Gauge1->y();
        const int height = form.Gauge1->height(), bottom = top + height;
        for (qint16 v = 0; v <= 5; ++v) {
            form.Gauge1->setValue(v);
            const QImage drawn = form.grab().toImage();
            int line = top; // the first red row, the bottom edge when empty
            while (line < bottom && !isRed(drawn.pixelColor(x, line)))
                ++line;
            for (int y = line; y < bottom; ++y) // one block of red down to the bottom
                QVERIFY2(isRed(drawn.pixelColor(x, y)), qPrintable(QString::number(v)));
            const int want = bottom - qRound(height * v / 5.0);
            const double digit = (runs[5 - v].first + runs[5 - v].second) / 2.0;
            const QString at =
                QString::asprintf("value %d: line %d, want %d, digit %g", v, line, want, digit);
            QVERIFY2(qAbs(line - want) <= 1, qPrintable(at));
            QVERIFY2(qAbs(digit - line) <= 3.0, qPrintable(at));
        }
        QVERIFY_THROWS_EXCEPTION(RuntimeError, form.Gauge1->setValue(6));
        QVERIFY_THROWS_EXCEPTION(RuntimeError, form.Gauge1->setValue(-1));
    }
};

QTEST_MAIN(TestQuizLook)
#include "tst_quizlook.moc"
