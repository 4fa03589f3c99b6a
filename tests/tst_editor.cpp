// The editor's behaviour in-process: start-up from pirvel.ini, the two sides' add and remove
// state machines driven by real mouse picks and button presses, the previews, "Spara",
// "Avbryt" and closing the window.

#include "tests/editorgestures.h"

#include "common/backdrop.h"
#include "common/imagebox.h"
#include "common/mediawindow.h"
#include "common/twips.h"
#include "editor/checkbox.h"
#include "editor/listbox.h"

#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <cstring>
#include <sys/stat.h>

using editor::Form1;

namespace {

// Bit-exact, since the precision of the zoom arithmetic is the point.
bool sameFloat(float a, float b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// Puts pirvel.ini in place: "<link>" makes it a link to a file that is not there, "<folder>"
// a folder; a null content leaves no pirvel.ini at all.
void placeIni(const QByteArray &content)
{
    QFile::remove(QStringLiteral("pirvel.ini"));
    if (content == "<link>")
        QVERIFY(QFile::link(QStringLiteral("borta.ini"), QStringLiteral("pirvel.ini")));
    else if (content == "<folder>")
        QVERIFY(QDir().mkdir(QStringLiteral("pirvel.ini")));
    else if (!content.isNull())
        QVERIFY(ExerciseFolder::writeFile(QStringLiteral("pirvel.ini"), content));
}

QByteArray noise(int bytes)
{
    QByteArray b(bytes, '\0');
    QRandomGenerator rng(9);
    for (char &c : b)
        c = char(rng.bounded(256));
    return b;
}

struct Side
{
    FileListBox *files;
    ListBox *chosen;
    QPushButton *button;
    QLabel *label;
    const qint16 *mode;
    const qint16 *count;
};

Side side(Form1 &form, int which)
{
    if (which == 0)
        return {form.File1,     form.List1,     form.Command3,
                form.Label3[0], &form.SignMode, &form.SignCount};
    return {form.File2,     form.List2,        form.Command4,
            form.Label3[1], &form.PictureMode, &form.PictureCount};
}

} // namespace

class TestEditor : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { MediaWindow::setAudioOutput(QStringLiteral("null")); }

    void startUpFillsListsAndBox_data();
    void startUpFillsListsAndBox();
    void startUpFailuresReportAndEnd_data();
    void startUpFailuresReportAndEnd();
    void saveRightAfterStartUpRewritesTheItems_data();
    void saveRightAfterStartUpRewritesTheItems();
    void removalsThenAdditionsBecomePairFive();
    void addingRefusesPresentNamesAndFullLists_data();
    void addingRefusesPresentNamesAndFullLists();
    void secondPressAfterRemovalDoesNothing_data();
    void secondPressAfterRemovalDoesNothing();
    void lastClickOnASideDecidesItsMode_data();
    void lastClickOnASideDecidesItsMode();
    void buttonsDoNothingRightAfterStartUp();
    void saveWithFourNamesShowsFel_data();
    void saveWithFourNamesShowsFel();
    void leavingWithoutSavingKeepsTheFile_data();
    void leavingWithoutSavingKeepsTheFile();
    void previewFitsTheVideoTo2500Twips_data();
    void previewFitsTheVideoTo2500Twips();
    void pictureClickShowsItAndLeavesTheVideo();
    void pictureAddTakesTheFileListSelection();
    void failedPreviewKeepsTheWork_data();
    void failedPreviewKeepsTheWork();
    void clearedSelectionActsOnNothing_data();
    void clearedSelectionActsOnNothing();
    void newExerciseIsSavedOnceBothListsAreFull();
    void chosenListClickWithoutSelectionDoesNothing();
    void realProgramReportsAFailedStartUp();
};

void TestEditor::startUpFillsListsAndBox_data()
{
    QTest::addColumn<QByteArray>("flag");
    QTest::addColumn<int>("value");
    QTest::newRow("flag 0 leaves the box clear") << QByteArray("0") << 0;
    QTest::newRow("flag 1 ticks the box") << QByteArray("1") << 1;
    QTest::newRow("flag 2 greys the box") << QByteArray("2") << 2;
    QTest::newRow("no pairing file: a new exercise, empty and clear") << QByteArray() << 0;
}

void TestEditor::startUpFillsListsAndBox()
{
    QFETCH(QByteArray, flag);
    QFETCH(int, value);
    ExerciseFolder folder(ExerciseFolder::Editor);
    placeIni(flag.isNull() ? flag : folder.iniBytes(folder.signs(), folder.pictures(), flag));
    Form1 form;
    QVERIFY(load(form));
    const int n = flag.isNull() ? 0 : 5;
    QCOMPARE(entries(form.List1), folder.signs().mid(0, n));
    QCOMPARE(entries(form.List2), folder.pictures().mid(0, n));
    QCOMPARE(int(form.Check1->Value()), value);
    QCOMPARE(form.SignCount, qint16(n));
    QCOMPARE(form.PictureCount, qint16(n));
    QCOMPARE(form.SignMode, editor::IdleMode);
    QCOMPARE(form.PictureMode, editor::IdleMode);
    QVERIFY(form.backdrop() && form.backdrop()->isVisible());
    QVERIFY(folder.reports.isEmpty());
}

void TestEditor::startUpFailuresReportAndEnd_data()
{
    QTest::addColumn<QByteArray>("content"); // as placeIni() takes it
    QTest::addColumn<int>("number");
    const QByteArray names =
        ExerciseFolder::iniBytes(ExerciseFolder::signs(), ExerciseFolder::pictures(), "")
            .chopped(2);
    QTest::newRow("a link to a pairing file that is gone")
        << QByteArray("<link>") << int(ErrorNumber::FileNotFound);
    QTest::newRow("a folder named pirvel.ini")
        << QByteArray("<folder>") << int(ErrorNumber::PathFileAccessError);
    // The file's own faults are checked in tst_pairingfile; one of them here reaches the report.
    QTest::newRow("ten lines only") << names << int(ErrorNumber::InputPastEndOfFile);
    QTest::newRow("flag 3 is refused by the box") << names + "3\r\n"
                                                  << int(ErrorNumber::InvalidPropertyValue);
    QTest::newRow("flag -1 is refused by the box") << names + "-1\r\n"
                                                   << int(ErrorNumber::InvalidPropertyValue);
}

void TestEditor::startUpFailuresReportAndEnd()
{
    QFETCH(QByteArray, content);
    QFETCH(int, number);
    ExerciseFolder folder(ExerciseFolder::Editor);
    placeIni(content);
    const QByteArray before = folder.ini();
    Form1 form;
    QVERIFY(!load(form));
    QCOMPARE(folder.reports, QList<int>{number});
    QCOMPARE(folder.ends, QList<int>{1});
    // Only the backdrop was shown before the failure.
    QVERIFY(form.backdrop() && form.backdrop()->isVisible());
    QVERIFY(!form.isVisible());
    QCOMPARE(folder.ini(), before);
    QCOMPARE(QFileInfo(QStringLiteral("pirvel.ini")).isSymLink(), content == "<link>");
}

void TestEditor::saveRightAfterStartUpRewritesTheItems_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QByteArray>("saved");
    const QByteArray exact =
        ExerciseFolder::iniBytes(ExerciseFolder::signs(), ExerciseFolder::pictures(), "1");
    QTest::newRow("the editor's own file comes back byte for byte") << exact << exact;
    QTest::newRow("lines after the eleventh are dropped")
        << exact + "\"extra.avi\"\r\nmore text\r\n"
        << exact;
    QByteArray loose = exact;
    loose.replace("\r\n", "\n").replace("\"tecken1.avi\"", "  tecken1.avi  ");
    QTest::newRow("LF lines and an unquoted name come back in the exact format") << loose << exact;
    const QByteArray greyed =
        ExerciseFolder::iniBytes(ExerciseFolder::signs(), ExerciseFolder::pictures(), "2");
    QTest::newRow("flag 2 survives") << greyed << greyed;
    QByteArray comma = exact;
    comma.replace("tecken3.avi", "a, b.avi");
    QTest::newRow("a comma inside a name survives") << comma << comma;
}

void TestEditor::saveRightAfterStartUpRewritesTheItems()
{
    QFETCH(QByteArray, content);
    QFETCH(QByteArray, saved);
    ExerciseFolder folder(ExerciseFolder::Editor);
    QVERIFY(folder.writeFile(QStringLiteral("pirvel.ini"), content));
    Form1 form;
    QVERIFY(load(form));
    press(form.Command1);
    QCOMPARE(folder.ends, QList<int>{0});
    QVERIFY(folder.messages.isEmpty());
    QCOMPARE(folder.ini(), saved);
}

void TestEditor::removalsThenAdditionsBecomePairFive()
{
    ExerciseFolder folder(ExerciseFolder::Editor);
    Form1 form;
    QVERIFY(load(form));
    pickRow(form.List1, 1);
    press(form.Command3);
    pickRow(form.List2, 3);
    press(form.Command4);
    pick(form.File1, QStringLiteral("ny.avi"));
    press(form.Command3);
    pick(form.File2, QStringLiteral("ny.gif"));
    press(form.Command4);
    QCOMPARE(form.SignCount, qint16(5));
    QCOMPARE(form.PictureCount, qint16(5));
    press(form.Command1);
    QCOMPARE(folder.ends, QList<int>{0});
    QCOMPARE(folder.ini(),
             ExerciseFolder::iniBytes(
                 {"tecken1.avi", "tecken3.avi", "tecken4.avi", "tecken5.avi", "ny.avi"},
                 {"bild1.bmp", "bild2.jpg", "bild3.bmp", "bild5.bmp", "ny.gif"}, "1"));
}

void TestEditor::addingRefusesPresentNamesAndFullLists_data()
{
    QTest::addColumn<int>("which");
    QTest::addColumn<int>("removeRow"); // -1: keep the list full
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("added");
    for (int which = 0; which < 2; ++which) {
        const char *s = which == 0 ? "signs: " : "pictures: ";
        const QString listed = which == 0 ? ExerciseFolder::sign(1) : ExerciseFolder::picture(1);
        const QString otherCase = which == 0 ? "Tecken1.avi" : "Bild1.bmp";
        const QString fresh = which == 0 ? "ny.avi" : "ny.gif";
        QTest::addRow("%sa new name joins four", s) << which << 4 << fresh << true;
        QTest::addRow("%sa name already listed is refused", s) << which << 4 << listed << false;
        QTest::addRow("%sa name differing only in case is new", s)
            << which << 4 << otherCase << true;
        QTest::addRow("%sa full list refuses a new name", s) << which << -1 << fresh << false;
    }
}

void TestEditor::addingRefusesPresentNamesAndFullLists()
{
    QFETCH(int, which);
    QFETCH(int, removeRow);
    QFETCH(QString, file);
    QFETCH(bool, added);
    ExerciseFolder folder(ExerciseFolder::Editor);
    Form1 form;
    QVERIFY(load(form));
    const Side s = side(form, which);
    if (removeRow >= 0) {
        pickRow(s.chosen, removeRow);
        press(s.button);
    }
    const QStringList before = entries(s.chosen);
    pick(s.files, file);
    QCOMPARE(*s.mode, editor::AddMode);
    QCOMPARE(s.label->text(), file);
    press(s.button);
    const QStringList expected = added ? before + QStringList{file} : before;
    QCOMPARE(entries(s.chosen), expected);
    QCOMPARE(int(*s.count), expected.size());
    // The mode stays armed, and a second press finds the name present (or the list full).
    press(s.button);
    QCOMPARE(entries(s.chosen), expected);
    QCOMPARE(*s.mode, editor::AddMode);
    QCOMPARE(s.label->text(), file);
    QVERIFY(folder.reports.isEmpty());
    QVERIFY(folder.messages.isEmpty());
}

void TestEditor::secondPressAfterRemovalDoesNothing_data()
{
    QTest::addColumn<int>("which");
    QTest::addColumn<int>("row");
    QTest::newRow("signs: first entry") << 0 << 0;
    QTest::newRow("signs: last entry") << 0 << 4;
    QTest::newRow("pictures: middle entry") << 1 << 2;
}

void TestEditor::secondPressAfterRemovalDoesNothing()
{
    QFETCH(int, which);
    QFETCH(int, row);
    ExerciseFolder folder(ExerciseFolder::Editor);
    Form1 form;
    QVERIFY(load(form));
    const Side s = side(form, which);
    QStringList expected = entries(s.chosen);
    const QString removed = expected.takeAt(row);
    pickRow(s.chosen, row);
    QCOMPARE(*s.mode, editor::RemoveMode);
    QCOMPARE(s.label->text(), removed);
    const QString previewFile = form.MCIWnd1->fileName();
    press(s.button);
    QCOMPARE(entries(s.chosen), expected);
    QCOMPARE(int(*s.count), 4);
    QCOMPARE(s.label->text(), QString());
    QCOMPARE(*s.mode, editor::IdleMode);
    QCOMPARE(s.chosen->ListIndex(), -1);
    press(s.button);
    QCOMPARE(entries(s.chosen), expected);
    QCOMPARE(int(*s.count), 4);
    // The preview keeps the removed file.
    QCOMPARE(form.MCIWnd1->fileName(), previewFile);
    if (which == 0)
        QCOMPARE(previewFile, removed);
}

void TestEditor::lastClickOnASideDecidesItsMode_data()
{
    QTest::addColumn<int>("which");
    QTest::addColumn<bool>("fileLast");
    QTest::newRow("signs: entry, then file adds") << 0 << true;
    QTest::newRow("signs: file, then entry removes") << 0 << false;
    QTest::newRow("pictures: entry, then file adds") << 1 << true;
    QTest::newRow("pictures: file, then entry removes") << 1 << false;
}

void TestEditor::lastClickOnASideDecidesItsMode()
{
    QFETCH(int, which);
    QFETCH(bool, fileLast);
    ExerciseFolder folder(ExerciseFolder::Editor);
    Form1 form;
    QVERIFY(load(form));
    const Side s = side(form, which);
    pickRow(s.chosen, 4);
    press(s.button);
    QStringList four = entries(s.chosen);
    const QString fresh = which == 0 ? "ny.avi" : "ny.gif";
    if (fileLast) {
        pickRow(s.chosen, 1);
        pick(s.files, fresh);
        press(s.button);
        QCOMPARE(entries(s.chosen), four + QStringList{fresh});
    } else {
        pick(s.files, fresh);
        pickRow(s.chosen, 1);
        press(s.button);
        four.removeAt(1);
        QCOMPARE(entries(s.chosen), four);
    }
    // The other side never moved.
    const Side other = side(form, 1 - which);
    QCOMPARE(entries(other.chosen), which == 0 ? folder.pictures() : folder.signs());
    QCOMPARE(*other.mode, editor::IdleMode);
}

void TestEditor::buttonsDoNothingRightAfterStartUp()
{
    ExerciseFolder folder(ExerciseFolder::Editor);
    Form1 form;
    QVERIFY(load(form));
    press(form.Command3);
    press(form.Command4);
    QCOMPARE(entries(form.List1), folder.signs());
    QCOMPARE(entries(form.List2), folder.pictures());
    QCOMPARE(form.SignCount, qint16(5));
    QCOMPARE(form.PictureCount, qint16(5));
}

void TestEditor::saveWithFourNamesShowsFel_data()
{
    QTest::addColumn<int>("which");
    QTest::newRow("four signs") << 0;
    QTest::newRow("four pictures") << 1;
}

void TestEditor::saveWithFourNamesShowsFel()
{
    QFETCH(int, which);
    ExerciseFolder folder(ExerciseFolder::Editor);
    const QByteArray before = folder.ini();
    const QStringList filesBefore = folder.files();
    Form1 form;
    QVERIFY(load(form));
    const Side s = side(form, which);
    pickRow(s.chosen, 2);
    press(s.button);
    const QStringList four = entries(s.chosen);

    press(form.Command1);
    QCOMPARE(folder.messages.size(), 1);
    QCOMPARE(folder.messages.first().first, QStringLiteral("Fel"));
    QCOMPARE(folder.messages.first().second,
             QStringLiteral("Du måste välja 5 pirvel och 5 bilder"));
    QVERIFY(folder.ends.isEmpty());
    QCOMPARE(folder.ini(), before);
    QCOMPARE(folder.files(), filesBefore);
    QCOMPARE(entries(s.chosen), four);
    QCOMPARE(int(*s.count), 4);
    QCOMPARE(*s.mode, editor::IdleMode);

    // After OK the editing goes on: fill the list again and save.
    const QString fresh = which == 0 ? "ny.avi" : "ny.gif";
    pick(s.files, fresh);
    press(s.button);
    press(form.Command1);
    QCOMPARE(folder.ends, QList<int>{0});
    QCOMPARE(folder.messages.size(), 1);
    const QStringList five = four + QStringList{fresh};
    QCOMPARE(folder.ini(), which == 0 ? ExerciseFolder::iniBytes(five, folder.pictures(), "1")
                                      : ExerciseFolder::iniBytes(folder.signs(), five, "1"));
}

void TestEditor::leavingWithoutSavingKeepsTheFile_data()
{
    QTest::addColumn<bool>("cancel");
    QTest::newRow("Avbryt") << true;
    QTest::newRow("closing the window") << false;
}

void TestEditor::leavingWithoutSavingKeepsTheFile()
{
    QFETCH(bool, cancel);
    ExerciseFolder folder(ExerciseFolder::Editor);
    const QByteArray before = folder.ini();
    const QStringList filesBefore = folder.files();
    Form1 form;
    QVERIFY(load(form));
    pickRow(form.List1, 0);
    press(form.Command3);
    form.Check1->setValue(0);
    QPointer<Form2> backdrop = form.backdrop();
    if (cancel) {
        press(form.Command2);
        QCOMPARE(folder.ends, QList<int>{0});
        QVERIFY(backdrop); // ending takes every window at once; no unload handler ran
    } else {
        QVERIFY(form.close());
        QVERIFY(folder.ends.isEmpty());
        QVERIFY(!backdrop); // Form_Unload unloaded it
        QVERIFY(!form.isVisible());
    }
    QCOMPARE(folder.ini(), before);
    QCOMPARE(folder.files(), filesBefore);
}

void TestEditor::previewFitsTheVideoTo2500Twips_data()
{
    QTest::addColumn<bool>("fromChosenList");
    QTest::addColumn<QString>("file");
    QTest::addColumn<float>("zoom");
    QTest::addColumn<int>("pixels");
    QTest::newRow("file list: 200 px clip") << false << "ny.avi" << 83.333336f << 167;
    QTest::newRow("file list: 100 px clip") << false << "Tecken1.avi" << 166.66667f << 167;
    QTest::newRow("chosen list: 200 px clip") << true << "tecken1.avi" << 83.333336f << 167;
    QTest::newRow("chosen list: 100 px clip") << true << "tecken2.avi" << 166.66667f << 167;
    // 4444 twips high if fitted to the width: the height free above the check box decides.
    QTest::newRow("file list: portrait 90x160") << false << "hog.avi" << 135.0f << 122;
}

void TestEditor::previewFitsTheVideoTo2500Twips()
{
    QFETCH(bool, fromChosenList);
    QFETCH(QString, file);
    QFETCH(float, zoom);
    QFETCH(int, pixels);
    ExerciseFolder folder(ExerciseFolder::Editor);
    if (!QFile::exists(file))
        QCOMPARE(QProcess::execute(
                     "ffmpeg", {"-v", "error", "-f", "lavfi", "-i", "testsrc=s=90x160:d=1", file}),
                 0);
    Form1 form;
    QVERIFY(load(form));
    const QPoint place = form.MCIWnd1->pos();
    pick(fromChosenList ? form.List1 : form.File1, file);
    QCOMPARE(form.MCIWnd1->fileName(), file);
    QVERIFY2(sameFloat(form.MCIWnd1->zoom(), zoom),
             qPrintable(QString::number(double(form.MCIWnd1->zoom()), 'g', 10)));
    QCOMPARE(form.MCIWnd1->width(), pixels);
    QVERIFY(form.MCIWnd1->geometry().bottom() < form.Picture1->y());
    QCOMPARE(form.MCIWnd1->pos(), place);
    QVERIFY(form.MCIWnd1->isPlaying() || form.MCIWnd1->currentFrame().width() > 0);
    QCOMPARE(form.Label3[0]->text(), file);
    QVERIFY(folder.reports.isEmpty());
}

void TestEditor::pictureClickShowsItAndLeavesTheVideo()
{
    ExerciseFolder folder(ExerciseFolder::Editor);
    Form1 form;
    QVERIFY(load(form));
    pick(form.File1, QStringLiteral("ny.avi"));
    const QImage placeholder = form.Image1->pixmap().toImage();
    pick(form.File2, ExerciseFolder::picture(3));
    QVERIFY(nearColour(middleColour(form.Image1->pixmap().toImage()), ExerciseFolder::colour(3)));
    QCOMPARE(form.Label3[1]->text(), ExerciseFolder::picture(3));
    QCOMPARE(form.PictureMode, editor::AddMode);
    QCOMPARE(form.MCIWnd1->fileName(), QStringLiteral("ny.avi"));
    QCOMPARE(form.Label3[0]->text(), QStringLiteral("ny.avi"));
    QCOMPARE(form.SignMode, editor::AddMode);
    pickRow(form.List2, 1);
    QVERIFY(nearColour(middleColour(form.Image1->pixmap().toImage()), ExerciseFolder::colour(2)));
    QCOMPARE(form.Label3[1]->text(), ExerciseFolder::picture(2));
    QCOMPARE(form.PictureMode, editor::RemoveMode);
    QCOMPARE(form.MCIWnd1->fileName(), QStringLiteral("ny.avi"));
    // A removal keeps the picture shown.
    press(form.Command4);
    QVERIFY(nearColour(middleColour(form.Image1->pixmap().toImage()), ExerciseFolder::colour(2)));
    QVERIFY(form.Image1->pixmap().toImage() != placeholder);
}

void TestEditor::pictureAddTakesTheFileListSelection()
{
    ExerciseFolder folder(ExerciseFolder::Editor);
    Form1 form;
    QVERIFY(load(form));
    pickRow(form.List2, 0);
    press(form.Command4);
    pick(form.File2, QStringLiteral("ny.gif"));
    // The selection moves on without a click reaching the handler; the press takes the name
    // selected now, not the one the label still shows.
    const QSignalBlocker quiet(form.File2);
    form.File2->setCurrentRow(entries(form.File2).indexOf(QStringLiteral("Bild1.bmp")));
    press(form.Command4);
    QCOMPARE(entries(form.List2).last(), QStringLiteral("Bild1.bmp"));
    QCOMPARE(form.Label3[1]->text(), QStringLiteral("ny.gif"));
    QCOMPARE(form.SelectedName, QStringLiteral("ny.gif"));
}

void TestEditor::failedPreviewKeepsTheWork_data()
{
    QTest::addColumn<int>("which");
    QTest::addColumn<bool>("fromChosen"); // else a file list click
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("damage"); // gone, fifo, link to fifo, noise, or "": empty name
    QTest::newRow("signs: chosen file is gone") << 0 << true << "tecken3.avi"
                                                << "gone";
    QTest::newRow("pictures: chosen file is gone") << 1 << true << "bild3.bmp"
                                                   << "gone";
    QTest::newRow("signs: chosen file is a FIFO") << 0 << true << "tecken3.avi"
                                                  << "fifo";
    QTest::newRow("pictures: chosen file is noise") << 1 << true << "bild3.bmp"
                                                    << "noise";
    QTest::newRow("pictures: empty name read from pirvel.ini") << 1 << true << ""
                                                               << "";
    QTest::newRow("signs: noise named .mov in the file list") << 0 << false << "brus.mov"
                                                              << "noise";
    QTest::newRow("signs: chosen file is a link to a FIFO") << 0 << true << "tecken3.avi"
                                                            << "link to fifo";
    QTest::newRow("pictures: unreadable picture in the file list") << 1 << false << "brus.jpg"
                                                                   << "noise";
}

// A file that cannot be shown says so in the preview's place: the work stays, a chosen entry
// can still be taken out, and a file is never armed for adding.
void TestEditor::failedPreviewKeepsTheWork()
{
    QFETCH(int, which);
    QFETCH(bool, fromChosen);
    QFETCH(QString, name);
    QFETCH(QString, damage);
    ExerciseFolder folder(ExerciseFolder::Editor);
    QStringList names = which == 0 ? folder.signs() : folder.pictures();
    if (fromChosen) {
        names[2] = name;
        QFile::remove(name);
        if (which == 0)
            QVERIFY(folder.writeFile("pirvel.ini", folder.iniBytes(names, folder.pictures(), "1")));
        else
            QVERIFY(folder.writeFile("pirvel.ini", folder.iniBytes(folder.signs(), names, "1")));
    }
    if (damage == "noise")
        folder.writeFile(name, noise(200 * 1024));
    else if (damage == "fifo")
        QVERIFY(::mkfifo(QFile::encodeName(name).constData(), 0644) == 0);
    else if (damage == "link to fifo")
        QVERIFY(::mkfifo("kö", 0644) == 0 && QFile::link(QStringLiteral("kö"), name));
    Form1 form;
    QVERIFY(load(form));
    const Side s = side(form, which);
    // The file lists offer only regular files, so this name can come from pirvel.ini alone.
    if (damage.contains("fifo"))
        QVERIFY(s.files->findItems(name, Qt::MatchExactly).isEmpty());
    if (!fromChosen) {
        pickRow(s.chosen, 4);
        press(s.button);
        names.removeAt(4);
    }
    pick(fromChosen ? s.chosen : s.files, name);
    QVERIFY(folder.reports.isEmpty());
    QVERIFY(folder.ends.isEmpty());
    QVERIFY(form.Label4[which]->isVisible());
    QVERIFY2(form.Label4[which]->text().contains(name), qPrintable(form.Label4[which]->text()));
    QVERIFY(!form.Label4[1 - which]->isVisible());
    QCOMPARE(entries(s.chosen), names);
    QCOMPARE(entries(side(form, 1 - which).chosen),
             which == 0 ? folder.pictures() : folder.signs());
    if (name.isEmpty()) {
        press(form.Command1);
        QCOMPARE(folder.messages.size(), 1); // "Fel", and the work goes on
    }

    press(s.button);
    if (fromChosen)
        names.removeAt(2);
    QCOMPARE(entries(s.chosen), names);
    QCOMPARE(int(*s.count), names.size());

    // A file that can be shown takes the text away and is added as usual.
    const QString fresh = which == 0 ? "ny.avi" : "ny.gif";
    pick(s.files, fresh);
    QVERIFY(!form.Label4[which]->isVisible());
    press(s.button);
    QCOMPARE(entries(s.chosen), names + QStringList{fresh});
    QVERIFY(folder.reports.isEmpty());
}

void TestEditor::clearedSelectionActsOnNothing_data()
{
    QTest::addColumn<int>("which");
    QTest::addColumn<bool>("fromChosen"); // the chosen list armed removal, else a file adding
    QTest::addColumn<QString>("gesture");
    QTest::newRow("signs: Ctrl+click on the picked file") << 0 << false << "ctrl-click";
    QTest::newRow("pictures: Ctrl+click on the picked file") << 1 << false << "ctrl-click";
    QTest::newRow("pictures: Ctrl+Space on the picked file") << 1 << false << "ctrl-space";
    QTest::newRow("signs: right-click on another file") << 0 << false << "right-click";
    QTest::newRow("pictures: right-click on another file") << 1 << false << "right-click";
    QTest::newRow("signs: Ctrl+click on the picked entry") << 0 << true << "ctrl-click";
    QTest::newRow("pictures: Ctrl+Space on the picked entry") << 1 << true << "ctrl-space";
    QTest::newRow("signs: right-click on another entry") << 0 << true << "right-click";
}

void TestEditor::clearedSelectionActsOnNothing()
{
    QFETCH(int, which);
    QFETCH(bool, fromChosen);
    QFETCH(QString, gesture);
    ExerciseFolder folder(ExerciseFolder::Editor);
    Form1 form;
    QVERIFY(load(form));
    const Side s = side(form, which);
    pickRow(s.chosen, 4);
    press(s.button);
    ListBox *list = fromChosen ? static_cast<ListBox *>(s.chosen) : s.files;
    if (fromChosen)
        pickRow(list, 1);
    else
        pick(list, which == 0 ? "ny.avi" : "ny.gif");
    const QStringList before = entries(s.chosen);
    const int row = list->ListIndex();
    QVERIFY(row >= 0 && *s.mode != editor::IdleMode);

    if (gesture == "ctrl-space") {
        list->setFocus();
        QTest::keyClick(list, Qt::Key_Space, Qt::ControlModifier);
    } else {
        const int other = gesture == "right-click" ? (row + 1) % list->count() : row;
        QTest::mouseClick(list->viewport(),
                          gesture == "right-click" ? Qt::RightButton : Qt::LeftButton,
                          gesture == "right-click" ? Qt::KeyboardModifiers() : Qt::ControlModifier,
                          list->visualItemRect(list->item(other)).center());
    }
    QVERIFY(list->ListIndex() != row);
    press(s.button);
    QCOMPARE(entries(s.chosen), before);
    QCOMPARE(*s.mode, editor::IdleMode);
    QCOMPARE(s.label->text(), QString());
    QVERIFY(folder.reports.isEmpty());
}

void TestEditor::newExerciseIsSavedOnceBothListsAreFull()
{
    ExerciseFolder folder(ExerciseFolder::Editor);
    QVERIFY(QFile::remove(QStringLiteral("pirvel.ini")));
    Form1 form;
    QVERIFY(load(form));
    press(form.Command1);
    QCOMPARE(folder.messages.size(), 1);
    QVERIFY(!folder.files().contains(QStringLiteral("pirvel.ini")));
    for (int pair = 1; pair <= 5; ++pair) {
        pick(form.File1, ExerciseFolder::sign(pair));
        press(form.Command3);
        pick(form.File2, ExerciseFolder::picture(pair));
        press(form.Command4);
    }
    press(form.Command1);
    QCOMPARE(folder.ends, QList<int>{0});
    QCOMPARE(folder.ini(), ExerciseFolder::iniBytes(folder.signs(), folder.pictures(), "0"));
    // Made like any new file, so that the learners' accounts may read it where the folder
    // lets them.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    struct stat made;
    QVERIFY(::stat("pirvel.ini", &made) == 0);
    QCOMPARE(made.st_mode & 0777, 0666 & ~mask);
}

void TestEditor::chosenListClickWithoutSelectionDoesNothing()
{
    ExerciseFolder folder(ExerciseFolder::Editor);
    Form1 form;
    QVERIFY(load(form));
    QCOMPARE(form.List1->ListIndex(), -1);
    form.List1_Click();
    form.List2_Click();
    QCOMPARE(form.SignMode, editor::IdleMode);
    QCOMPARE(form.PictureMode, editor::IdleMode);
    QCOMPARE(form.MCIWnd1->fileName(), QString());
    QVERIFY(folder.reports.isEmpty());
    press(form.Command3);
    QCOMPARE(entries(form.List1), folder.signs());
}

// The real program, offscreen: main() runs Form_Load through the guard, so the report goes
// to stderr and the program ends at once with a non-zero status.
void TestEditor::realProgramReportsAFailedStartUp()
{
    ExerciseFolder folder(ExerciseFolder::Editor);
    placeIni("<link>");
    const ProgramEnd end = runProgram(QStringLiteral(KOLMIRAS_EXE), folder.dir.path());
    QVERIFY(end.finished);
    QCOMPARE(end.exitCode, 1);
    QVERIFY2(end.err.contains("KOLMIRAS: Körningsfel 53: "), qPrintable(end.err));
    QVERIFY(QFileInfo(QStringLiteral("pirvel.ini")).isSymLink());
}

QTEST_MAIN(TestEditor)
#include "tst_editor.moc"
