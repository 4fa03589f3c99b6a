// The editor's behaviour in-process: start-up from pirvel.ini, the two sides' add and remove
// state machines driven by real mouse picks and button presses, the previews, "Spara",
// "Avbryt" and closing the window.

#include "tests/editorgestures.h"

#include "common/backdrop.h"
#include "common/imagebox.h"
#include "common/mediawindow.h"
#include "editor/checkbox.h"
#include "editor/listbox.h"

#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <cstring>
#include <sys/stat.h>

using editor::Form1;

namespace {

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

} // namespace

class TestEditor : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { MediaWindow::setAudioOutput(QStringLiteral("null")); }

    void startUpThenSpara_data();
    void startUpThenSpara();
    void sideGestures_data();
    void sideGestures();
    void leavingOrRefusedSaveKeepsTheFile_data();
    void leavingOrRefusedSaveKeepsTheFile();
    void previewFitsTheVideoTo2500Twips_data();
    void previewFitsTheVideoTo2500Twips();
    void picturePreviewFollowsTheLastPick();
    void realProgramReportsAFailedStartUp();
};

void TestEditor::startUpThenSpara_data()
{
    QTest::addColumn<QByteArray>("content"); // as placeIni() takes it
    QTest::addColumn<int>("number");         // the error reported, 0 for none
    QTest::addColumn<int>("box");
    QTest::addColumn<QByteArray>("saved"); // pirvel.ini after an immediate "Spara"
    auto starts = [](const char *what, const QByteArray &content, int box, QByteArray saved = {}) {
        QTest::newRow(what) << content << 0 << box << (saved.isNull() ? content : saved);
    };
    auto fails = [](const char *what, const QByteArray &content, int number) {
        QTest::newRow(what) << content << number << 0 << QByteArray();
    };
    const QByteArray exact = ExerciseFolder::iniBytes(1);
    starts("flag 0 leaves the box clear", ExerciseFolder::iniBytes(0), 0);
    starts("flag 1 ticks the box, the file comes back byte for byte", exact, 1);
    starts("flag 2 greys the box and survives", ExerciseFolder::iniBytes(2), 2);
    starts("lines after the eleventh are dropped", exact + "\"extra.avi\"\r\nmore text\r\n", 1,
           exact);
    QByteArray loose = exact;
    loose.replace("\r\n", "\n").replace("\"tecken1.avi\"", "  tecken1.avi  ");
    starts("LF lines and an unquoted name come back in the exact format", loose, 1, exact);
    starts("a comma inside a name survives", QByteArray(exact).replace("tecken3", "a, b"), 1);
    starts("no pairing file: a new exercise, empty and clear, saved only when full", {}, 0,
           "<missing>");
    fails("a link to a pairing file that is gone", "<link>", ErrorNumber::FileNotFound);
    fails("a folder named pirvel.ini", "<folder>", ErrorNumber::PathFileAccessError);
    // The file's own faults are checked in tst_pairingfile; one of them here reaches the report.
    const QByteArray names = exact.chopped(3);
    fails("ten lines only", names, ErrorNumber::InputPastEndOfFile);
    fails("flag 3 is refused by the box", names + "3\r\n", ErrorNumber::InvalidPropertyValue);
    fails("flag -1 is refused by the box", names + "-1\r\n", ErrorNumber::InvalidPropertyValue);
}

void TestEditor::startUpThenSpara()
{
    QFETCH(QByteArray, content);
    QFETCH(int, number);
    QFETCH(int, box);
    QFETCH(QByteArray, saved);
    ExerciseFolder folder(ExerciseFolder::Editor);
    placeIni(content);
    const QByteArray before = folder.ini();
    Form1 form;
    QCOMPARE(load(form), number == 0);
    // The backdrop comes first, and is all that shows of a start-up that fails.
    QVERIFY(form.backdrop() && form.backdrop()->isVisible());
    if (number != 0) {
        QCOMPARE(folder.reports, QList<int>{number});
        QCOMPARE(folder.ends, QList<int>{1});
        QVERIFY(!form.isVisible());
        QCOMPARE(folder.ini(), before);
        QCOMPARE(QFileInfo(QStringLiteral("pirvel.ini")).isSymLink(), content == "<link>");
        return;
    }
    const int n = content.isNull() ? 0 : 5;
    QStringList signs = folder.signs().mid(0, n);
    if (content.contains("a, b.avi"))
        signs[2] = QStringLiteral("a, b.avi");
    QCOMPARE(entries(form.List1), signs);
    QCOMPARE(entries(form.List2), folder.pictures().mid(0, n));
    QCOMPARE(int(form.Check1->Value()), box);
    press(form.Command1);
    QCOMPARE(folder.ini(), saved);
    // Empty lists ask for five names with "Fel" and the work goes on.
    QCOMPARE(folder.ends, n == 0 ? QList<int>{} : QList<int>{0});
    QCOMPARE(folder.messages.size(), n == 0 ? 1 : 0);
    QVERIFY(folder.reports.isEmpty());
}

void TestEditor::sideGestures_data()
{
    QTest::addColumn<int>("which");
    QTest::addColumn<QString>("gestures"); // as sideGestures() reads them
    QTest::addColumn<QString>("file");     // the file the gestures pick
    QTest::addColumn<QString>("after");    // the chosen list after: rows kept, "+" the file
    QTest::addColumn<qint16>("mode");
    QTest::addColumn<QString>("damage"); // "entry/KIND": third in its list, "file/KIND": unlisted,
                                         // each made as KIND says
    QTest::addColumn<QString>("broken"); // the damaged file's name
    const qint16 add = editor::AddMode;
    const qint16 idle = editor::IdleMode;
    for (int which = 0; which < 2; ++which) {
        const char *s = which == 0 ? "signs" : "pictures";
        const QString fresh = which == 0 ? "ny.avi" : "ny.gif";
        auto row = [&](const char *what, const QString &gestures, const QString &file,
                       const char *after, qint16 mode) {
            QTest::addRow("%s: %s", s, what) << which << QString(gestures).replace("%1", file)
                                             << file << after << mode << QString() << QString();
        };
        row("a new name joins four", "entry4 press file:%1 press", fresh, "0123+", add);
        row("a second press adds nothing more", "entry4 press file:%1 press press", fresh, "0123+",
            add);
        row("a name already listed is refused", "entry4 press file:%1 press",
            which == 0 ? ExerciseFolder::sign(1) : ExerciseFolder::picture(1), "0123", add);
        row("a name differing only in case is new", "entry4 press file:%1 press",
            which == 0 ? "Tecken1.avi" : "Bild1.bmp", "0123+", add);
        row("a full list refuses a new name", "file:%1 press", fresh, "01234", add);
        // The sign side adds the name its label shows, the picture side the file selected now.
        row("a file selected without a click",
            "entry0 press file:" + fresh + " quiet:" + (which == 0 ? "Tecken1.avi" : "Bild1.bmp") +
                " press",
            which == 0 ? fresh : "Bild1.bmp", "1234+", add);
        row("entry, then file: the file is added", "entry4 press entry1 file:%1 press", fresh,
            "0123+", add);
        row("file, then entry: the entry is removed", "entry4 press file:%1 entry1 press", fresh,
            "023", idle);
        row("the first entry is removed", "entry0 press", "", "1234", idle);
        row("a second press after a removal does nothing", "entry2 press press", "", "0134", idle);
        row("the last entry is removed, once", "entry4 press press", "", "0123", idle);
        row("the button does nothing right after start-up", "press", "", "01234", idle);
        row("a list click with nothing selected does nothing", "click press", "", "01234", idle);
        for (const QString gesture : {"ctrl-click", "ctrl-space", "right-click"}) {
            row(qPrintable(gesture + " takes the file's selection away"),
                "entry4 press file:%1 " + gesture + " press", fresh, "0123", idle);
            row(qPrintable(gesture + " takes the entry's selection away"),
                "entry4 press entry1 " + gesture + " press", "", "0123", idle);
        }
    }
    // A file that cannot be shown says so in the preview's place: the work stays, a chosen entry
    // can still be taken out, a file is never armed for adding, and the next good file is.
    auto broken = [](int which, const char *what, const QString &damage, const QString &name) {
        const QString fresh = which == 0 ? "ny.avi" : "ny.gif";
        const bool entry = damage.startsWith("entry/");
        const QString gestures =
            entry ? QStringLiteral("entry2 problem ") + (name.isEmpty() ? "spara " : "") + "press"
                  : "entry4 press file:" + name + " problem press";
        QTest::newRow(what) << which << gestures + " file:" + fresh + " press" << fresh
                            << (entry ? "0134+" : "0123+") << editor::AddMode << damage << name;
    };
    broken(0, "signs: chosen file is gone", "entry/gone", "tecken3.avi");
    broken(1, "pictures: chosen file is gone", "entry/gone", "bild3.bmp");
    broken(0, "signs: chosen file is a FIFO", "entry/fifo", "tecken3.avi");
    broken(0, "signs: chosen file is a link to a FIFO", "entry/link to fifo", "tecken3.avi");
    broken(1, "pictures: chosen file is noise", "entry/noise", "bild3.bmp");
    broken(1, "pictures: empty name read from pirvel.ini, Spara asks for five", "entry/", "");
    broken(0, "signs: noise named .mov in the file list", "file/noise", "brus.mov");
    broken(1, "pictures: unreadable picture in the file list", "file/noise", "brus.jpg");
    broken(1, "pictures: progressive JPEG of 2 KB declaring 20000 x 20000", "entry/claims",
           "jatte.jpg");
    broken(1, "pictures: an iPhone's HEIC photo", "file/heic", "IMG_0001.HEIC");
    broken(1, "pictures: a HEIC photo named .jpg", "file/heic", "foto.jpg");
    broken(0, "signs: a letter pirvel.ini cannot store", "file/noise", "Dvořák.mp4");
    broken(1, "pictures: a quote pirvel.ini cannot store", "file/noise", "\"citat\".png");
    broken(0, "signs: a name with a folder, written by hand", "entry/", "klipp/t3.avi");
    broken(1, "pictures: a name with a folder, written by hand", "entry/", "bilder/b3.jpg");
    // The files phones, cameras and screenshots make are offered and added like any other.
    auto offered = [](int which, const char *what, const char *kind, const QString &name) {
        QTest::newRow(what) << which << "entry4 press file:" + name + " press" << name << "0123+"
                            << editor::AddMode << QString("file/") + kind << name;
    };
    offered(0, "signs: a phone's .mp4", "mp4", "VID_20261207.mp4");
    offered(0, "signs: a camera's .M4V", "mp4", "KLIPP.M4V");
    offered(1, "pictures: a .png screenshot", "png", "skärmbild.png");
    offered(1, "pictures: a WebP picture", "webp", "bild.webp");
    offered(1, "pictures: a WebP picture named .jpg", "webp", "webb.jpg");
}

// Gestures on one side, in words: "entryN" picks entry N of the chosen list, "file:NAME" picks
// a file, "press" presses the side's button, "click" runs the chosen list's click handler with
// nothing selected, "quiet:NAME" moves the file list's selection without a click,
// "ctrl-click", "ctrl-space" and "right-click" (on the next row) clear the selection of the list
// picked last, "problem" looks for the preview's word on the file picked last, and "spara"
// presses "Spara". The other side never moves.
void TestEditor::sideGestures()
{
    QFETCH(int, which);
    QFETCH(QString, gestures);
    QFETCH(QString, file);
    QFETCH(QString, after);
    QFETCH(qint16, mode);
    QFETCH(QString, damage);
    QFETCH(QString, broken);
    ExerciseFolder folder(ExerciseFolder::Editor);
    const QString kind = damage.section(QLatin1Char('/'), 1);
    if (damage.startsWith(QLatin1String("entry/"))) {
        QStringList names = which == 0 ? folder.signs() : folder.pictures();
        names[2] = broken;
        QFile::remove(broken);
        QVERIFY(folder.writeFile("pirvel.ini", iniWith(which, names)));
    }
    if (kind == "noise")
        folder.writeFile(broken, noise(200 * 1024));
    else if (kind == "claims")
        folder.writeFile(broken, progressiveJpegClaiming(20000));
    else if (kind == "mp4")
        ExerciseFolder::copyClip(QStringLiteral("twocolour.mp4"), broken);
    else if (kind == "png" || kind == "webp")
        QVERIFY(QImage(QSize(40, 30), QImage::Format_RGB32).save(broken, kind.toLatin1()));
    else if (kind == "heic") {
        ExerciseFolder::makePicture(QStringLiteral("foto.png"), Qt::red);
        QCOMPARE(QProcess::execute("heif-enc", {"-q", "50", "-o", "ut.heic", "foto.png"}), 0);
        QVERIFY(QFile::rename(QStringLiteral("ut.heic"), broken));
    } else if (kind == "fifo")
        QVERIFY(::mkfifo(QFile::encodeName(broken).constData(), 0644) == 0);
    else if (kind == "link to fifo")
        QVERIFY(::mkfifo("kö", 0644) == 0 && QFile::link(QStringLiteral("kö"), broken));
    Form1 form;
    QVERIFY(load(form));
    const EditorSide s = side(form, which);
    // The file lists offer only regular files, so such a name can come from pirvel.ini alone.
    if (kind.contains("fifo"))
        QVERIFY(s.files->findItems(broken, Qt::MatchExactly).isEmpty());
    const QStringList start = entries(s.chosen);
    ListBox *last = nullptr;
    QString previewed;
    QString picked; // the last file picked
    for (const QString &g : gestures.split(QLatin1Char(' '))) {
        if (g.startsWith(QLatin1String("entry"))) {
            last = s.chosen;
            previewed = entries(last).at(g.mid(5).toInt());
            pickRow(last, g.mid(5).toInt());
        } else if (g.startsWith(QLatin1String("file:"))) {
            last = s.files;
            previewed = picked = g.mid(5);
            pick(last, picked);
        } else if (g.startsWith(QLatin1String("quiet:"))) {
            const QSignalBlocker quiet(s.files);
            s.files->setCurrentRow(entries(s.files).indexOf(g.mid(6)));
        } else if (g == "press") {
            const bool removing = *s.mode == editor::RemoveMode;
            press(s.button);
            // No entry stays selected where one was taken out.
            if (removing)
                QCOMPARE(s.chosen->ListIndex(), -1);
        } else if (g == "click") {
            emit s.chosen->Click();
        } else if (g == "spara") {
            press(form.Command1);
        } else if (g == "problem") {
            QVERIFY(form.Label4[which]->isVisible() && !form.Label4[1 - which]->isVisible());
            QVERIFY2(form.Label4[which]->text().contains(previewed) &&
                         (kind != "claims" || form.Label4[which]->text().contains("för stor")),
                     qPrintable(form.Label4[which]->text()));
            // What the file really is, or why its name cannot be kept.
            const char *why =
                kind == "heic" ? "HEIC-bild, som inte kan visas; spara den som JPEG"
                : damage == "file/noise" && broken.contains(QRegularExpression("[\"ř]"))
                    ? "som pirvel.ini inte kan spara; byt namn på filen"
                    : "";
            QVERIFY2(form.Label4[which]->text().contains(QString::fromUtf8(why)),
                     qPrintable(form.Label4[which]->text()));
        } else if (g == "ctrl-space") {
            last->setFocus();
            QTest::keyClick(last, Qt::Key_Space, Qt::ControlModifier);
        } else {
            QVERIFY2(g == "ctrl-click" || g == "right-click", qPrintable(g));
            const bool right = g == "right-click";
            const int row = right ? (last->ListIndex() + 1) % last->count() : last->ListIndex();
            QTest::mouseClick(last->viewport(), right ? Qt::RightButton : Qt::LeftButton,
                              right ? Qt::NoModifier : Qt::ControlModifier,
                              last->visualItemRect(last->item(row)).center());
        }
    }
    QStringList expected;
    for (const QChar c : after)
        expected << (c == QLatin1Char('+') ? file : start.at(c.digitValue()));
    QCOMPARE(entries(s.chosen), expected);
    QCOMPARE(int(*s.count), expected.size());
    QCOMPARE(*s.mode, mode);
    QCOMPARE(s.label->text(), mode == editor::AddMode ? picked : QString());
    QCOMPARE(form.SelectedName, picked);
    // The video preview keeps the last sign picked, a removed one too; pictures never touch it.
    QCOMPARE(form.MCIWnd1->fileName(), which == 0 ? previewed : QString());
    const EditorSide other = side(form, 1 - which);
    QCOMPARE(entries(other.chosen), which == 0 ? folder.pictures() : folder.signs());
    QCOMPARE(*other.mode, editor::IdleMode);
    QCOMPARE(other.label->text(), QString());
    QVERIFY(!form.Label4[0]->isVisible() && !form.Label4[1]->isVisible());
    QVERIFY(folder.reports.isEmpty());
    QVERIFY(folder.ends.isEmpty());
    QCOMPARE(folder.messages.size(), int(gestures.count("spara"))); // "Fel", and the work goes on
}

void TestEditor::leavingOrRefusedSaveKeepsTheFile_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<int>("which"); // the side left with four names
    QTest::newRow("Spara with four signs") << "Spara" << 0;
    QTest::newRow("Spara with four pictures") << "Spara" << 1;
    QTest::newRow("Avbryt") << "Avbryt" << 0;
    QTest::newRow("closing the window") << "close" << 1;
}

void TestEditor::leavingOrRefusedSaveKeepsTheFile()
{
    QFETCH(QString, action);
    QFETCH(int, which);
    ExerciseFolder folder(ExerciseFolder::Editor);
    const QByteArray before = folder.ini();
    const QStringList filesBefore = folder.files();
    Form1 form;
    QVERIFY(load(form));
    const EditorSide s = side(form, which);
    pickRow(s.chosen, 2);
    press(s.button);
    const QStringList four = entries(s.chosen);
    form.Check1->setValue(0);
    QPointer<Form2> backdrop = form.backdrop();
    if (action == "Avbryt") {
        press(form.Command2);
        QCOMPARE(folder.ends, QList<int>{0});
        QVERIFY(backdrop); // ending takes every window at once; no unload handler ran
    } else if (action == "close") {
        QVERIFY(form.close());
        QVERIFY(folder.ends.isEmpty());
        QVERIFY(!backdrop); // Form_Unload unloaded it
        QVERIFY(!form.isVisible());
    } else {
        press(form.Command1);
        QCOMPARE(folder.messages,
                 (QList<QPair<QString, QString>>{{"Fel", "Du måste välja 5 pirvel och 5 bilder"}}));
        QVERIFY(folder.ends.isEmpty());
        QCOMPARE(int(*s.count), 4);
        QCOMPARE(*s.mode, editor::IdleMode);
    }
    QCOMPARE(folder.ini(), before);
    QCOMPARE(folder.files(), filesBefore);
    if (action != "Spara")
        return;
    // After OK the editing goes on with what was there: fill the list again and save.
    pick(s.files, s.fresh);
    press(s.button);
    press(form.Command1);
    QCOMPARE(folder.ends, QList<int>{0});
    QCOMPARE(folder.messages.size(), 1);
    QCOMPARE(folder.ini(), iniWith(which, four + QStringList{s.fresh}, "0"));
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
    // Bit-exact, since the precision of the zoom arithmetic is the point.
    const float shown = form.MCIWnd1->zoom();
    QVERIFY2(std::memcmp(&shown, &zoom, sizeof zoom) == 0, qPrintable(QString::number(shown)));
    QCOMPARE(form.MCIWnd1->width(), pixels);
    QVERIFY(form.MCIWnd1->geometry().bottom() < form.Picture1->y());
    QCOMPARE(form.MCIWnd1->pos(), place);
    QVERIFY(form.MCIWnd1->isPlaying() || form.MCIWnd1->currentFrame().width() > 0);
    QCOMPARE(form.Label3[0]->text(), file);
    QVERIFY(folder.reports.isEmpty());
}

// The picture side shows its picture, and keeps it when its entry is taken out; the sign side
// stays as it was.
void TestEditor::picturePreviewFollowsTheLastPick()
{
    ExerciseFolder folder(ExerciseFolder::Editor);
    Form1 form;
    QVERIFY(load(form));
    pick(form.File1, QStringLiteral("ny.avi"));
    const QImage placeholder = form.Image1->pixmap().toImage();
    pick(form.File2, ExerciseFolder::picture(3));
    QVERIFY(nearColour(middleColour(form.Image1->pixmap().toImage()), ExerciseFolder::colour(3)));
    pickRow(form.List2, 1);
    QVERIFY(nearColour(middleColour(form.Image1->pixmap().toImage()), ExerciseFolder::colour(2)));
    press(form.Command4);
    QVERIFY(nearColour(middleColour(form.Image1->pixmap().toImage()), ExerciseFolder::colour(2)));
    QVERIFY(form.Image1->pixmap().toImage() != placeholder);
    QCOMPARE(form.MCIWnd1->fileName(), QStringLiteral("ny.avi"));
    QCOMPARE(form.Label3[0]->text(), QStringLiteral("ny.avi"));
    QCOMPARE(form.SignMode, editor::AddMode);
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
