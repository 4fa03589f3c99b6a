#include "editor/form1.h"

#include "common/artwork.h"
#include "common/backdrop.h"
#include "common/exercisefile.h"
#include "common/imagebox.h"
#include "common/look.h"
#include "common/mediawindow.h"
#include "common/pairingfile.h"
#include "common/program.h"
#include "common/twips.h"
#include "editor/checkbox.h"
#include "editor/filelistbox.h"
#include "editor/listbox.h"
#include "editor/rowlabel.h"

#include <QAccessibleWidget>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFontMetrics>
#include <QFrame>
#include <QGuiApplication>
#include <QIcon>
#include <QImageReader>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

#include <cerrno>
#include <sys/stat.h>

namespace editor {

namespace {

QFont windowFont()
{
    return sansFont(8.25);
}
QFont bodyFont()
{
    return sansFont(9.75);
}
QFont headingFont()
{
    return sansFont(18, true, true);
}

QPushButton *commandButton(const QString &caption, QWidget *parent)
{
    auto *button = new QPushButton(caption, parent);
    button->setFont(bodyFont());
    // No button answers Enter or Escape on behalf of another control.
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

QLabel *label(const QString &text, const QFont &font, QWidget *parent)
{
    auto *l = new QLabel(text, parent);
    l->setTextFormat(Qt::PlainText);
    l->setFont(font);
    l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return l;
}

// What a teacher needs to hear about a file that cannot be previewed, in a few words; the
// whole report, with the folder and what to do, stays in the tooltip.
QString shortCause(const QString &name, const RuntimeError &error)
{
    if (name.isEmpty())
        return QStringLiteral("raden har inget filnamn");
    if (name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\')))
        return QStringLiteral("bara filer direkt i övningens mapp kan användas");
    // The picture loader names what a file it cannot show really is; that is the cause.
    const QString subject = QStringLiteral("%1 i mappen %2 ")
                                .arg(namedFile(name, ExerciseFileKind::Picture), exerciseFolder());
    // A picture of a kind that can be saved as another one says so.
    if (error.number() == ErrorNumber::InvalidPicture && error.text().startsWith(subject) &&
        !error.text().contains(QLatin1String(" kunde inte läsas"))) {
        const QString what = QStringLiteral("den ") + error.text().mid(subject.size()).chopped(1);
        return what.endsWith(QLatin1String("som inte kan visas"))
                   ? QStringLiteral("%1; %2").arg(what, error.nextStep())
                   : what;
    }
    switch (error.number()) {
    case ErrorNumber::FileNotFound:
        return QStringLiteral("filen finns inte i mappen");
    case ErrorNumber::PermissionDenied:
        return QStringLiteral("du får inte läsa filen");
    case ErrorNumber::PathFileAccessError:
        return QStringLiteral("det är ingen vanlig fil");
    case ErrorNumber::InvalidPicture:
        return QStringLiteral("filen är skadad eller ingen bild");
    case ErrorNumber::OutOfMemory:
        return QStringLiteral("den är för stor eller felaktig");
    case ErrorNumber::MediaError:
        return QStringLiteral("videospelaren kan inte spela den");
    default: {
        QString text = error.text();
        return text.endsWith(QLatin1Char('.')) ? text.chopped(1) : text;
    }
    }
}

// Qt shows a plain frame to a screen reader as a window's frame, and Orca, taking it for a
// window that is not the active one, then ignores the focus inside it: the check box in
// Picture1 went unread. The strip is a group of controls.
QAccessibleInterface *groupAccessible(const QString &className, QObject *object)
{
    if (className == QLatin1String("QFrame") && object->objectName() == QLatin1String("Picture1"))
        return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::Grouping);
    return nullptr;
}

// The videos the list offers, and the pictures: those in the endings phones and cameras save
// too. Pictures in a format that no installed reader takes are listed all the same, greyed.
const QStringList VideoEndings = {"avi", "mov", "mpg", "mpeg", "mp4", "m4v"};
const QStringList PictureEndings = {"bmp",  "gif",  "jpg",  "jpeg", "png",
                                    "webp", "heic", "heif", "avif"};

QString patternOf(const QStringList &endings)
{
    QStringList patterns;
    for (const QString &ending : endings)
        patterns << QStringLiteral("*.") + ending;
    return patterns.join(QLatin1Char(';'));
}

QStringList unreadablePictureEndings()
{
    const QList<QByteArray> readable = QImageReader::supportedImageFormats();
    QStringList endings;
    for (const QString &ending : PictureEndings) {
        if (!readable.contains(ending.toLatin1()))
            endings << ending;
    }
    return endings;
}

QString guidanceText(bool signs, int usable, int unusable)
{
    QString text;
    if (usable == 0)
        text = signs ? QStringLiteral("Inga videor i mappen.")
                     : QStringLiteral("Inga bilder i mappen.");
    else
        text = QStringLiteral("Bara %1 %2 i mappen.")
                   .arg(usable)
                   .arg(signs ? (usable == 1 ? "video" : "videor")
                              : (usable == 1 ? "bild" : "bilder"));
    text += signs ? QStringLiteral(" Lägg in fem teckenvideor (.mp4, .mov, .avi, .mpg) i mappen")
                  : QStringLiteral(" Lägg in fem bilder (.jpg, .png, .gif, .bmp) i mappen");
    text += QStringLiteral(" %1; de syns i listan direkt.");
    if (unusable > 0) {
        text += unusable == 1
                    ? QStringLiteral("\nEn grå fil går inte att använda: klicka på den.")
                    : QStringLiteral("\n%1 grå filer går inte att använda: klicka på dem.")
                          .arg(unusable);
    }
    return text;
}

} // namespace

Form1::Form1()
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                           Qt::MSWindowsFixedSizeDialogHint)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(
        QStringLiteral("Pirvel handledarsektion ( välj 5 pirvel och 5 tillhörande bilder )"));
    setFixedSize(twipsRect(0, 0, 9510, 6825).size());
    setFont(windowFont());
    fill(this, QPalette::Window, LightYellow);
    // The editor belongs to the quiz's kit and its desktop entry shows the quiz's icon, so the
    // window does the same.
    setWindowIcon(QIcon(QPixmap::fromImage(Artwork::quizIcon())));
    buildControls();
    // The sign side adds the name its box shows; the picture side adds the name selected in its
    // file list at the moment of the press, and leaves SelectedName as it is.
    m_sign = {.files = File1,
              .chosen = List1,
              .name = Label3[0],
              .problem = Label4[0],
              .guide = Label5[0],
              .preview = MCIWnd1,
              .place = MCIWnd1->geometry(),
              .load = [this](const QString &name) { MCIWnd1->setFileName(name); },
              .play = [this] { previewSign(); },
              .nameToAdd =
                  [this] {
                      SelectedName = Label3[0]->text();
                      return SelectedName;
                  }};
    m_picture = {.files = File2,
                 .chosen = List2,
                 .name = Label3[1],
                 .problem = Label4[1],
                 .guide = Label5[1],
                 .preview = Image1,
                 .place = Image1->geometry(),
                 .load = [this](const QString &name) { Image1->setPictureFile(name); },
                 .play = [] {},
                 .nameToAdd = [this] { return File2->FileName(); }};
    connectHandlers();
    updateGuidance();
    // No task-bar button: asked for explicitly, since a dialog window type is not enough (mutter
    // lists a dialog that stands for the whole application whatever it asks), and so the
    // window is an ordinary one of fixed size.
    keepOffTaskBar(this);
}

Form1::~Form1() = default;

void Form1::buildControls()
{
    // Controls are made in tab order so that the focus chain is right before it is set.
    File1 = new FileListBox(patternOf(VideoEndings), {}, this);
    File2 = new FileListBox(patternOf(PictureEndings), unreadablePictureEndings(), this);
    List1 = new ListBox(this);
    List2 = new ListBox(this);
    Label1[0] = new RowLabel(QStringLiteral("1 2 3 4 5 "), ListBox::RowHeight, this);
    Label1[1] = new RowLabel(QStringLiteral("1 2 3 4 5 "), ListBox::RowHeight, this);
    Command1 = commandButton(QStringLiteral("Spara"), this);
    Command2 = commandButton(QStringLiteral("Avbryt"), this);
    Label2[0] = label(QStringLiteral("P I R V E L "), headingFont(), this);
    Label2[1] = label(QStringLiteral("B I L D "), headingFont(), this);
    Picture1 = new QFrame(this);
    Check1 = new CheckBox(QStringLiteral("Göm bild vid rätt svar"), Picture1);
    MCIWnd1 = new MediaWindow(this);
    Label3[0] = label(QString(), bodyFont(), this);
    Label3[1] = label(QString(), bodyFont(), this);
    Command3 = commandButton(QStringLiteral("Lägg till/Ta bort"), this);
    Command4 = commandButton(QStringLiteral("Lägg till/Ta bort"), this);
    Image1 = new ImageBox(this);
    Label5[0] = label(QString(), windowFont(), this);
    Label5[1] = label(QString(), windowFont(), this);
    Label4[0] = label(QString(), bodyFont(), this);
    Label4[1] = label(QString(), bodyFont(), this);

    File1->setObjectName(QStringLiteral("File1"));
    File2->setObjectName(QStringLiteral("File2"));
    List1->setObjectName(QStringLiteral("List1"));
    List2->setObjectName(QStringLiteral("List2"));
    Command1->setObjectName(QStringLiteral("Command1"));
    Command2->setObjectName(QStringLiteral("Command2"));
    Command3->setObjectName(QStringLiteral("Command3"));
    Command4->setObjectName(QStringLiteral("Command4"));
    Picture1->setObjectName(QStringLiteral("Picture1"));
    Check1->setObjectName(QStringLiteral("Check1"));
    MCIWnd1->setObjectName(QStringLiteral("MCIWnd1"));
    Image1->setObjectName(QStringLiteral("Image1"));
    for (int i = 0; i < 2; ++i) {
        Label1[i]->setObjectName(QStringLiteral("Label1_%1").arg(i));
        Label2[i]->setObjectName(QStringLiteral("Label2_%1").arg(i));
        Label3[i]->setObjectName(QStringLiteral("Label3_%1").arg(i));
        Label4[i]->setObjectName(QStringLiteral("Label4_%1").arg(i));
        Label5[i]->setObjectName(QStringLiteral("Label5_%1").arg(i));
    }

    Label2[0]->setGeometry(twipsRect(1020, 210, 2670, 405));
    Label2[1]->setGeometry(twipsRect(6405, 225, 1680, 405));
    Command3->setGeometry(twipsRect(120, 720, 1815, 375));
    Label3[0]->setGeometry(twipsRect(2280, 720, 1545, 375));
    Command4->setGeometry(twipsRect(5040, 720, 1890, 375));
    Label3[1]->setGeometry(twipsRect(7320, 720, 1545, 375));
    File1->setGeometry(twipsRect(105, 1200, 1830, 4110));
    Label1[0]->setGeometry(twipsRect(2070, 1215, 270, 1275));
    List1->setGeometry(twipsRect(2280, 1200, 1575, 1230));
    File2->setGeometry(twipsRect(5040, 1185, 1950, 4110));
    Label1[1]->setGeometry(twipsRect(7110, 1215, 270, 1275));
    List2->setGeometry(twipsRect(7320, 1200, 1590, 1230));
    MCIWnd1->setGeometry(twipsRect(2040, 2520, 2055, 1935));
    Image1->setGeometry(twipsRect(7080, 2520, 1935, 1935));
    Picture1->setGeometry(twipsRect(120, 5760, 2865, 615));
    Command1->setGeometry(twipsRect(7080, 6120, 1095, 630));
    Command2->setGeometry(twipsRect(8280, 6120, 1110, 615));

    for (ListBox *list :
         {static_cast<ListBox *>(File1), static_cast<ListBox *>(File2), List1, List2})
        list->setFont(bodyFont());

    for (int i = 0; i < 2; ++i) {
        Label1[i]->setFont(bodyFont());
        fill(Label1[i], QPalette::Window, LightYellow);
        fill(Label2[i], QPalette::Window, LightYellow);
        Label3[i]->setFrameStyle(QFrame::Box | QFrame::Plain);
        Label3[i]->setLineWidth(1);
        fill(Label3[i], QPalette::Window, palette().color(QPalette::Base));
        Label4[i]->setFrameStyle(QFrame::Box | QFrame::Plain);
        Label4[i]->setLineWidth(1);
        fill(Label4[i], QPalette::Window, palette().color(QPalette::Base));
        Label4[i]->setAlignment(Qt::AlignCenter);
        Label4[i]->setWordWrap(true);
        Label4[i]->setMargin(4);
        Label4[i]->hide();
        // The numbers stand beside their list and must not cover its left border.
        Label1[i]->stackUnder(i == 0 ? List1 : List2);
        QFont plain = windowFont();
        plain.setBold(false);
        Label5[i]->setFont(plain);
        Label5[i]->setFrameStyle(QFrame::Box | QFrame::Plain);
        Label5[i]->setLineWidth(1);
        fill(Label5[i], QPalette::Window, palette().color(QPalette::Base));
        Label5[i]->setWordWrap(true);
        Label5[i]->setMargin(3);
        Label5[i]->hide();
    }
    Label4[0]->setGeometry(MCIWnd1->geometry());
    Label4[1]->setGeometry(Image1->geometry());
    Label5[0]->setGeometry(MCIWnd1->geometry());
    Label5[1]->setGeometry(Image1->geometry());

    // Positions inside a bordered box are counted from inside its border.
    Picture1->setFrameStyle(QFrame::Box | QFrame::Plain);
    Picture1->setLineWidth(1);
    fill(Picture1, QPalette::Window, palette().color(QPalette::Base));
    Picture1->setFocusPolicy(Qt::TabFocus);
    Check1->setFont(bodyFont());
    Check1->setGeometry(
        twipsRect(120, 0, 2550, 555).translated(Picture1->lineWidth(), Picture1->lineWidth()));

    Image1->setPictureImage(Artwork::ironingPicture());
    nameForScreenReaders();

    // The flat look: one dark line round each button instead of the style's raised bevel.
    setStyleSheet(QStringLiteral(
        "QPushButton { border: 1px solid palette(window-text); background: palette(button); "
        "color: palette(button-text); padding: 0px; }"
        "QPushButton:pressed { background: palette(mid); }"
        "QPushButton:focus { border: 1px solid palette(window-text); }"));

    QWidget::setTabOrder(File1, File2);
    QWidget::setTabOrder(File2, List1);
    QWidget::setTabOrder(List1, List2);
    QWidget::setTabOrder(List2, Command1);
    QWidget::setTabOrder(Command1, Command2);
    QWidget::setTabOrder(Command2, Picture1);
    QWidget::setTabOrder(Picture1, Check1);
    QWidget::setTabOrder(Check1, MCIWnd1);
    QWidget::setTabOrder(MCIWnd1, Command3);
    QWidget::setTabOrder(Command3, Command4);
}

// What a screen reader says for each control. The lists and the two sides' buttons look alike
// and are told apart only by where they stand, and the spaced-out heading letters and row
// digits would be spelled out one by one; the visible texts stay as they are.
void Form1::nameForScreenReaders()
{
    static const bool factoryInstalled = (QAccessible::installFactory(groupAccessible), true);
    Q_UNUSED(factoryInstalled);
    File1->setAccessibleName(QStringLiteral("Videor i mappen"));
    File2->setAccessibleName(QStringLiteral("Bilder i mappen"));
    List1->setAccessibleName(QStringLiteral("Tecken i övningen"));
    List2->setAccessibleName(QStringLiteral("Bilder i övningen"));
    Command3->setAccessibleName(QStringLiteral("Lägg till/Ta bort tecken"));
    Command4->setAccessibleName(QStringLiteral("Lägg till/Ta bort bild"));
    Label2[0]->setAccessibleName(QStringLiteral("Tecken"));
    Label2[1]->setAccessibleName(QStringLiteral("Bild"));
    for (RowLabel *rows : Label1)
        rows->setAccessibleName(QStringLiteral("Radnummer 1 till 5"));
    // The name boxes are read by what they show, and told apart by this.
    Label3[0]->setAccessibleDescription(QStringLiteral("Vald video"));
    Label3[1]->setAccessibleDescription(QStringLiteral("Vald bild"));
    MCIWnd1->setAccessibleName(QStringLiteral("Förhandsvisning av video"));
    Image1->setAccessibleName(QStringLiteral("Förhandsvisning av bild"));
}

void Form1::connectHandlers()
{
    // Each handler runs inside guarded(): a run-time error is reported and ends the program,
    // and no exception ever reaches Qt.
    auto on = [this](auto *sender, auto signal, void (Form1::*handler)()) {
        connect(sender, signal, this, [this, handler] { guarded([&] { (this->*handler)(); }); });
    };
    on(Command1, &QPushButton::clicked, &Form1::Command1_Click);
    on(Command2, &QPushButton::clicked, &Form1::Command2_Click);
    on(Command3, &QPushButton::clicked, &Form1::Command3_Click);
    on(Command4, &QPushButton::clicked, &Form1::Command4_Click);
    on(File1, &ListBox::Click, &Form1::File1_Click);
    on(File2, &ListBox::Click, &Form1::File2_Click);
    on(List1, &ListBox::Click, &Form1::List1_Click);
    on(List2, &ListBox::Click, &Form1::List2_Click);
    for (ListBox *list :
         {static_cast<ListBox *>(File1), static_cast<ListBox *>(File2), List1, List2})
        connect(list, &QListWidget::itemSelectionChanged, this,
                [this] { guarded([this] { followSelection(); }); });
    for (FileListBox *files : {File1, File2})
        connect(files, &FileListBox::folderChanged, this, &Form1::updateGuidance);
}

void Form1::updateGuidance()
{
    for (Side *side : {&m_sign, &m_picture}) {
        const int usable = side->files->usableCount();
        // Once the teacher has previewed something on a side, its place is the preview's.
        if (usable >= 5 || side->previews > 0) {
            side->guide->hide();
            continue;
        }
        QLabel *guide = side->guide;
        const int width = guide->contentsRect().width() - 2 * guide->margin();
        const QString folder = guide->fontMetrics().elidedText(
            QStringLiteral("\"%1\"").arg(QDir::current().dirName()), Qt::ElideMiddle, width);
        guide->setText(
            guidanceText(side == &m_sign, usable, side->files->count() - usable).arg(folder));
        guide->setToolTip(QDir::currentPath());
        guide->show();
    }
}

void Form1::showCentred()
{
    show();
    // The frame is known only once the window is shown; centring the frame, not the client
    // area, puts the window where the eye expects it.
    if (QScreen *screen = QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    activateWindow();
    File1->setFocus(Qt::OtherFocusReason);
}

void Form1::closeEvent(QCloseEvent *event)
{
    qint16 cancel = 0;
    guarded([&] { Form_Unload(cancel); });
    if (cancel)
        event->ignore();
    else
        event->accept();
}

void Form1::Form_Load()
{
    m_backdrop = std::make_unique<Form2>();
    m_backdrop->showBackdrop(this);
    LoadPairingFile();
    // Five names each from a pairing file, none for a new exercise.
    SignCount = qint16(List1->ListCount());
    PictureCount = qint16(List2->ListCount());
    SignMode = IdleMode;
    PictureMode = IdleMode;
}

void Form1::LoadPairingFile()
{
    // A folder with no pirvel.ini at all is a new exercise: the lists start empty, the box
    // clear, and "Spara" makes the file. Anything else that stops the read, a dangling link
    // included (it says where the exercise should be), is reported as before, so that a
    // damaged or out-of-reach exercise is never replaced unawares.
    struct stat entry;
    if (::lstat(QFile::encodeName(PairingFileName).constData(), &entry) != 0 && errno == ENOENT) {
        Check1->setValue(0);
        m_pairingFile = {};
        return;
    }
    SequentialInput file(PairingFileName);
    m_pairingFile = file.state();
    // A name that reaches into a folder is kept as written: it shows as a row that cannot be
    // previewed and can be taken out, so such a file is mended here rather than refused.
    for (int pair = 1; pair <= 5; ++pair) {
        List1->AddItem(file.readStringAsWritten());
        List2->AddItem(file.readStringAsWritten());
    }
    Check1->setValue(file.readInteger());
    file.close();
}

void Form1::Form_Unload(qint16 &Cancel)
{
    Q_UNUSED(Cancel);
    m_backdrop.reset();
}

void Form1::Command1_Click()
{
    // A row without a name, read from a damaged file, is not a choice: it is asked for like a
    // missing one, and the exercise is never saved with it.
    auto named = [](const ListBox *list) {
        for (int i = 0; i < list->ListCount(); ++i) {
            if (list->List(i).isEmpty())
                return false;
        }
        return true;
    };
    if (SignCount == 5 && PictureCount == 5 && named(List1) && named(List2)) {
        // A save that cannot be done loses nothing: the report says why and what to do, and
        // the window stays as it is, so that "Spara" can be pressed again or "Avbryt".
        try {
            SequentialOutput file(PairingFileName);
            for (int i = 0; i <= 4; ++i) {
                file.writeString(List1->List(i));
                file.writeString(List2->List(i));
            }
            file.writeInteger(Check1->Value());
            file.commit(m_pairingFile);
        } catch (const RuntimeError &error) {
            showInformation(QStringLiteral("Fel"), error.text());
            return;
        }
        Command2_Click();
    } else {
        showInformation(QStringLiteral("Fel"),
                        QStringLiteral("Du måste välja 5 pirvel och 5 bilder"));
    }
}

void Form1::Command2_Click()
{
    endProgram(0);
}

void Form1::previewSign()
{
    MCIWnd1->setRewindSetting(0);
    MCIWnd1->setZoom(100);
    const float W = MCIWnd1->Width();
    const float H = MCIWnd1->Height();
    MCIWnd1->setZoom(fittedZoom(2500, W));
    // Fitted to the width, a portrait video would cover the check box's frame and pass the
    // window's bottom edge: it is fitted to the height free above the frame instead.
    const float room = pixelsToTwips(Picture1->y() - MCIWnd1->y());
    if (MCIWnd1->Height() > room)
        MCIWnd1->setZoom(fittedZoom(room, H));
    processPendingEvents();
    MCIWnd1->setCommand(QStringLiteral("Play"));
}

void Form1::showProblem(Side &side, const QString &name, const RuntimeError &error)
{
    showProblem(side, QStringLiteral("Kan inte visa"), name, shortCause(name, error),
                reportText(error));
}

void Form1::showProblem(Side &side, const QString &heading, const QString &name,
                        const QString &cause, const QString &detail)
{
    side.guide->hide();
    QLabel *problem = side.problem;
    // A video preview may have grown past its place with the last video; cover all of it.
    problem->setGeometry(side.place.united(side.preview->geometry()));
    const int width = problem->contentsRect().width() - 2 * problem->margin();
    const QString shownName = problem->fontMetrics().elidedText(QStringLiteral("\"%1\"").arg(name),
                                                                Qt::ElideMiddle, width);
    problem->setText(QStringLiteral("%1\n%2:\n%3.").arg(heading, shownName, cause));
    problem->setToolTip(detail);
    problem->raise();
    problem->show();
}

// A side acts only on the row the user sees selected: once the row that armed it loses its
// selection (Ctrl+click, Ctrl+Space, a right-click on another row), the side falls idle and its
// name box empties. Each click also clears the other list of its side, so that only the list
// that armed the side shows a selection.
void Form1::followSelection()
{
    for (Side *side : {&m_sign, &m_picture}) {
        if ((side->mode == AddMode && side->files->FileName() != side->name->text()) ||
            (side->mode == RemoveMode && side->chosen->ListIndex() != side->removeIndex)) {
            side->mode = IdleMode;
            side->name->clear();
        }
    }
}

void Form1::fileClicked(Side &side)
{
    const quint64 preview = ++side.previews;
    side.chosen->clearSelection();
    SelectedName = side.files->FileName();
    const QString name = SelectedName;
    const QString unstorable = FileListBox::whyNotStorable(name);
    if (!name.isEmpty() && !unstorable.isEmpty()) {
        showProblem(side, QStringLiteral("Kan inte välja"), name,
                    unstorable + QStringLiteral("; byt namn på filen"),
                    QStringLiteral("Övningen sparar sina filnamn i pirvel.ini, som bara kan "
                                   "lagra namn utan citattecken och med västeuropeiska "
                                   "bokstäver (Windows-1252)."));
        side.mode = IdleMode;
        side.name->clear();
        return;
    }
    try {
        side.load(name);
        side.guide->hide();
        side.problem->hide();
        side.name->setText(name);
        side.mode = AddMode;
        side.play();
    } catch (const RuntimeError &error) {
        if (preview != side.previews)
            return;
        showProblem(side, name, error);
        // Never armed: the editor does not add a file it could not show.
        side.mode = IdleMode;
        side.name->clear();
    }
}

void Form1::chosenClicked(Side &side)
{
    // A click that leaves nothing selected has no entry to preview or to remove.
    if (side.chosen->ListIndex() < 0)
        return;
    const quint64 preview = ++side.previews;
    side.files->clearSelection();
    ClickedIndex = qint16(side.chosen->ListIndex());
    side.removeIndex = ClickedIndex;
    const QString name = side.chosen->List(ClickedIndex);
    // Armed before the preview, so that an entry whose file is gone can still be taken out.
    side.name->setText(name);
    side.mode = RemoveMode;
    side.guide->hide();
    try {
        side.load(name);
        side.problem->hide();
        side.play();
    } catch (const RuntimeError &error) {
        if (preview == side.previews)
            showProblem(side, name, error);
    }
}

void Form1::buttonPressed(Side &side)
{
    switch (side.mode) {
    case AddMode: {
        const QString name = side.nameToAdd();
        if (name.isEmpty())
            break;
        const qint16 count = side.count;
        bool present = false;
        for (qint16 i = 0; i <= count - 1; ++i) {
            if (side.chosen->List(i) == name)
                present = true;
        }
        if (side.count < 5 && !present) {
            side.count = qint16(side.count + 1);
            side.chosen->AddItem(name);
        }
        break;
    }
    case RemoveMode:
        side.chosen->RemoveItem(side.removeIndex);
        side.count = qint16(side.count - 1);
        side.name->setText(QString());
        side.mode = IdleMode;
        break;
    default:
        break;
    }
}

void Form1::File1_Click()
{
    fileClicked(m_sign);
}

void Form1::List1_Click()
{
    chosenClicked(m_sign);
}

void Form1::Command3_Click()
{
    buttonPressed(m_sign);
}

void Form1::File2_Click()
{
    fileClicked(m_picture);
}

void Form1::List2_Click()
{
    chosenClicked(m_picture);
}

void Form1::Command4_Click()
{
    buttonPressed(m_picture);
}

} // namespace editor
