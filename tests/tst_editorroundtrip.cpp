// A pairing file saved by the editor is what the quiz plays next: the same pairs in the same
// order, pair 1 first, and the same hide flag.

#include "tests/editorgestures.h"

#include "common/mediawindow.h"
#include "editor/checkbox.h"
#include "editor/listbox.h"
#include "quiz/form1.h"

#include <QPushButton>

class TestEditorRoundTrip : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { MediaWindow::setAudioOutput(QStringLiteral("null")); }
    void quizReadsWhatTheEditorSaved_data();
    void quizReadsWhatTheEditorSaved();
};

void TestEditorRoundTrip::quizReadsWhatTheEditorSaved_data()
{
    QTest::addColumn<int>("flag");
    QTest::newRow("hide box ticked") << 1;
    QTest::newRow("hide box clear") << 0;
}

void TestEditorRoundTrip::quizReadsWhatTheEditorSaved()
{
    QFETCH(int, flag);
    ExerciseFolder folder(ExerciseFolder::Editor);
    QStringList signs, pictures;
    {
        editor::Form1 form;
        QVERIFY(load(form));
        // Reorder by editing: take out pair 1 and put new names in as pair 5.
        pickRow(form.List1, 0);
        press(form.Command3);
        pickRow(form.List2, 0);
        press(form.Command4);
        pick(form.File1, QStringLiteral("ny.avi"));
        press(form.Command3);
        pick(form.File2, QStringLiteral("ny.gif"));
        press(form.Command4);
        form.Check1->setValue(qint16(flag));
        signs = entries(form.List1);
        pictures = entries(form.List2);
        press(form.Command1);
        QCOMPARE(folder.ends, QList<int>{0});
    }
    QCOMPARE(signs.first(), ExerciseFolder::sign(2));
    QCOMPARE(signs.last(), QStringLiteral("ny.avi"));

    SeamRecorder quizSeam(QStringLiteral("PIRVEL"));
    quiz::Form1 quiz;
    guarded([&] { quiz.Form_Load(); });
    QVERIFY2(quizSeam.reports.isEmpty(), qPrintable(quizSeam.reportTexts.join('\n')));
    for (int pair = 1; pair <= 5; ++pair) {
        QCOMPARE(quiz.SignFiles(5 - pair), signs.at(pair - 1));
        QCOMPARE(quiz.PictureFiles(5 - pair), pictures.at(pair - 1));
    }
    QCOMPARE(int(quiz.HideOnCorrect), flag);
    // The quiz opens pair 1's sign first.
    QCOMPARE(quiz.MCIWnd1->fileName(), signs.first());
}

QTEST_MAIN(TestEditorRoundTrip)
#include "tst_editorroundtrip.moc"
