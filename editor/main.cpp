#include "form1.h"
#include "program.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    installDefaultProgram(QStringLiteral("KOLMIRAS"));

    // Never deleted: the program ends by _exit() or when its last window has closed.
    auto *form = new editor::Form1;
    guarded([form] { form->Form_Load(); });
    if (program().ended)
        return program().exitStatus;
    form->showCentred();
    return app.exec();
}
