#include "common/backdrop.h"
#include "common/look.h"
#include "common/program.h"
#include "editor/form1.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    chooseWindowSystem(QStringLiteral("pirvel-kolmiras"));
    QApplication app(argc, argv);
    useKitStyle();
    installDefaultProgram(QStringLiteral("KOLMIRAS"));
    capMemory();

    // Never deleted: the program ends by _exit() or when its last window has closed. Creating
    // it starts the video player, which can fail as well as the load can.
    editor::Form1 *form = nullptr;
    guarded([&form] {
        form = new editor::Form1;
        form->Form_Load();
    });
    if (program().ended)
        return program().exitStatus;
    form->showCentred();
    return app.exec();
}
