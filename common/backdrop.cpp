#include "backdrop.h"

#include <QGuiApplication>
#include <QScreen>

#include "twips.h"

Form2::Form2()
    // Qt::Tool keeps it off the task bar; it never takes the focus, so a click on it cannot
    // bring it in front of the main window.
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus)
{
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QString());
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::black);
    setPalette(pal);
    setGeometry(twipsRect(0, 0, 4680, 3195));
}

void Form2::showBackdrop()
{
    // Without a window manager a maximise request is not acted on, so take the size at once.
    if (QScreen *screen = QGuiApplication::primaryScreen())
        setGeometry(screen->geometry());
    showMaximized();
}
