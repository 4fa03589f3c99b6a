// A pairing file saved by the editor is what the quiz plays next: the same pairs in the same
// order, pair 1 first, and the same hide flag. Pairs are formed by list position alone, so a
// removal closes its list's gap and an addition becomes pair 5.

#include "tests/editorgestures.h"

#include "common/mediawindow.h"
#include "editor/checkbox.h"
#include "editor/listbox.h"
#include "quiz/form1.h"

#include <sys/stat.h>

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
    QTest::addColumn<bool>("fresh"); // a new exercise, else sign 2 and picture 4 replaced
    QTest::addColumn<int>("flag");
    QTest::newRow("edited, hide box ticked") << false << 1;
    QTest::newRow("a new exercise built pair by pair") << true << 0;
}

void TestEditorRoundTrip::quizReadsWhatTheEditorSaved()
{
    QFETCH(bool, fresh);
    QFETCH(int, flag);
    ExerciseFolder folder(ExerciseFolder::Editor);
    QStringList signs = folder.signs();
    QStringList pictures = folder.pictures();
    if (fresh)
        QVERIFY(QFile::remove(QStringLiteral("pirvel.ini")));
    {
        editor::Form1 form;
        QVERIFY(load(form));
        for (int pair = 1; fresh && pair <= 5; ++pair) {
            pick(form.File1, ExerciseFolder::sign(pair));
            press(form.Command3);
            pick(form.File2, ExerciseFolder::picture(pair));
            press(form.Command4);
        }
        if (!fresh) {
            replaceEntry(side(form, 0), 1, QStringLiteral("ny.avi"));
            replaceEntry(side(form, 1), 3, QStringLiteral("ny.gif"));
            signs =
                QStringList{"tecken1.avi", "tecken3.avi", "tecken4.avi", "tecken5.avi", "ny.avi"};
            pictures = QStringList{"bild1.bmp", "bild2.jpg", "bild3.bmp", "bild5.bmp", "ny.gif"};
        }
        form.Check1->setValue(qint16(flag));
        press(form.Command1);
        QCOMPARE(folder.ends, QList<int>{0});
    }
    QCOMPARE(folder.ini(), ExerciseFolder::iniBytes(signs, pictures, QByteArray::number(flag)));
    // A new file is made like any other, so that the learners' accounts may read it where the
    // folder lets them.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    struct stat made;
    QVERIFY(::stat("pirvel.ini", &made) == 0);
    QCOMPARE(made.st_mode & 0777, 0666 & ~mask);

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
