#include "form1.h"

#include "program.h"

#include <QApplication>
#include <QScreen>
#include <QStyle>
#include <QToolButton>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    installDefaultProgram(QStringLiteral("PIRVEL"));

    quiz::Form1 form;
    guarded([&form] { form.Form_Load(); });

    if (QScreen *screen = QGuiApplication::primaryScreen())
        form.setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, form.size(),
                                             screen->availableGeometry()));
    form.show();
    form.activateWindow();
    form.Command3D1->setFocus();
    return app.exec();
}
