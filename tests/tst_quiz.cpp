// The quiz from start-up to its end, driven in-process the way a learner drives it: the deal,
// the placement of the video, right and wrong picture clicks, clicks that wait in the queue
// while a handler yields, "PLAY", "Sluta" and closing the window.

#include "tests/support/testsupport.h"

#include "common/program.h"
#include "quiz/form1.h"

#include <QTest>

#include "common/backdrop.h"
#include "common/imagebox.h"
#include "common/mediawindow.h"
#include "quiz/gauge.h"

#include <QBuffer>
#include <QImageReader>
#include <QPainter>
#include <QPointer>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <qpa/qwindowsysteminterface.h>

#include <clocale>
#include <cstring>
#include <map>
#include <new>
#include <set>
#include <sys/stat.h>

using quiz::Form1;

class TestQuiz : public QObject
{
    Q_OBJECT

    static void start(Form1 &form)
    {
        guarded([&] { form.Form_Load(); });
        form.show();
    }
    static int rightBox(const Form1 &form) { return form.SlotOf(form.Remaining - 1); }
    static void click(Form1 &form, int box)
    {
        QTest::mouseClick(form.Image1[std::size_t(box)], Qt::LeftButton);
    }
    // A click that the window system queues, as a real one waits while a handler runs: the
    // internal waits of the media window leave it there, and it is handled at a yield point.
    static void postClick(QWidget *w)
    {
        QWidget *top = w->window();
        const QPointF local = w->mapTo(top, QRectF(w->rect()).center().toPoint());
        const QPointF global = top->mapToGlobal(local);
        using Async = QWindowSystemInterface::AsynchronousDelivery;
        for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease})
            QWindowSystemInterface::handleMouseEvent<Async>(
                top->windowHandle(), local, global,
                type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::LeftButton,
                type);
    }

private slots:
    void initTestCase() { MediaWindow::setAudioOutput(QStringLiteral("null")); }

    void startUpReadsPairsInReverseAndPlaysPairOne()
    {
        ExerciseFolder folder(ExerciseFolder::Quiz, 1);
        Form1 form;
        guarded([&] { form.Form_Load(); });
        QVERIFY2(folder.reports.isEmpty(), qPrintable(folder.reportTexts.join('\n')));
        QCOMPARE(form.MCIWnd1->fileName(), ExerciseFolder::sign(1));
        QVERIFY(form.MCIWnd1->isPlaying());

        // Pair 5 was read first: every pair's picture is in the box its slot names, and no box
        // kept the placeholder.
        std::set<int> boxes;
        for (int j = 0; j <= 4; ++j) {
            const int box = form.SlotOf(j);
            boxes.insert(box);
            QCOMPARE(pairShownIn(form.Image1[std::size_t(box)]->pixmap().toImage()), 5 - j);
        }
        QCOMPARE(boxes, (std::set<int>{0, 1, 2, 3, 4}));

        // The backdrop is up; the window itself appears only when the load handler returns.
        // Closing the window unloads the backdrop, and the program goes on to its own end.
        QPointer<Form2> backdrop = form.backdrop();
        QVERIFY(backdrop && backdrop->isVisible());
        QVERIFY(!form.isVisible());
        form.show();
        QVERIFY(form.close());
        QVERIFY(!backdrop);
        QVERIFY(folder.ends.isEmpty());
        QCOMPARE(folder.ini(), ExerciseFolder::iniBytes(1));
    }

    void startUpFailuresLeaveOnlyTheBackdrop_data()
    {
        QTest::addColumn<QString>("breakFile"); // none: the file loses its last line
        QTest::addColumn<int>("number");
        // The file's own faults are checked in tst_pairingfile; one of them here reaches the
        // report.
        QTest::newRow("ten lines") << "" << int(ErrorNumber::InputPastEndOfFile);
        QTest::newRow("picture missing") << "bild4.jpg" << int(ErrorNumber::FileNotFound);
        // Decoded side by side; the first failure in pair-index order (2 before 4) is reported.
        QTest::newRow("picture k=2 not a picture, k=4 missing")
            << "!bild3.bmp,bild1.bmp" << int(ErrorNumber::InvalidPicture);
        QTest::newRow("first sign missing") << "tecken1.avi" << int(ErrorNumber::FileNotFound);
        // "^": an iPhone's HEIC photo under the name; the report says what it is.
        QTest::newRow("a HEIC photo named .jpg")
            << "^bild4.jpg" << int(ErrorNumber::InvalidPicture);
    }
    void startUpFailuresLeaveOnlyTheBackdrop()
    {
        QFETCH(QString, breakFile);
        QFETCH(int, number);
        ExerciseFolder folder(ExerciseFolder::Quiz, 1);
        if (breakFile.isEmpty())
            QVERIFY(folder.writeFile("pirvel.ini", folder.iniBytes(1).chopped(3)));
        for (const QString &name : breakFile.split(',', Qt::SkipEmptyParts)) {
            if (name.startsWith('^')) {
                QCOMPARE(QProcess::execute("heif-enc", {"-o", "ut.heic", "bild2.jpg"}), 0);
                QVERIFY(QFile::remove(name.mid(1)) && QFile::rename("ut.heic", name.mid(1)));
                continue;
            }
            QVERIFY(name.startsWith('!') ? folder.writeFile(name.mid(1), "this is not a picture")
                                         : QFile::remove(name));
        }
        Form1 form;
        guarded([&] { form.Form_Load(); });
        QCOMPARE(folder.reports, QList<int>{number});
        if (!breakFile.isEmpty())
            QVERIFY2(folder.reportTexts[0].contains(
                         breakFile.section(',', 0, 0).remove('!').remove('^')),
                     qPrintable(folder.reportTexts[0]));
        if (breakFile.startsWith('^'))
            QVERIFY2(
                folder.reportTexts[0].contains("är en HEIC-bild, som inte kan visas. Be din lärare "
                                               "spara den som JPEG."),
                qPrintable(folder.reportTexts[0]));
        QCOMPARE(folder.ends, QList<int>{1});
        QVERIFY(form.backdrop() && form.backdrop()->isVisible());
        QVERIFY(!form.isVisible());
        QVERIFY(!form.MCIWnd1->isPlaying());
    }

    // A large photo's reduced copy in the desktop's cache serves the next start; whatever the
    // cache holds, the picture shown is the file's own as it is now, and never an error.
    void pictureCache_data()
    {
        QTest::addColumn<QString>("change"); // what happens between the first load and the next
        QTest::addColumn<bool>("fromCache"); // the next load shows the cache's copy
        QTest::newRow("cache hit") << "" << true;
        QTest::newRow("no XDG_CACHE_HOME: the home's .cache") << "no xdg" << true;
        QTest::newRow("photo turned by its EXIF orientation") << "turned" << true;
        QTest::newRow("stale entry: the file's time changed") << "touch" << false;
        QTest::newRow("file replaced by another, same time") << "replace" << false;
        QTest::newRow("corrupt PNG in the cache") << "corrupt" << false;
        QTest::newRow("cache folder cannot be written") << "unwritable" << false;
    }
    void pictureCache()
    {
        QFETCH(QString, change);
        QFETCH(bool, fromCache);
        const ExerciseFolder folder(ExerciseFolder::Quiz);
        const QByteArray xdg = qgetenv("XDG_CACHE_HOME"), home = qgetenv("HOME");
        const auto restore = qScopeGuard([&] {
            xdg.isNull() ? qunsetenv("XDG_CACHE_HOME") : qputenv("XDG_CACHE_HOME", xdg);
            qputenv("HOME", home);
        });
        QString cache = folder.dir.filePath("cache");
        qputenv("XDG_CACHE_HOME", QFile::encodeName(cache));
        if (change == "no xdg") {
            qunsetenv("XDG_CACHE_HOME");
            qputenv("HOME", QFile::encodeName(folder.dir.path()));
            cache = folder.dir.filePath(".cache");
        } else if (change == "unwritable") {
            QVERIFY(QDir().mkdir(cache) && folder.writeFile(cache + "/thumbnails", "no folder"));
        }
        // 2400 x 1800, in two halves; turned, the left half is the top one. Large enough to be
        // read at an eighth of its size, as a phone's photo is.
        QImage photo(2400, 1800, QImage::Format_RGB32);
        photo.fill(ExerciseFolder::colour(1));
        QPainter(&photo).fillRect(1200, 0, 1200, 1800, ExerciseFolder::colour(3));
        QByteArray jpeg;
        QBuffer buffer(&jpeg);
        buffer.open(QIODevice::WriteOnly);
        photo.save(&buffer, "JPEG");
        if (change == "turned") // an EXIF block whose orientation 6 turns it clockwise
            jpeg.insert(2,
                        QByteArray("\xFF\xE1\0\x22"
                                   "Exif\0\0MM\0\x2A\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0\x06"
                                   "\0\0\0\0\0\0",
                                   36));
        QVERIFY(folder.writeFile("foto.jpg", jpeg));
        const QSize box(137, 137);
        auto halves = [&](const QImage &image, int top, int bottom) {
            const bool turned = change == "turned";
            const QPoint first = turned ? QPoint(image.width() / 2, image.height() / 5)
                                        : QPoint(image.width() / 5, image.height() / 2);
            const QPoint second = turned ? QPoint(image.width() / 2, image.height() * 4 / 5)
                                         : QPoint(image.width() * 4 / 5, image.height() / 2);
            return nearColour(image.pixelColor(first), ExerciseFolder::colour(top)) &&
                   nearColour(image.pixelColor(second), ExerciseFolder::colour(bottom));
        };
        QVERIFY(halves(loadPicture("foto.jpg", box), 1, 3));

        const QString entries = cache + "/thumbnails/large";
        const QFileInfoList made = QDir(entries).entryInfoList(QDir::Files);
        QCOMPARE(made.size(), change == "unwritable" ? 0 : 1);
        const QString entry = made.value(0).filePath();
        if (change == "turned")
            QVERIFY(halves(QImage(entry), 1, 3));
        // Private to the user, as the desktop keeps its cache.
        for (const QString &path : {cache, cache + "/thumbnails", entries, entry}) {
            struct stat st;
            if (made.isEmpty())
                break;
            QVERIFY(::stat(QFile::encodeName(path).constData(), &st) == 0);
            QCOMPARE(st.st_mode & 0777, path == entry ? 0600u : 0700u);
        }
        // The cache's copy gets colours of its own, so that a picture shown from it is told apart.
        if (!made.isEmpty()) {
            QImage marked(entry);
            QPainter(&marked).fillRect(marked.rect(), ExerciseFolder::colour(2));
            QVERIFY(marked.save(entry, "PNG"));
        }

        QFile file("foto.jpg");
        const QDateTime time = file.fileTime(QFileDevice::FileModificationTime);
        if (change == "touch")
            QVERIFY(file.open(QIODevice::Append) &&
                    file.setFileTime(time.addSecs(10), QFileDevice::FileModificationTime));
        if (change == "replace") {
            photo.fill(ExerciseFolder::colour(4));
            QVERIFY(photo.save("foto.jpg", "JPEG", 95) && file.open(QIODevice::Append) &&
                    file.setFileTime(time, QFileDevice::FileModificationTime));
        }
        file.close();
        if (change == "corrupt")
            QVERIFY(folder.writeFile(entry, "\x89PNG\r\n\x1A\n garbage"));

        const QImage shown = loadPicture("foto.jpg", box);
        QCOMPARE(shown.size(), box);
        const int now = fromCache ? 2 : change == "replace" ? 4 : 1;
        QVERIFY(halves(shown, now, fromCache || change == "replace" ? now : 3));
        // A miss leaves an entry for the file as it now is.
        if (!fromCache && !made.isEmpty())
            QVERIFY(halves(QImage(entry), now, change == "replace" ? now : 3));
    }

    // A photo read ahead, before the window exists, is shown only while its file is the one
    // that was read.
    void readAhead_data()
    {
        QTest::addColumn<bool>("replace"); // by another photo of the same name after the read
        QTest::newRow("unchanged") << false;
        QTest::newRow("replaced before its load") << true;
    }
    void readAhead()
    {
        QFETCH(bool, replace);
        const ExerciseFolder folder(ExerciseFolder::Quiz);
        const QByteArray xdg = qgetenv("XDG_CACHE_HOME");
        const auto restore = qScopeGuard(
            [&] { xdg.isNull() ? qunsetenv("XDG_CACHE_HOME") : qputenv("XDG_CACHE_HOME", xdg); });
        qputenv("XDG_CACHE_HOME", QFile::encodeName(folder.dir.filePath("cache")));
        QImage photo(2400, 1800, QImage::Format_RGB32);
        photo.fill(ExerciseFolder::colour(1));
        QVERIFY(photo.save("foto.jpg", "JPEG"));
        prefetchPictures({"foto.jpg"});
        QThread::msleep(300); // the read is long done
        if (replace) {
            photo.fill(ExerciseFolder::colour(4));
            QVERIFY(photo.save("ny.jpg", "JPEG") && QFile::remove("foto.jpg") &&
                    QFile::rename("ny.jpg", "foto.jpg"));
        }
        const QImage shown = loadPicture("foto.jpg", QSize(137, 137));
        QVERIFY(nearColour(shown.pixelColor(68, 50), ExerciseFolder::colour(replace ? 4 : 1)));
    }

    void realProgramReportsAndExits_data()
    {
        QTest::addColumn<QString>("picture"); // made a link to itself; empty: pirvel.ini cut short
        QTest::addColumn<QStringList>("environment");
        QTest::addColumn<QString>("report"); // how the report line begins
        QTest::newRow("pirvel.ini cut short") << QString() << QStringList() << "Körningsfel 62";
        // The C library words this failure in English under the C locale.
        QTest::newRow("a picture linked to itself, under LANG=C")
            << ExerciseFolder::picture(2) << QStringList{"LANG=C", "LC_ALL=C"} << "Körningsfel 75";
    }
    void realProgramReportsAndExits()
    {
        QFETCH(QString, picture);
        QFETCH(QStringList, environment);
        QFETCH(QString, report);
        ExerciseFolder folder(ExerciseFolder::Quiz, 1);
        if (picture.isEmpty())
            QVERIFY(folder.writeFile("pirvel.ini", folder.iniBytes(1).chopped(3)));
        else
            QVERIFY(QFile::remove(picture) && QFile::link(picture, picture));
        const ProgramEnd end =
            runProgram(QStringLiteral(PIRVEL_EXE), folder.dir.path(), environment);
        QVERIFY(end.finished);
        QCOMPARE(end.exitCode, 1);
        QVERIFY2(end.err.contains(QStringLiteral("PIRVEL: ") + report) &&
                     end.err.contains(picture.isEmpty() ? QStringLiteral("pirvel.ini") : picture),
                 qPrintable(end.err));
        QVERIFY2(end.err.contains(QStringLiteral("Be din lärare")), qPrintable(end.err));

        // No word of the C library's error texts, of Qt's picture reader or of an exception
        // reaches the report; names and the folder stand in quotes and are left out.
        QStringList english;
        const locale_t c = ::newlocale(LC_ALL_MASK, "C", locale_t(0));
        for (int error = 1; error < 134; ++error)
            english << QString::fromLatin1(::strerror_l(error, c));
        ::freelocale(c);
        QByteArray noPicture("not a picture");
        QBuffer buffer(&noPicture);
        QImageReader reader(&buffer);
        reader.read();
        english << reader.errorString() << QString::fromLatin1(std::bad_alloc().what());
        // Qt's own warnings on stderr are no part of the report.
        const QString line =
            QRegularExpression(QStringLiteral("^PIRVEL: .*$"), QRegularExpression::MultilineOption)
                .match(end.err)
                .captured();
        const QString told = QString(line).remove(QRegularExpression(QStringLiteral("\"[^\"]*\"")));
        const QStringList swedish{"disk", "full", "format"}; // English words that are Swedish too
        const QRegularExpression words(QStringLiteral("[A-Za-z]{3,}"));
        for (const QRegularExpressionMatch &m : words.globalMatch(english.join(' '))) {
            const QString word = m.captured().toLower();
            if (!swedish.contains(word))
                QVERIFY2(!told.contains(QRegularExpression(
                             "\\b" + word + "\\b", QRegularExpression::CaseInsensitiveOption)),
                         qPrintable(word + ": " + end.err));
        }
    }

    void shuffleDealsEveryPermutationEvenlyAndRetriesTakenSlots()
    {
        ExerciseFolder folder(ExerciseFolder::Quiz, 1);
        Form1 form;
        std::map<QString, int> perms;
        int count[5][5] = {};
        for (int n = 0; n < 6000; ++n) {
            form.ShuffleSlots();
            QString key;
            for (int j = 0; j <= 4; ++j) {
                key += QString::number(form.SlotOf(j));
                ++count[j][form.SlotOf(j)];
            }
            QCOMPARE(form.SlotOf(5), qint16(0));
            ++perms[key];
        }
        QCOMPARE(perms.size(), std::size_t(120));
        for (const auto &[perm, n] : perms)
            QVERIFY2(n > 15, qPrintable(perm));
        // 1200 expected per cell, standard deviation about 31.
        for (auto &row : count)
            for (int c : row)
                QVERIFY2(c > 1050 && c < 1350, qPrintable(QString::number(c)));

        // A draw on a taken slot is drawn again, and the top draw lands on slot 4. Draws land on
        // slots 4, 4 (taken), 0, 0 (taken), 3, 1, 1 (taken), 2.
        const QList<float> draws = {0.99999994f, 0.8f, 0.0f, 0.19999999f, 0.7f, 0.2f, 0.21f, 0.4f};
        int next = 0;
        form.Randomize = [] {};
        form.Rnd = [&] { return draws.at(next++); };
        form.ShuffleSlots();
        QCOMPARE(next, draws.size());
        const qint16 expected[5] = {1, 3, 4, 2, 0};
        for (int j = 0; j <= 4; ++j)
            QCOMPARE(form.SlotOf(j), expected[j]);
    }

    void placementFitsAndCentresTheVideo_data()
    {
        QTest::addColumn<QString>("clip");
        QTest::addColumn<float>("zoom");
        QTest::addColumn<float>("height");
        QTest::newRow("2400 twips wide is zoomed to 150") << "twocolour.avi" << 150.0f << 2700.0f;
        QTest::newRow("3600 twips wide keeps 100") << "wide.avi" << 100.0f << 2700.0f;
        // 6400 twips high if fitted to the width: the top would lie outside the window.
        QTest::newRow("portrait 90x160 fits the height above PLAY")
            << "portrait" << 145.0f << 3480.0f;
    }
    void placementFitsAndCentresTheVideo()
    {
        QFETCH(QString, clip);
        QFETCH(float, zoom);
        QFETCH(float, height);
        ExerciseFolder folder(ExerciseFolder::Quiz, 1, clip);
        if (clip == QLatin1String("portrait"))
            QCOMPARE(QProcess::execute("ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i",
                                                  "testsrc=s=90x160:d=1", ExerciseFolder::sign(1)}),
                     0);
        Form1 form;
        start(form);
        QVERIFY(folder.reports.isEmpty());
        auto check = [&] {
            QCOMPARE(form.MCIWnd1->zoom(), zoom);
            QCOMPARE(form.MCIWnd1->Height(), height);
            QVERIFY(form.MCIWnd1->Width() <= 3600.0f);
            QVERIFY(qAbs(form.MCIWnd1->Left() + form.MCIWnd1->Width() / 2 - 4320.0f) <= 15.0f);
            QCOMPARE(form.MCIWnd1->Top(), 3480.0f - form.MCIWnd1->Height()); // so 0 or more
        };
        check();
        QTest::mouseClick(form.Command3D1, Qt::LeftButton);
        check();
        QVERIFY(form.MCIWnd1->isPlaying());
        QCOMPARE(form.Remaining, qint16(5));
    }

    // Wrong pictures change nothing, not even the deal. A click that waits behind the last
    // right answer reaches its box while the closing video yields, and is ignored there.
    void wholeQuizCountsDownAndEndsAfterClosingVideo()
    {
        ExerciseFolder folder(ExerciseFolder::Quiz, 0);
        Form1 form;
        start(form);
        QList<qint16> dealt;
        for (int j = 0; j <= 5; ++j)
            dealt << form.SlotOf(j);
        for (int k = 1; k <= 4; ++k)
            click(form, (rightBox(form) + k) % 5);
        QCOMPARE(form.Remaining, qint16(5));
        QCOMPARE(form.Gauge1->value(), qint16(5));
        QCOMPARE(form.MCIWnd1->fileName(), ExerciseFolder::sign(1));
        for (int j = 0; j <= 5; ++j)
            QCOMPARE(form.SlotOf(j), dealt[j]);
        QList<int> gauge;
        QStringList played;
        while (form.Remaining > 1) {
            click(form, rightBox(form));
            gauge << form.Gauge1->value();
            played << form.MCIWnd1->fileName();
            QVERIFY(form.MCIWnd1->isPlaying());
            QVERIFY(folder.ends.isEmpty());
        }
        const int last = rightBox(form);
        int delivered = 0;
        ImageBox *other = form.Image1[std::size_t((last + 2) % 5)];
        connect(other, &ImageBox::clicked, this, [&] { ++delivered; });
        postClick(other);
        postClick(form.Image1[std::size_t(last)]);
        click(form, last);
        QCOMPARE(delivered, 1);
        gauge << form.Gauge1->value();
        played << form.MCIWnd1->fileName();

        QCOMPARE(form.Remaining, qint16(0));
        QCOMPARE(gauge, (QList<int>{4, 3, 2, 1, 0}));
        QCOMPARE(played,
                 (QStringList{ExerciseFolder::sign(2), ExerciseFolder::sign(3),
                              ExerciseFolder::sign(4), ExerciseFolder::sign(5), "slut.mov"}));
        // The end came only after the closing video reached its last (blue) frame.
        QCOMPARE(folder.ends, QList<int>{0});
        const QImage frame = form.MCIWnd1->currentFrame();
        const QColor c = frame.pixelColor(frame.width() / 2, frame.height() / 2);
        QVERIFY2(c.blue() > 150 && c.red() < 100, qPrintable(c.name()));
        QCOMPARE(form.MCIWnd1->Width(), 3600.0f);
        QCOMPARE(form.MCIWnd1->Left(), 2520.0f);
        QVERIFY(folder.reports.isEmpty());
        QCOMPARE(folder.ini(), ExerciseFolder::iniBytes(0));
    }

    void hideOnlyWhenFlagIsExactlyOne_data()
    {
        QTest::addColumn<int>("flag");
        QTest::newRow("1 hides") << 1;
        QTest::newRow("0 keeps") << 0;
        QTest::newRow("2 keeps") << 2;
        QTest::newRow("-1 keeps") << -1;
    }
    void hideOnlyWhenFlagIsExactlyOne()
    {
        QFETCH(int, flag);
        const bool hidden = flag == 1;
        ExerciseFolder folder(ExerciseFolder::Quiz, flag);
        Form1 form;
        start(form);
        QCOMPARE(int(form.HideOnCorrect), flag); // kept as read
        const int box = rightBox(form);
        ImageBox *chosen = form.Image1[std::size_t(box)];
        const QPoint middle = chosen->geometry().center();
        click(form, (box + 1) % 5); // a wrong one first: it stays
        QVERIFY(form.Image1[std::size_t((box + 1) % 5)]->isVisible());
        click(form, box);
        QCOMPARE(form.Remaining, qint16(4));
        QCOMPARE(chosen->isHidden(), hidden);
        if (hidden) {
            // Nothing is there to click any more: the window's own background takes it.
            QCOMPARE(form.childAt(middle), nullptr);
        } else {
            // Still there, and now it answers a sign it does not belong to.
            QCOMPARE(form.childAt(middle), chosen);
            click(form, box);
            QCOMPARE(form.Remaining, qint16(4));
        }
    }

    // A click that waits in the queue behind a right answer is handled at the yield before the
    // next sign plays: a picture is judged against that sign, "Sluta" ends before it plays.
    void clickWaitingBehindARightAnswer_data()
    {
        QTest::addColumn<bool>("sluta");
        QTest::newRow("the next sign's picture") << false;
        QTest::newRow("Sluta") << true;
    }
    void clickWaitingBehindARightAnswer()
    {
        QFETCH(bool, sluta);
        ExerciseFolder folder(ExerciseFolder::Quiz, 1);
        Form1 form;
        start(form);
        const int first = rightBox(form);
        postClick(sluta ? static_cast<QWidget *>(form.Command3D2)
                        : form.Image1[std::size_t(form.SlotOf(3))]);
        click(form, first);
        QCOMPARE(form.Remaining, qint16(sluta ? 4 : 3));
        QCOMPARE(folder.ends, sluta ? QList<int>{0} : QList<int>());
        QCOMPARE(form.MCIWnd1->isPlaying(), !sluta);
        if (!sluta)
            QCOMPARE(form.MCIWnd1->fileName(), ExerciseFolder::sign(3));
        QVERIFY(folder.reports.isEmpty());
    }

    // A closing video of two hours (one frame an hour): "Sluta" or closing the window while it
    // plays ends the program then, not when the video is over. Other input stays unheard.
    void leavingTheClosingVideoEndsAtOnce_data()
    {
        QTest::addColumn<bool>("closeWindow");
        QTest::newRow("Sluta") << false;
        QTest::newRow("closing the window") << true;
    }
    void leavingTheClosingVideoEndsAtOnce()
    {
        QFETCH(bool, closeWindow);
        ExerciseFolder folder(ExerciseFolder::Quiz, 0);
        QCOMPARE(QProcess::execute("ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i",
                                              "color=s=64x48:r=1/3600:d=7200", "slut.mov"}),
                 0);
        Form1 form;
        start(form);
        while (form.Remaining > 1)
            click(form, rightBox(form));
        // Once the closing video plays: a "PLAY" click, then the way out. Should that be
        // missed, the wait is given up after 20 s so that the test fails instead of hanging.
        bool posted = false, gaveUp = false;
        QTimer leave;
        connect(&leave, &QTimer::timeout, this, [&] {
            if (posted || !form.MCIWnd1->isPlaying() || form.MCIWnd1->fileName() != "slut.mov")
                return;
            posted = true;
            postClick(form.Command3D1);
            if (closeWindow)
                QWindowSystemInterface::handleCloseEvent<
                    QWindowSystemInterface::AsynchronousDelivery>(form.windowHandle());
            else
                postClick(form.Command3D2);
            QTimer::singleShot(20000, form.MCIWnd1, [&] {
                gaveUp = true;
                form.MCIWnd1->stopWaiting();
            });
        });
        leave.start(50);
        int replays = 0;
        connect(form.Command3D1, &QToolButton::clicked, this, [&] { ++replays; });
        click(form, rightBox(form));
        QVERIFY(posted);
        QCOMPARE(replays, 0);
        QVERIFY(!gaveUp);
        QCOMPARE(folder.ends, QList<int>{0});
        QCOMPARE(form.Remaining, qint16(0));
        QVERIFY(folder.reports.isEmpty());
    }

    // A file gone by the time its turn comes is reported then, and ends the program.
    void missingFileReportsWhenItsTurnComes_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("gauge");
        QTest::newRow("the next sign") << ExerciseFolder::sign(2) << 4;
        QTest::newRow("the closing video") << "slut.mov" << 0;
    }
    void missingFileReportsWhenItsTurnComes()
    {
        QFETCH(QString, name);
        QFETCH(int, gauge);
        ExerciseFolder folder(ExerciseFolder::Quiz, 1);
        Form1 form;
        start(form);
        QVERIFY(QFile::remove(name));
        while (form.Remaining > 0 && folder.ends.isEmpty())
            click(form, rightBox(form));
        QCOMPARE(int(form.Gauge1->value()), gauge);
        QCOMPARE(folder.reports.size(), 1);
        QVERIFY2(folder.reportTexts[0].contains(name), qPrintable(folder.reportTexts[0]));
        QCOMPARE(folder.ends, QList<int>{1});
    }
};

QTEST_MAIN(TestQuiz)
#include "tst_quiz.moc"
