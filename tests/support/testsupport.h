#pragma once

// What the tests share besides the X server: an exercise folder, a recorder for the program
// seam, a launcher for the real programs and a colour matcher. Each is here once, so a test
// reads as the rule it checks.

#include <QColor>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QList>
#include <QPair>
#include <QProcess>
#include <QSize>
#include <QStringList>
#include <QTemporaryDir>

// Replaces the program seam (common/program.h) for as long as it lives: reports, ends and
// "Fel" boxes are recorded instead of ending the test or waiting for a click.
struct SeamRecorder
{
    explicit SeamRecorder(const QString &programName);
    QList<int> reports;      // error numbers, in order
    QStringList reportTexts; // as the user reads them, next step included
    QList<int> ends;
    QList<QPair<QString, QString>> messages; // title, text
};

// A fresh exercise in a temporary folder, which is the working directory while it lives: five
// signs, five pictures of one flat colour each (pair 3 wider than high) and a pirvel.ini in the
// exact format the editor writes. The quiz's folder also has "slut.mov"; the editor's signs are
// 200 and 100 px wide by turns, and a few files wait there that are not chosen yet.
struct ExerciseFolder : SeamRecorder
{
    enum Program { Quiz, Editor };
    explicit ExerciseFolder(Program p, int hideFlag = 1, const QString &firstSignClip = {});
    ~ExerciseFolder() { QDir::setCurrent(m_previous); }

    static QString sign(int pair) { return QStringLiteral("tecken%1.avi").arg(pair); } // 1 to 5
    static QString picture(int pair) // .bmp and .jpg by turns
    {
        return QStringLiteral("bild%1.%2").arg(pair).arg(pair % 2 ? "bmp" : "jpg");
    }
    static QStringList signs() { return {sign(1), sign(2), sign(3), sign(4), sign(5)}; }
    static QStringList pictures()
    {
        return {picture(1), picture(2), picture(3), picture(4), picture(5)};
    }
    static QColor colour(int pair); // 1 to 5 the pairs' pictures, 6 the spare "Bild1.bmp"

    // The file as the editor writes it: sign and picture lines by turns, then the flag.
    static QByteArray iniBytes(const QStringList &s, const QStringList &p, const QByteArray &flag);
    static QByteArray iniBytes(int hideFlag = 1) // the five pairs
    {
        return iniBytes(signs(), pictures(), QByteArray::number(hideFlag));
    }
    static bool writeFile(const QString &name, const QByteArray &bytes);
    static QByteArray ini() // "<missing>" without one
    {
        QFile f(QStringLiteral("pirvel.ini"));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    static void copyClip(const QString &fixture, const QString &name); // under the fixtures
    static void makePicture(const QString &name, const QColor &c, QSize size = QSize(64, 64));
    QStringList files() const { return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden); }

    QTemporaryDir dir;

private:
    QString m_previous;
};

// Colours within `tolerance` in each channel.
bool nearColour(const QColor &a, const QColor &b, int tolerance = 40);
inline QColor middleColour(const QImage &image)
{
    return image.pixelColor(image.width() / 2, image.height() / 2);
}
// Which pair's picture an image shows, told by its middle colour; 0 when none.
int pairShownIn(const QImage &image);

// A 64 x 64 progressive JPEG whose frame header claims `side` x `side` pixels, followed by
// `padding` zero bytes: a few kilobytes that would make the decoder hold the whole picture's
// coefficients.
QByteArray progressiveJpegClaiming(int side, int padding = 0);

// The real programs. startProgram starts `exe` in `folder` on the offscreen platform, or on
// the current DISPLAY with onX (in a Wayland session: as the session starts it); finishProgram
// waits for its end (killing it after `ms`).
struct ProgramEnd
{
    bool finished = false;
    int exitCode = -1;
    QString err;
};
// `environment` adds or replaces variables ("LANG=C").
void startProgram(QProcess &p, const QString &exe, const QString &folder, bool onX = false,
                  const QStringList &environment = {});
ProgramEnd finishProgram(QProcess &p, int ms = 20000);
ProgramEnd runProgram(const QString &exe, const QString &folder,
                      const QStringList &environment = {});
