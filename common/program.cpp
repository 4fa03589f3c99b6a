#include "common/program.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMessageBox>

#include <cstdio>
#include <unistd.h>

Program &program()
{
    static Program p;
    return p;
}

// The text may quote a file's bytes: a NUL must not end the line early, and an escape
// sequence must not reach the terminal. Each control character is shown by its own symbol
// (U+2400 and on), so the whole text stays readable.
static QString visible(const QString &text)
{
    QString shown = text;
    for (QChar &c : shown) {
        if (c.unicode() < 0x20)
            c = QChar(0x2400 + c.unicode());
        else if (c.unicode() == 0x7f)
            c = QChar(0x2421);
    }
    return shown;
}

static void printLine(const QString &line)
{
    const QByteArray bytes = line.toLocal8Bit() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

static bool nobodyCanAnswer()
{
    // The offscreen platform has no screen and no user: a modal box would wait for ever.
    return QGuiApplication::platformName() == QLatin1String("offscreen");
}

void installDefaultProgram(const QString &name)
{
    Program &p = program();
    p.name = name;
    p.ended = false;
    p.exitStatus = 0;
    p.end = [](int status) {
        std::fflush(stdout);
        std::fflush(stderr);
        // At once: no destructors, no unload handlers, and the video threads go with us.
        ::_exit(status);
    };
    p.report = [](const RuntimeError &error) {
        const QString text = visible(error.text());
        printLine(QStringLiteral("%1: Körningsfel %2: %3")
                      .arg(program().name)
                      .arg(error.number())
                      .arg(text));
        if (nobodyCanAnswer() || !qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
            return;
        QMessageBox box(QMessageBox::Critical, program().name,
                        QStringLiteral("Körningsfel %1:\n\n%2\n\nProgrammet avslutas.")
                            .arg(error.number())
                            .arg(text),
                        QMessageBox::Ok);
        // A name in the text is shown as it is, never read as markup.
        box.setTextFormat(Qt::PlainText);
        box.exec();
    };
    p.information = [](const QString &title, const QString &text) {
        if (nobodyCanAnswer()) {
            printLine(QStringLiteral("%1: %2").arg(title, visible(text)));
            return;
        }
        QMessageBox box(QMessageBox::Information, title, text, QMessageBox::Ok);
        box.exec();
    };
}

void endProgram(int status)
{
    Program &p = program();
    // A program ends once: a recorded end in a test returns, and a handler that was waiting
    // when the program ended may reach its own end afterwards.
    if (p.ended)
        throw ProgramEnded{};
    p.ended = true;
    p.exitStatus = status;
    p.end(status);
    throw ProgramEnded{};
}

void processPendingEvents()
{
    if (program().ended)
        throw ProgramEnded{};
    QCoreApplication::processEvents();
    if (program().ended)
        throw ProgramEnded{};
}

void showInformation(const QString &title, const QString &text)
{
    program().information(title, text);
}

void reportAndEnd(const RuntimeError &error)
{
    program().report(error);
    endProgram(1);
}

void reportUnexpected(const char *what)
{
    reportAndEnd(RuntimeError(
        ErrorNumber::MediaError + 1,
        QStringLiteral("Ett oväntat fel inträffade: %1").arg(QString::fromLocal8Bit(what))));
}
