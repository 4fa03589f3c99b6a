#include "quiz/form1.h"

#include "common/artwork.h"
#include "common/backdrop.h"
#include "common/imagebox.h"
#include "common/look.h"
#include "common/mediawindow.h"
#include "common/pairingfile.h"
#include "common/program.h"
#include "common/runtimeerror.h"
#include "common/twips.h"
#include "quiz/gauge.h"
#include "quiz/scalelabel.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QFrame>
#include <QIcon>
#include <QPixmap>
#include <QToolButton>

#include <chrono>
#include <cmath>
#include <memory>
#include <random>

namespace quiz {

namespace {

// Where the media window goes before every playback: this wide, centred on this line, its
// bottom edge on the top of the "PLAY" button.
constexpr float FittedWidth = 3600.0f;
constexpr float CentreLine = 4320.0f;

QToolButton *threeDButton(QWidget *parent, const char *name, const QString &caption,
                          const QImage &picture)
{
    auto *b = new QToolButton(parent);
    b->setObjectName(QLatin1String(name));
    b->setText(caption);
    b->setAccessibleName(caption);
    b->setIcon(QIcon(QPixmap::fromImage(picture)));
    b->setIconSize(picture.size());
    b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    b->setFocusPolicy(Qt::StrongFocus);
    return b;
}

// A single dark line round a control, drawn over its outermost pixels. The media window's size
// stays the video's size times the zoom, which the placement before every playback relies on,
// and the line moves and grows with it.
class BorderLine : public QFrame
{
public:
    explicit BorderLine(QWidget *framed) : QFrame(framed)
    {
        setFrameStyle(QFrame::Box | QFrame::Plain);
        setLineWidth(1);
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setFocusPolicy(Qt::NoFocus);
        setGeometry(framed->rect());
        framed->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Resize)
            setGeometry(static_cast<QWidget *>(watched)->rect());
        return false;
    }
};

} // namespace

Form1::Form1()
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    auto engine = std::make_shared<std::mt19937>();
    Randomize = [engine] {
        engine->seed(
            std::uint32_t(std::chrono::high_resolution_clock::now().time_since_epoch().count()));
    };
    Rnd = [engine] {
        // 24 random bits: every value is exactly representable, and 1.0 can never come up.
        return float((*engine)() >> 8) * (1.0f / 16777216.0f);
    };
    buildControls();
}

Form1::~Form1() = default;

void Form1::buildControls()
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Vilket pirvel?"));
    setWindowIcon(QIcon(QPixmap::fromImage(Artwork::quizIcon())));
    setFixedSize(twipsToPixels(9510), twipsToPixels(6825));
    fill(this, QPalette::Window, LightYellow);
    setFont(sansFont(8.25));

    MCIWnd1 = new MediaWindow(this);
    MCIWnd1->setObjectName(QStringLiteral("MCIWnd1"));
    MCIWnd1->setGeometry(twipsRect(2520, 1080, 3600, 2370));
    MCIWnd1->setFocusPolicy(Qt::NoFocus);
    // Named for what it shows, never for the file it plays, which could give the answer away.
    MCIWnd1->setAccessibleName(QStringLiteral("Teckenvideon"));
    new BorderLine(MCIWnd1);

    Panel3D1 = new QFrame(this);
    Panel3D1->setObjectName(QStringLiteral("Panel3D1"));
    Panel3D1->setGeometry(twipsRect(8700, 890, 840, 5860));
    Panel3D1->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel3D1->setLineWidth(2);
    fill(Panel3D1, QPalette::Window, PanelGrey);

    Gauge1 = new Gauge(Panel3D1);
    Gauge1->setObjectName(QStringLiteral("Gauge1"));
    Gauge1->setGeometry(twipsRect(60, 75, 705, 5700));

    Command3D2 = threeDButton(this, "Command3D2", QStringLiteral("Sluta"), Artwork::stopPicture());
    Command3D2->setGeometry(twipsRect(8700, 0, 840, 900));
    Command3D2->setFont(sansFont(9.75));

    Command3D1 = threeDButton(this, "Command3D1", QStringLiteral("PLAY"), Artwork::playPicture());
    Command3D1->setGeometry(twipsRect(3120, 3480, 2430, 885));

    static constexpr int ImageLeft[5] = {240, 600, 3300, 6000, 6360};
    static constexpr int ImageTop[5] = {1320, 3960, 4560, 3960, 1320};
    const QImage placeholder = Artwork::bathtubPicture();
    for (int i = 0; i < 5; ++i) {
        Image1[std::size_t(i)] = new ImageBox(this);
        ImageBox *box = Image1[std::size_t(i)];
        box->setObjectName(QStringLiteral("Image1_%1").arg(i));
        box->setAnswerable(true);
        box->setAccessibleDescription(QStringLiteral("Bild %1 av 5").arg(i + 1));
        box->setGeometry(twipsRect(ImageLeft[i], ImageTop[i], 2055, 2055));
        box->setPictureImage(placeholder);
        connect(box, &ImageBox::clicked, this,
                [this, i] { guarded([&] { Image1_Click(qint16(i)); }); });
    }

    // The scale's digits stand one gauge step (1140 twips) apart, the first one's middle at 972
    // in the window, level with the gauge's fill lines.
    const QString scale = QStringLiteral("5        4        3        2        1        0");
    Label1 = new ScaleLabel(scale, (972.0 - 830.0) / TwipsPerPixel, 1140.0 / TwipsPerPixel, this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(twipsRect(8520, 830, 150, 5950));
    Label1->setFont(serifFont(12.75));
    Label1->setAutoFillBackground(true);

    // Stacking follows creation, so the media window is raised like the other controls above
    // the background. The buttons and, by the keyboard only, the pictures take the focus: a
    // learner without a mouse answers with the keys.
    setTabOrder(Command3D1, Command3D2);
    setTabOrder(Command3D2, Image1[0]);
    for (std::size_t i = 1; i < Image1.size(); ++i)
        setTabOrder(Image1[i - 1], Image1[i]);
    Command3D1->setFocus();

    connect(Command3D1, &QToolButton::clicked, this,
            [this] { guarded([this] { Command3D1_Click(); }); });
    connect(Command3D2, &QToolButton::clicked, this,
            [this] { guarded([this] { Command3D2_Click(); }); });
}

ImageBox *Form1::imageBox(int index) const
{
    checkIndex(index, 4);
    return Image1[std::size_t(index)];
}

void Form1::Form_Load()
{
    m_backdrop = std::make_unique<Form2>();
    m_backdrop->showBackdrop(this);
    Remaining = 5;
    Gauge1->setValue(Remaining);
    ReadPairingFile();
    // The five pictures decode on worker threads while the first sign opens. All boxes are one
    // size, so the deal need not be known yet. Each is set below in pair order, and a picture
    // that cannot be loaded is reported there, the first one in that order, before the window
    // is ever shown.
    QStringList pictureFiles;
    for (int k = 0; k <= 4; ++k)
        pictureFiles << PictureFiles(k);
    PictureDecodes pictures(pictureFiles, Image1[0]->pictureSize());
    MCIWnd1->setFileName(SignFiles(4));
    beginPlacement(true);
    fitAndPlace();
    processPendingEvents();
    ShuffleSlots();
    for (int k = 0; k <= 4; ++k) {
        imageBox(SlotOf(k))->setPictureImage(pictures.take(k));
        // A screen reader tells the pictures apart by their file's name, as a sighted learner
        // does by what they show.
        imageBox(SlotOf(k))->setAccessibleName(QFileInfo(PictureFiles(k)).completeBaseName());
    }
    processPendingEvents();
    MCIWnd1->setCommand(QStringLiteral("Play"));
}

void Form1::ReadPairingFile()
{
    qint16 j = 4;
    SequentialInput in(PairingFileName);
    for (int pair = 0; pair < 5; ++pair) {
        SignFiles(j) = in.readString();
        PictureFiles(j) = in.readString();
        j = qint16(j - 1);
    }
    HideOnCorrect = in.readInteger();
    in.close();
}

void Form1::ShuffleSlots()
{
    Randomize();
    for (int i = 0; i <= 4; ++i)
        SlotOf(i) = -1;
    for (qint16 k = 0; k <= 4; ++k) {
        for (;;) {
            const float r = Rnd();
            const double p = std::floor(double(r) * 5.0 + 1.0) - 1.0;
            const qint16 slot = qint16(p);
            if (SlotOf(slot) == -1) {
                SlotOf(slot) = k;
                break;
            }
        }
    }
}

void Form1::beginPlacement(bool eventPass)
{
    MCIWnd1->setRewindSetting(0);
    MCIWnd1->setZoom(100.0f);
    if (eventPass)
        processPendingEvents();
}

void Form1::fitAndPlace()
{
    const float w = MCIWnd1->Width();
    const float naturalHeight = MCIWnd1->Height();
    MCIWnd1->setZoom(fittedZoom(FittedWidth, w));
    float h = MCIWnd1->Height();
    const float t = pixelsToTwips(Command3D1->y());
    // A portrait sign fitted to the width would reach above the window, and the signer's face
    // and hands would be cut off: it is fitted to the height above "PLAY" instead.
    if (h > t) {
        MCIWnd1->setZoom(fittedZoom(t, naturalHeight));
        h = MCIWnd1->Height();
    }
    MCIWnd1->setTop(float(double(t) - double(h)));
    const float w2 = MCIWnd1->Width();
    MCIWnd1->setLeft(float(double(CentreLine) - double(w2) / 2.0));
}

void Form1::Command3D1_Click()
{
    beginPlacement(false);
    fitAndPlace();
    processPendingEvents();
    MCIWnd1->setCommand(QStringLiteral("Play"));
}

void Form1::Command3D2_Click()
{
    // During the closing video the program would otherwise end only once the video is over.
    MCIWnd1->stopWaiting();
    endProgram(0);
}

void Form1::Image1_Click(qint16 index)
{
    if (Remaining < 1)
        return;
    if (SlotOf(Remaining - 1) != index)
        return;
    if (HideOnCorrect == 1) {
        keepFocusOnPictures(index);
        imageBox(index)->setVisible(false);
    }
    Remaining = qint16(Remaining - 1);
    Gauge1->setValue(Remaining);
    if (Remaining < 1) {
        playClosingVideo();
        return;
    }
    MCIWnd1->setFileName(SignFiles(Remaining - 1));
    Command3D1_Click();
}

// A hidden picture would hand the focus on along the tab order, after the last picture out of
// the pictures to "PLAY", and the learner answering by the keys would have to look for them
// again. It goes to the next picture still shown instead.
void Form1::keepFocusOnPictures(int leaving)
{
    if (!imageBox(leaving)->hasFocus())
        return;
    for (int step = 1; step <= 4; ++step) {
        ImageBox *next = imageBox((leaving + step) % 5);
        if (next->isVisible()) {
            next->setFocus(Qt::OtherFocusReason);
            return;
        }
    }
}

void Form1::playClosingVideo()
{
    m_closing = true;
    MCIWnd1->setFileName(QStringLiteral("slut.mov"));
    beginPlacement(true);
    fitAndPlace();
    MCIWnd1->setRewindSetting(0);
    processPendingEvents();
    // The wait hears nothing the learner does except "Sluta" and closing the window, which end
    // the program at once instead of after the video: eventFilter() drops the rest.
    struct Leavable
    {
        Form1 *form;
        explicit Leavable(Form1 *f) : form(f)
        {
            qApp->installEventFilter(form);
            form->MCIWnd1->setWaitTakesInput(true);
        }
        ~Leavable()
        {
            form->MCIWnd1->setWaitTakesInput(false);
            qApp->removeEventFilter(form);
        }
    } leavable(this);
    MCIWnd1->setCommand(QStringLiteral("Play wait"));
    endProgram(0);
}

bool Form1::eventFilter(QObject *watched, QEvent *event)
{
    // Installed only while the closing video plays. Input reaches a window first and is then
    // passed on to the widget under it or with the focus; it is judged there.
    if (!watched->isWidgetType() || watched == Command3D2)
        return false;
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
    case QEvent::TabletMove:
    case QEvent::TabletRelease:
        return true;
    default:
        return false;
    }
}

void Form1::Form_Unload()
{
    m_backdrop.reset();
}

void Form1::closeEvent(QCloseEvent *event)
{
    guarded([this] {
        Form_Unload();
        // With the window gone nothing is left to watch the closing video in.
        if (m_closing) {
            MCIWnd1->stopWaiting();
            endProgram(0);
        }
    });
    event->accept();
}

} // namespace quiz
