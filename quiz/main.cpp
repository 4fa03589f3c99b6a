#include "quiz/form1.h"

#include "common/backdrop.h"
#include "common/imagebox.h"
#include "common/look.h"
#include "common/pairingfile.h"
#include "common/program.h"
#include "common/runtimeerror.h"

#include <QApplication>
#include <QScreen>
#include <QStyle>
#include <QToolButton>

#include <memory>

namespace {

// The pictures the pairing file names, or as many as it names before anything goes wrong: the
// load reads and reports the file properly.
QStringList picturesNamed()
{
    QStringList pictures;
    try {
        SequentialInput in(PairingFileName);
        for (int pair = 0; pair < 5; ++pair) {
            in.readString();
            pictures << in.readString();
        }
    } catch (const RuntimeError &) {
    }
    return pictures;
}

} // namespace

int main(int argc, char *argv[])
{
    // A teacher's photos take longer to read than all else the start does; the second core
    // starts on them while the libraries and the window system get ready on the first.
    prefetchPictures(picturesNamed());
    chooseWindowSystem(QStringLiteral("pirvel"));
    QApplication app(argc, argv);
    useKitStyle();
    installDefaultProgram(QStringLiteral("PIRVEL"));
    capMemory();

    // Creating the window starts the video player, which can fail as well as the load can.
    std::unique_ptr<quiz::Form1> form;
    guarded([&form] {
        form = std::make_unique<quiz::Form1>();
        form->Form_Load();
    });
    if (program().ended)
        return program().exitStatus;

    if (QScreen *screen = QGuiApplication::primaryScreen())
        form->setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, form->size(),
                                              screen->availableGeometry()));
    form->show();
    form->activateWindow();
    form->Command3D1->setFocus();
    return app.exec();
}
