#include "common/program.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QMutex>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <new>
#include <thread>
#include <unistd.h>

Program &program()
{
    static Program p;
    return p;
}

// The text may quote a file's bytes: a NUL must not end the line early, and an escape
// sequence must not reach the terminal. Each control character is shown by its own symbol
// (U+2400 and on), so the whole text stays readable. The 8-bit controls (U+0080 to U+009F,
// which windows-1252 gives for its five unassigned bytes) have no symbols of their own; each
// is shown as its 7-bit equivalent, the escape symbol and a letter (U+009D, which starts a
// terminal command, as the escape symbol and "]").
static QString visible(const QString &text)
{
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20)
            shown += QChar(0x2400 + u);
        else if (u == 0x7f)
            shown += QChar(0x2421);
        else if (u >= 0x80 && u <= 0x9f)
            shown.append(QChar(0x241b)).append(QChar(u - 0x40));
        else
            shown += c;
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

// A step a user can take when the fault is the program's own.
static const QString ProgramFaultStep =
    QStringLiteral("starta programmet igen, och berätta för den som installerade det om felet "
                   "kommer tillbaka");

static QString nextStepText(const RuntimeError &error)
{
    const QString step = error.nextStep().isEmpty() ? ProgramFaultStep : error.nextStep();
    if (program().name == QLatin1String("PIRVEL"))
        return QStringLiteral("Be din lärare %1.").arg(step);
    return step.at(0).toUpper() + step.mid(1) + QLatin1Char('.');
}

QString reportText(const RuntimeError &error)
{
    return error.text() + QLatin1Char(' ') + nextStepText(error);
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
        printLine(QStringLiteral("%1: Körningsfel %2: %3")
                      .arg(program().name)
                      .arg(error.number())
                      .arg(visible(reportText(error))));
        if (nobodyCanAnswer() || !qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
            return;
        // What happened and what to do come first; the number is there for whoever is asked.
        QMessageBox box(
            QMessageBox::Critical, program().name,
            QStringLiteral("%1\n\n%2\n\nProgrammet avslutas (körningsfel %3).")
                .arg(visible(error.text()), nextStepText(error), QString::number(error.number())),
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

void reportUnexpected(const std::exception &exception)
{
    const bool memory = dynamic_cast<const std::bad_alloc *>(&exception) != nullptr;
    reportAndEnd(RuntimeError(ErrorNumber::MediaError + 1,
                              memory ? QStringLiteral("Datorns minne räckte inte till.")
                                     : QStringLiteral("Ett oväntat fel inträffade i programmet."),
                              memory ? QStringLiteral("stäng andra program och starta "
                                                      "programmet igen")
                                     : QString()));
}

namespace {

QMutex readingLock;
QString readingNow;

qint64 residentBytes(int statm)
{
    char text[128];
    const ssize_t n = ::pread(statm, text, sizeof text - 1, 0);
    long long pages = 0, resident = 0;
    if (n <= 0)
        return 0;
    text[n] = '\0';
    if (std::sscanf(text, "%lld %lld", &pages, &resident) != 2)
        return 0;
    return qint64(resident) * ::sysconf(_SC_PAGESIZE);
}

bool sanitized()
{
#if defined(__SANITIZE_ADDRESS__)
    return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    return true;
#endif
#endif
    return false;
}

} // namespace

void setReadingNow(const QString &what)
{
    const QMutexLocker lock(&readingLock);
    readingNow = what;
}

void capMemory(qint64 bytes)
{
    static bool started = false;
    if (started || sanitized())
        return;
    started = true;
    const int statm = ::open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
    if (statm < 0)
        return;
    static std::atomic<bool> reported{false};
    // Polled often enough that even a decoder filling memory as fast as it can is caught within
    // some tens of megabytes. Over the budget, the GUI thread is asked to report it as any
    // run-time error is reported; should the memory go on growing to twice the budget, or the
    // GUI thread not come to it, the report goes to stderr alone and the program ends here.
    std::thread([statm, bytes] {
        using namespace std::chrono;
        steady_clock::time_point over;
        bool asked = false;
        QByteArray line; // the report, for stderr alone
        for (;;) {
            const qint64 now = residentBytes(statm);
            if (now > bytes && !asked) {
                asked = true;
                over = steady_clock::now();
                QString what;
                {
                    const QMutexLocker lock(&readingLock);
                    what = readingNow;
                }
                const QString text =
                    what.isEmpty()
                        ? QStringLiteral("Programmet behöver mer minne än de %1 MB som det får "
                                         "använda.")
                              .arg(bytes >> 20)
                        : QStringLiteral("%1 kräver mer minne än de %2 MB som programmet får "
                                         "använda: filen är för stor eller felaktig.")
                              .arg(what, QString::number(bytes >> 20));
                const RuntimeError error(ErrorNumber::OutOfMemory, text,
                                         what.isEmpty()
                                             ? QString()
                                             : QStringLiteral("spara filen på nytt i en mindre "
                                                              "storlek, eller rätta övningen i "
                                                              "Kolmiras"));
                QMetaObject::invokeMethod(
                    QCoreApplication::instance(),
                    [error] {
                        reported = true;
                        guarded([&error] { throw error; });
                    },
                    Qt::QueuedConnection);
                line = QStringLiteral("%1: Körningsfel %2: %3\n")
                           .arg(program().name)
                           .arg(error.number())
                           .arg(visible(reportText(error)))
                           .toLocal8Bit();
            }
            if (asked &&
                (now > 2 * bytes || (!reported && steady_clock::now() - over > seconds(5)))) {
                if (!reported) {
                    [[maybe_unused]] const ssize_t n =
                        ::write(STDERR_FILENO, line.constData(), size_t(line.size()));
                }
                ::_exit(1);
            }
            std::this_thread::sleep_for(milliseconds(20));
        }
    }).detach();
}
