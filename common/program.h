#pragma once

// How a program ends and how it speaks to the user, in one replaceable place.
//
// The handlers end the program, raise the run-time error report and show the editor's message
// box only through program(). A real run ends the process at once (no unload handler, no
// event loop), as the users expect from "Sluta", "Spara" and "Avbryt". Tests replace the
// functions with recorders; since a recorded end returns, endProgram() then throws
// ProgramEnded so that the rest of the handler does not run, just as in a real run, and
// processPendingEvents() keeps throwing it at every later yield point.

#include "common/runtimeerror.h"

#include <QString>
#include <functional>

struct Program
{
    QString name; // "PIRVEL" or "KOLMIRAS": the title of the error report
    std::function<void(int status)> end;
    std::function<void(const RuntimeError &error)> report;
    std::function<void(const QString &title, const QString &text)> information;
    bool ended = false;
    int exitStatus = 0;
};

Program &program();

// Puts the real behaviour back (used at start-up and between tests).
void installDefaultProgram(const QString &name);

struct ProgramEnded
{
};

[[noreturn]] void endProgram(int status = 0);

// The handlers' own yield points. User input waiting in the queue is handled here.
void processPendingEvents();

// A modal box with the information icon and one OK button.
void showInformation(const QString &title, const QString &text);

// The report as the user reads it: what happened, then the next step. In Pirvel a child sits
// at the screen, so the step sends the child to the teacher ("Be din lärare …"); in Kolmiras it
// is an order to the teacher.
QString reportText(const RuntimeError &error);

void reportAndEnd(const RuntimeError &error);

// The last line against an input that nobody foresaw. The checks of every file keep the memory
// of either program within MemoryBudget; should something pass them all, a watcher ends the
// program with the run-time error report (naming what was being read) once the process holds
// more, rather than let the system kill it with no word, or the machine slow to a halt. The
// budget is what the dearest ordinary recording needs with room to spare: a phone's 4K HEVC
// clip of 10 bits held upright (turned by a filter) peaks at 440 to 490 MB, 4K H.264 at about
// 300 MB. The programs' main() starts it; it does nothing in a build with AddressSanitizer,
// whose own bookkeeping takes more than the budget.
constexpr qint64 MemoryBudget = qint64(640) << 20;
void capMemory(qint64 bytes = MemoryBudget);
// What is being read now, for that report ("Videon \"x.mov\""); empty for nothing in particular.
void setReadingNow(const QString &what);
// An exception that is no RuntimeError: its own text is English and says nothing to a user,
// so the report names only the kind of failure.
void reportUnexpected(const std::exception &exception);

// Every entry point that Qt calls runs through this, so that no exception reaches Qt.
template <class F> void guarded(F &&f) noexcept
{
    try {
        f();
    } catch (const ProgramEnded &) {
    } catch (const RuntimeError &error) {
        try {
            reportAndEnd(error);
        } catch (const ProgramEnded &) {
        }
    } catch (const std::exception &e) {
        try {
            reportUnexpected(e);
        } catch (const ProgramEnded &) {
        }
    }
}
