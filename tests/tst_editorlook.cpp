// The editor window as the supervisor meets it: the frame, every control inside the window and
// clear of the others, texts that fit their boxes in the fonts the window was drawn in, the
// flat look and the kit's style, the digits level with the list rows, tab order and focus, the
// file lists' contents, and which user actions raise a click.

#include "tests/editorgestures.h"

#include "common/look.h"
#include "common/mediawindow.h"
#include "editor/checkbox.h"
#include "editor/listbox.h"
#include "editor/rowlabel.h"

#include <QApplication>
#include <QCheckBox>
#include <QFontInfo>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QStyle>
#include <QToolTip>

using editor::Form1;

class TestEditorLook : public QObject
{
    Q_OBJECT

    ExerciseFolder *m_folder = nullptr;
    Form1 *m_form = nullptr;

private slots:
    void initTestCase()
    {
        MediaWindow::setAudioOutput(QStringLiteral("null"));
        useKitStyle(); // as main() does
    }

    void init()
    {
        m_folder = new ExerciseFolder(ExerciseFolder::Editor);
        m_form = new Form1;
        guarded([this] { m_form->Form_Load(); });
        QVERIFY(!program().ended);
        m_form->showCentred();
        QVERIFY(QTest::qWaitForWindowActive(m_form));
    }

    void cleanup()
    {
        delete m_form; // before its folder
        delete m_folder;
    }

    void windowAndControlsStandWhereTheyBelong()
    {
        QCOMPARE(
            m_form->windowTitle(),
            QStringLiteral("Pirvel handledarsektion ( välj 5 pirvel och 5 tillhörande bilder )"));
        QCOMPARE(m_form->size(), QSize(634, 455));
        QCOMPARE(m_form->minimumSize(), m_form->maximumSize());
        const Qt::WindowFlags flags = m_form->windowFlags();
        QCOMPARE(flags & Qt::WindowType_Mask, Qt::Window);
        QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
        QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
        // An icon of its own for the window manager's title bar and task switcher.
        QVERIFY(!m_form->windowIcon().isNull());
        QVERIFY(m_form->windowIcon().cacheKey() != QApplication::windowIcon().cacheKey());
        const QRect screen = m_form->screen()->availableGeometry();
        const QPoint off = m_form->frameGeometry().center() - screen.center();
        QVERIFY2(qAbs(off.x()) <= 1 && qAbs(off.y()) <= 1,
                 qPrintable(QString("%1 %2").arg(off.x()).arg(off.y())));

        // Every control inside the window and clear of the others, but for the digit column that
        // reaches under the left border of its list. The places where the real-display test and
        // the screenshot script click lie on the controls they are named after ("command3" on
        // Command3, "list1_row2" on List1).
        const QStringList names = {"Label2_0", "Label2_1", "Command3", "Label3_0", "Command4",
                                   "Label3_1", "File1",    "Label1_0", "List1",    "File2",
                                   "Label1_1", "List2",    "MCIWnd1",  "Image1",   "Picture1",
                                   "Command1", "Command2"};
        QList<QWidget *> controls;
        for (const QString &name : names) {
            auto *w = m_form->findChild<QWidget *>(name);
            QVERIFY2(w && w->parentWidget() == m_form && w->isVisible() && w->isEnabled() &&
                         m_form->rect().contains(w->geometry()),
                     qPrintable(name));
            controls << w;
        }
        auto ownList = [&](QWidget *a, QWidget *b) {
            return (a == m_form->Label1[0] && b == m_form->List1) ||
                   (a == m_form->Label1[1] && b == m_form->List2);
        };
        for (QWidget *a : controls)
            for (QWidget *b : controls)
                QVERIFY2(a == b || ownList(a, b) || ownList(b, a) ||
                             !a->geometry().intersects(b->geometry()),
                         qPrintable(a->objectName() + " and " + b->objectName()));
        // The check box stands in its frame, below the file lists.
        QVERIFY(m_form->Picture1->geometry().contains(
            m_form->Check1->geometry().translated(m_form->Picture1->pos())));
        QVERIFY(m_form->Check1->mapTo(m_form, QPoint()).y() > m_form->File1->geometry().bottom());

        QFile script(QStringLiteral(SOURCE_DIR "/tests/editor_xvfb.sh"));
        QVERIFY(script.open(QIODevice::ReadOnly));
        static const QRegularExpression place(
            QStringLiteral("^([a-z]+\\d)[a-z_0-9]*=\"(\\d+) (\\d+)\""));
        int checked = 0;
        for (const QByteArray &line : script.readAll().split('\n')) {
            const QRegularExpressionMatch m = place.match(QString::fromLatin1(line));
            if (!m.hasMatch())
                continue;
            const QWidget *hit = m_form->childAt(m.captured(2).toInt(), m.captured(3).toInt());
            while (hit && hit->parentWidget() != m_form)
                hit = hit->parentWidget();
            QVERIFY2(hit && !hit->objectName().compare(m.captured(1), Qt::CaseInsensitive),
                     qPrintable(QString::fromLatin1(line)));
            ++checked;
        }
        QVERIFY(checked >= 5);
    }

    // The row's name is the control's. The body font is a bold sans-serif of 9.75 pt, the headings
    // (Label2) 18 pt, italic and underlined.
    void textsFitTheirBoxes_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("Label2_0") << "P I R V E L ";
        QTest::newRow("Label2_1") << "B I L D ";
        QTest::newRow("Command3") << "Lägg till/Ta bort";
        QTest::newRow("Command4") << "Lägg till/Ta bort";
        QTest::newRow("Command1") << "Spara";
        QTest::newRow("Command2") << "Avbryt";
        QTest::newRow("Check1") << "Göm bild vid rätt svar";
        QTest::newRow("Label1_0") << "1 2 3 4 5 ";
        QTest::newRow("Label1_1") << "1 2 3 4 5 ";
        QTest::newRow("Label3_0") << "";
        QTest::newRow("Label3_1") << "";
        QTest::newRow("File1") << "";
        QTest::newRow("List2") << "";
    }

    void textsFitTheirBoxes()
    {
        QFETCH(QString, text);
        const bool heading = QByteArray(QTest::currentDataTag()).startsWith("Label2");
        auto *w = m_form->findChild<QWidget *>(QString::fromLatin1(QTest::currentDataTag()));
        QVERIFY(w);
        const QFont f = w->font();
        const QFontMetrics metrics(f);
        QRect room = w->contentsRect();
        QCOMPARE(w->property("text").toString(), text);
        if (qobject_cast<QAbstractButton *>(w)) {
            QVERIFY(!text.contains(QLatin1Char('&'))); // no access key
            if (qobject_cast<QCheckBox *>(w))          // the text stands right of the box
                room.setWidth(room.width() - w->style()->pixelMetric(QStyle::PM_IndicatorWidth));
        }
        // The text fits its box, and a list row holds a line. (A digit column's digits stand
        // level with the rows, clear of the list: rowsFillTheListsLevelWithTheDigits.)
        const int rowHeight = m_form->List1->visualItemRect(m_form->List1->item(0)).height();
        if (!qobject_cast<RowLabel *>(w)) {
            QVERIFY(metrics.horizontalAdvance(text) < room.width());
            QVERIFY(metrics.height() <= (qobject_cast<ListBox *>(w) ? rowHeight : room.height()));
        }
        const QFontInfo info(f);
        QCOMPARE(info.pixelSize(), qRound((heading ? 18 : 9.75) * 96 / 72));
        QVERIFY(info.bold());
        QCOMPARE(info.italic(), heading);
        QCOMPARE(f.underline(), heading);
        QVERIFY2(info.family().contains("Sans"), qPrintable(info.family()));
    }

    // The fill, and the flat look in the kit's style: a single dark line one pixel wide round each
    // name box and button, focused or not, and a name that sits at the top of its box.
    void flatLookInTheKitStyle()
    {
        const QColor yellow(255, 255, 128), interior = m_form->palette().color(QPalette::Base);
        m_form->Command1->setFocus();
        m_form->Label3[0]->setText(ExerciseFolder::sign(1));
        const QImage shot = m_form->grab().toImage();
        QCOMPARE(shot.pixelColor(5, 5), yellow);
        for (const char *name : {"Label2_0", "Label2_1", "Label1_0", "Label1_1"})
            QCOMPARE(shot.pixelColor(m_form->findChild<QWidget *>(name)->geometry().topLeft()),
                     yellow);
        // The lists' left borders show beside the row numbers.
        const QList<QWidget *> framed = {m_form->Label3[0], m_form->Label3[1], m_form->Picture1,
                                         m_form->Command1,  m_form->Command2,  m_form->List1,
                                         m_form->List2};
        for (QWidget *w : framed) {
            const QRect r = w->geometry();
            for (const auto &[edge, in] : {QPair{QPoint(r.left(), r.center().y()), QPoint(1, 0)},
                                           QPair{QPoint(r.center().x(), r.top()), QPoint(0, 1)}}) {
                QVERIFY2(shot.pixelColor(edge).lightness() < 80, qPrintable(w->objectName()));
                const QColor inside = shot.pixelColor(edge + in);
                QVERIFY2(qobject_cast<QPushButton *>(w) ? inside.lightness() > 180
                                                        : inside == interior,
                         qPrintable(w->objectName()));
                QCOMPARE(shot.pixelColor(edge - in), yellow);
            }
        }
        // The name sits at the top of its box: it stays where it is when the box grows.
        auto inkTop = [](const QImage &image) {
            for (int y = 1; y < image.height() - 1; ++y)
                for (int x = 1; x < image.width() - 1; ++x)
                    if (image.pixelColor(x, y).lightness() < 100)
                        return y;
            return -1;
        };
        QLabel *name = m_form->Label3[0];
        const int top = inkTop(name->grab().toImage());
        QVERIFY(top > 0);
        name->resize(name->width(), name->height() * 3);
        QCOMPARE(inkTop(name->grab().toImage()), top);

        // The real editor, on a desktop whose theme asks for another style, draws its check box
        // as this window does in the style both programs choose.
        const QString exe = QStringLiteral(KOLMIRAS_EXE);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_STYLE_OVERRIDE", "Windows");
        // The minimal platform saves each painting of a window as outputNNNN.png where it runs.
        env.insert("QT_QPA_PLATFORM", "minimal");
        env.insert("QT_DEBUG_BACKINGSTORE", "1");
        QProcess editor;
        editor.setProcessEnvironment(env);
        editor.start(exe, {});
        QImage drawn;
        auto firstDrawing = [&] { // of the main window, not of the backdrop
            for (const QString &saved : QDir().entryList({"output*.png"}, QDir::Files, QDir::Name))
                if (QImage image(saved); image.size() == m_form->size())
                    return image;
            return QImage();
        };
        QTRY_VERIFY_WITH_TIMEOUT(!(drawn = firstDrawing()).isNull(), 20000);
        editor.kill();
        editor.waitForFinished();
        const QRect box = m_form->Check1->geometry().translated(m_form->Picture1->pos());
        const QImage here = m_form->grab(box).toImage().convertToFormat(QImage::Format_RGB32);
        QCOMPARE(drawn.copy(box).convertToFormat(QImage::Format_RGB32), here);
    }

    // Five rows fill each chosen list inside its border and seventeen each file list, with no
    // scroll bar; twenty videos scroll. Digit n's ink stands level with row n of the chosen list
    // beside it, and clear of the list.
    void rowsFillTheListsLevelWithTheDigits()
    {
        for (int which = 0; which < 2; ++which) {
            const EditorSide s = side(*m_form, which);
            const int fileRow = s.files->visualItemRect(s.files->item(0)).height();
            QCOMPARE(s.files->viewport()->height(), 17 * fileRow);
            QCOMPARE(s.chosen->count(), 5);
            const int rowHeight = s.chosen->visualItemRect(s.chosen->item(0)).height();
            QCOMPARE(s.chosen->viewport()->height(), 5 * rowHeight);
            QVERIFY(!s.chosen->verticalScrollBar()->isVisible());
            RowLabel *digits = m_form->Label1[which];
            const QImage column = digits->grab().toImage();
            const int under = s.chosen->x() - digits->x(); // where the list's border begins
            QList<QPair<int, int>> runs;                   // ink rows, one run a digit
            for (int y = 0; y < column.height(); ++y) {
                bool ink = false;
                for (int x = 0; x < column.width(); ++x) {
                    const bool dark = column.pixelColor(x, y).lightness() < 100;
                    QVERIFY2(!dark || x < under, qPrintable(QString("%1 %2").arg(x).arg(y)));
                    ink = ink || dark;
                }
                if (ink && (runs.isEmpty() || runs.last().second < y - 1))
                    runs.append({y, y});
                else if (ink)
                    runs.last().second = y;
            }
            QCOMPARE(runs.size(), 5);
            for (int row = 0; row < 5; ++row) {
                const QRect r = s.chosen->visualItemRect(s.chosen->item(row));
                const int middle =
                    s.chosen->viewport()->mapTo(m_form, r.center()).y() - digits->y();
                QVERIFY2(qAbs((runs[row].first + runs[row].second) / 2 - middle) <= 2,
                         qPrintable(QString::number(row)));
            }
        }
        for (int i = 0; i < 20; ++i)
            ExerciseFolder::copyClip("editor/red200.avi",
                                     QStringLiteral("v%1.avi").arg(i, 2, 10, QChar('0')));
        m_form->File1->Refresh();
        QCOMPARE(m_form->File1->count(), 27);
        QTRY_VERIFY(m_form->File1->verticalScrollBar()->maximum() > 0);
    }

    void keysAndClicksOnTheControls()
    {
        QCOMPARE(QApplication::focusWidget(), m_form->File1);
        QStringList walked;
        QWidget *w = m_form->File1;
        do {
            walked << w->objectName();
            QTest::keyClick(w, Qt::Key_Tab);
            w = QApplication::focusWidget();
        } while (w && w != m_form->File1 && walked.size() < 20);
        walked.removeAll(QStringLiteral("MCIWnd1")); // may or may not take the focus
        QCOMPARE(walked, (QStringList{"File1", "File2", "List1", "List2", "Command1", "Command2",
                                      "Picture1", "Check1", "Command3", "Command4"}));
        // Enter and Escape click no button.
        for (QPushButton *b : m_form->findChildren<QPushButton *>())
            QVERIFY2(!b->autoDefault() && !b->isDefault(), qPrintable(b->objectName()));
        for (QWidget *control : QList<QWidget *>{m_form->File1, m_form->List1, m_form->Check1}) {
            control->setFocus();
            for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape})
                QTest::keyClick(control, key);
        }
        QVERIFY(m_folder->ends.isEmpty());
        QVERIFY(m_folder->messages.isEmpty());
        QVERIFY(m_form->isVisible());
        QCOMPARE(entries(m_form->List1), ExerciseFolder::signs());
        // Picks by mouse and by arrow keys raise a click.
        FileListBox *files = m_form->File2;
        pickRow(files, 2);
        QCOMPARE(m_form->Label3[1]->text(), entries(files).at(2));
        QTest::keyClick(files, Qt::Key_Down);
        QCOMPARE(m_form->Label3[1]->text(), entries(files).at(3));
        QTest::keyClick(files, Qt::Key_Up);
        QTest::keyClick(files, Qt::Key_Up);
        QCOMPARE(m_form->Label3[1]->text(), entries(files).at(1));
        // A pick of the entry already selected previews it again.
        m_form->Label3[1]->clear();
        pickRow(files, 1);
        QCOMPARE(m_form->Label3[1]->text(), entries(files).at(1));
        // The chosen lists raise it as well, for keys too.
        pickRow(m_form->List2, 0);
        QTest::keyClick(m_form->List2, Qt::Key_Down);
        QCOMPARE(m_form->PictureRemoveIndex, qint16(1));
        QCOMPARE(m_form->Label3[1]->text(), ExerciseFolder::picture(2));
        // A key that moves nothing raises nothing.
        m_form->Label3[1]->clear();
        QTest::keyClick(m_form->List2, Qt::Key_Right);
        QCOMPARE(m_form->Label3[1]->text(), QString());
        QVERIFY(m_folder->reports.isEmpty());
        // A user's clicks toggle the box between clear and ticked, from grey too.
        m_form->Check1->setValue(2);
        QList<int> seen;
        for (int i = 0; i < 3; ++i) {
            QTest::mouseClick(m_form->Check1, Qt::LeftButton, {},
                              QPoint(8, m_form->Check1->height() / 2));
            seen << m_form->Check1->Value();
        }
        QCOMPARE(seen, (QList<int>{1, 0, 1}));
    }

    void fileListContents_data()
    {
        QTest::addColumn<QStringList>("extra"); // names ending in "/" are folders
        QTest::addColumn<QStringList>("videos");
        QTest::addColumn<QStringList>("pictures");
        QTest::addColumn<QStringList>("greyed"); // listed, but cannot be chosen
        const QStringList v = {"ny.avi",      "Tecken1.avi", "tecken1.avi", "tecken2.avi",
                               "tecken3.avi", "tecken4.avi", "tecken5.avi"};
        const QStringList p = {"Bild1.bmp", "bild1.bmp", "bild2.jpg", "bild3.bmp",
                               "bild4.jpg", "bild5.bmp", "ny.gif"};
        QTest::newRow("every pattern, any letter case, alphabetical")
            << QStringList{"A.MPG", "b.Mpeg", "c.MOV", "D.JPEG", "e.GIF",  "f.Jpg",
                           "g.MP4", "h.m4v",  "i.PNG", "j.webp", "k.HEIC", "l.avif"}
            << QStringList{"A.MPG", "b.Mpeg", "c.MOV", "g.MP4", "h.m4v"} + v
            << p.first(6) + QStringList{"D.JPEG", "e.GIF",  "f.Jpg",  "i.PNG",
                                        "j.webp", "k.HEIC", "l.avif", "ny.gif"}
            << QStringList{"k.HEIC", "l.avif"};
        QTest::newRow("other extensions, hidden files and folders stay out")
            << QStringList{"x.wmv",     "x.avi.bak", "x.txt",      ".dold.avi",
                           ".dold.gif", "mapp.avi/", "bilder.jpg/"}
            << v << p << QStringList();
        const QStringList unstorable = {"citat\".avi",     "rad\nbrytning.avi",
                                        "vagn\rretur.gif", "日本.avi",
                                        "ω.jpg",           "snett\\streck.png"};
        QTest::newRow("names the pairing file cannot store are listed greyed")
            << unstorable + QStringList{"snö på ängen.avi", "café, nr 2.gif"}
            << QStringList{"citat\".avi", "ny.avi", "rad\nbrytning.avi", "snö på ängen.avi"} +
                   v.mid(1) + QStringList{"日本.avi"}
            << p.first(6) + QStringList{"café, nr 2.gif", "ny.gif", "snett\\streck.png",
                                        "vagn\rretur.gif", "ω.jpg"}
            << unstorable;
    }

    void fileListContents()
    {
        QFETCH(QStringList, extra);
        QFETCH(QStringList, videos);
        QFETCH(QStringList, pictures);
        QFETCH(QStringList, greyed);
        for (const QString &name : extra)
            QVERIFY(name.endsWith(QLatin1Char('/')) ? QDir().mkdir(name.chopped(1))
                                                    : ExerciseFolder::writeFile(name, "x"));
        // The lists are made with the window, in the folder current at that moment.
        Form1 form;
        QCOMPARE(entries(form.File1), videos);
        QCOMPARE(entries(form.File2), pictures);
        QStringList grey;
        for (FileListBox *files : {form.File1, form.File2}) {
            for (int i = 0; i < files->count(); ++i) {
                if (!files->isUsable(i)) {
                    grey << files->item(i)->text();
                    QCOMPARE(files->item(i)->foreground().color(),
                             files->palette().color(QPalette::Disabled, QPalette::Text));
                }
            }
        }
        std::sort(grey.begin(), grey.end());
        std::sort(greyed.begin(), greyed.end());
        QCOMPARE(grey, greyed);
    }

    // An empty folder offers nothing to pick and says what to put in it; the lists follow the
    // folder while the window is open, and a side armed with a file that goes falls idle.
    void emptyFolderGuidesAndFollowsTheFolder()
    {
        QTemporaryDir empty;
        QDir::setCurrent(empty.path());
        Form1 form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QCOMPARE(form.File1->count(), 0);
        QCOMPARE(form.File2->count(), 0);
        QTest::mouseClick(form.File1->viewport(), Qt::LeftButton, {}, QPoint(20, 8));
        QTest::keyClick(form.File2, Qt::Key_Down);
        QCOMPARE(form.SignMode, qint16(0));
        QCOMPARE(form.Label3[0]->text(), QString());
        QCOMPARE(form.Label3[1]->text(), QString());
        QCOMPARE(form.MCIWnd1->fileName(), QString());
        auto guide = [&](int which) {
            return form.Label5[which]->isVisible() ? form.Label5[which]->text() : QString();
        };
        QVERIFY2(guide(0).startsWith("Inga videor i mappen.") && guide(0).contains(".mp4"),
                 qPrintable(guide(0)));
        QVERIFY2(guide(1).startsWith("Inga bilder i mappen.") && guide(1).contains(".png"),
                 qPrintable(guide(1)));
        for (int i = 1; i <= 5; ++i)
            ExerciseFolder::copyClip("editor/red200.avi", QStringLiteral("t%1.avi").arg(i));
        ExerciseFolder::makePicture("a.png", Qt::red);
        ExerciseFolder::writeFile("b.heic", "x");
        QTRY_COMPARE(entries(form.File1).size(), 5);
        QTRY_COMPARE(entries(form.File2), (QStringList{"a.png", "b.heic"}));
        QCOMPARE(guide(0), QString());
        QVERIFY2(guide(1).startsWith("Bara 1 bild i mappen.") && guide(1).contains("En grå fil"),
                 qPrintable(guide(1)));
        pick(form.File2, "a.png");
        QCOMPARE(form.PictureMode, editor::AddMode);
        QCOMPARE(guide(1), QString());
        QVERIFY(QFile::rename("a.png", "c.png") && QFile::remove("t5.avi"));
        QTRY_COMPARE(entries(form.File2), (QStringList{"b.heic", "c.png"}));
        QTRY_COMPARE(entries(form.File1).size(), 4);
        QCOMPARE(form.PictureMode, editor::IdleMode);
        QCOMPARE(form.Label3[1]->text(), QString());
        QVERIFY(m_folder->reports.isEmpty());
    }

    // A long name is cut at a list's edge, so hovering over it shows it whole.
    void hoverShowsALongNameWhole()
    {
        const QString video = QStringLiteral("sommarlägret 2026, tecknet för midsommarstång.avi");
        const QString picture = QStringLiteral("sommarlägret 2026, bild av en midsommarstång.bmp");
        const QStringList signs = QStringList{video} + ExerciseFolder::signs().mid(1);
        const QStringList pictures = QStringList{picture} + ExerciseFolder::pictures().mid(1);
        QVERIFY(m_folder->writeFile("pirvel.ini", m_folder->iniBytes(signs, pictures, "1")));
        ExerciseFolder::makePicture(picture, Qt::red);
        ExerciseFolder::copyClip("editor/red200.avi", video);
        Form1 form;
        guarded([&] { form.Form_Load(); });
        form.showCentred();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        for (ListBox *box : QList<ListBox *>{form.File1, form.File2, form.List1, form.List2}) {
            const QString name = box == form.File1 || box == form.List1 ? video : picture;
            QListWidgetItem *row = box->findItems(name, Qt::MatchExactly).value(0);
            QVERIFY2(row, qPrintable(box->objectName()));
            QVERIFY(box->fontMetrics().horizontalAdvance(name) > box->viewport()->width());
            QCOMPARE(box->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff); // cut, not scrolled
            const QPoint at = box->visualItemRect(row).center();
            QHelpEvent hover(QEvent::ToolTip, at, box->viewport()->mapToGlobal(at));
            QApplication::sendEvent(box->viewport(), &hover);
            QTRY_VERIFY(QToolTip::isVisible());
            QTRY_COMPARE(QToolTip::text(), name);
        }
    }
};

QTEST_MAIN(TestEditorLook)
#include "tst_editorlook.moc"
