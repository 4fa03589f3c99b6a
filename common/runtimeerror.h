#pragma once

#include <QByteArray>
#include <QString>
#include <exception>

// Each kind of failure keeps one fixed number (53 a missing file, 75 a path or access fault, 481
// a picture that cannot be read), so a report reads the same whichever program raised it and a
// teacher can quote it.
namespace ErrorNumber {
enum : int {
    Overflow = 6,
    OutOfMemory = 7,
    SubscriptOutOfRange = 9,
    DivisionByZero = 11,
    TypeMismatch = 13,
    FileNotFound = 53,
    InputPastEndOfFile = 62,
    PermissionDenied = 70,
    PathFileAccessError = 75,
    InvalidPropertyValue = 380,
    InvalidPicture = 481,
    MediaError = 30000,
};
}

// The one exception type of both programs. Handlers never catch it; the guard in program.h
// reports it and ends the program.
//
// The text says in plain Swedish what happened and to which file, with its folder or its line
// of pirvel.ini. The next step says what mends it, to the teacher: a phrase whose verb reads
// the same as an order and after "Be din lärare" ("kopiera bilden till mappen", "starta
// Kolmiras i mappen", "rätta raden"; never "välja" or "lägga"), since Kolmiras shows it as an
// order and Pirvel sends the child to the teacher with it (reportText in program.h). Without
// one, the fault is the program's own and the report says so.
class RuntimeError : public std::exception
{
public:
    RuntimeError(int number, QString text, QString nextStep = {});

    int number() const { return m_number; }
    const QString &text() const { return m_text; }
    const QString &nextStep() const { return m_nextStep; }
    const char *what() const noexcept override { return m_utf8.constData(); }

private:
    int m_number;
    QString m_text;
    QString m_nextStep;
    QByteArray m_utf8;
};

// Checked access to the fixed 0..5 arrays of the main windows.
void checkIndex(int index, int upper);
