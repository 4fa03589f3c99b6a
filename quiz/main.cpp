#include "quiz/form1.h"

#include "common/backdrop.h"
#include "common/look.h"
#include "common/program.h"

#include <QApplication>
#include <QScreen>
#include <QStyle>
#include <QToolButton>

#include <memory>

int main(int argc, char *argv[])
{
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
