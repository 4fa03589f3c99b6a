#include "tests/support/testsupport.h"

#include "common/program.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImageWriter>

SeamRecorder::SeamRecorder(const QString &programName)
{
    installDefaultProgram(programName);
    program().report = [this](const RuntimeError &e) {
        reports << e.number();
        reportTexts << reportText(e);
    };
    program().end = [this](int status) { ends << status; };
    program().information = [this](const QString &title, const QString &text) {
        messages << qMakePair(title, text);
    };
}

ExerciseFolder::ExerciseFolder(Program p, int hideFlag, const QString &firstSignClip)
    : SeamRecorder(p == Quiz ? QStringLiteral("PIRVEL") : QStringLiteral("KOLMIRAS")),
      m_previous(QDir::currentPath())
{
    QDir::setCurrent(dir.path());
    for (int pair = 1; pair <= 5; ++pair) {
        const char *clip = p == Quiz  ? "twocolour.avi"
                           : pair % 2 ? "editor/red200.avi"
                                      : "editor/green100.mov";
        copyClip(pair == 1 && !firstSignClip.isEmpty() ? firstSignClip : QString::fromLatin1(clip),
                 sign(pair));
        makePicture(picture(pair), colour(pair), pair == 3 ? QSize(200, 100) : QSize(64, 64));
    }
    if (p == Quiz) {
        copyClip(QStringLiteral("twocolour.mov"), QStringLiteral("slut.mov"));
    } else {
        copyClip(QStringLiteral("editor/red200.avi"), QStringLiteral("ny.avi"));
        copyClip(QStringLiteral("editor/green100.mov"), QStringLiteral("Tecken1.avi"));
        copyClip(QStringLiteral("editor/blue80x20.gif"), QStringLiteral("ny.gif"));
        makePicture(QStringLiteral("Bild1.bmp"), colour(6));
    }
    writeFile(QStringLiteral("pirvel.ini"), iniBytes(hideFlag));
}

QColor ExerciseFolder::colour(int pair)
{
    static const QColor colours[6] = {QColor(250, 20, 20),  QColor(20, 200, 20),
                                      QColor(20, 20, 250),  QColor(230, 230, 20),
                                      QColor(200, 20, 200), QColor(20, 200, 200)};
    return colours[pair - 1];
}

QByteArray ExerciseFolder::iniBytes(const QStringList &s, const QStringList &p,
                                    const QByteArray &flag)
{
    QByteArray b;
    for (int i = 0; i < s.size() || i < p.size(); ++i) {
        if (i < s.size())
            b += "\"" + s.at(i).toLatin1() + "\"\r\n";
        if (i < p.size())
            b += "\"" + p.at(i).toLatin1() + "\"\r\n";
    }
    return b + flag + "\r\n";
}

bool ExerciseFolder::writeFile(const QString &name, const QByteArray &bytes)
{
    QFile f(name);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

void ExerciseFolder::copyClip(const QString &fixture, const QString &name)
{
    QFile::copy(QStringLiteral(FIXTURES_DIR "/") + fixture, name);
}

void ExerciseFolder::makePicture(const QString &name, const QColor &c, QSize size)
{
    QImage img(size, QImage::Format_RGB32);
    img.fill(c);
    img.save(name);
}

bool nearColour(const QColor &a, const QColor &b, int tolerance)
{
    return qAbs(a.red() - b.red()) < tolerance && qAbs(a.green() - b.green()) < tolerance &&
           qAbs(a.blue() - b.blue()) < tolerance;
}

int pairShownIn(const QImage &image)
{
    for (int pair = 1; pair <= 5; ++pair)
        if (nearColour(middleColour(image), ExerciseFolder::colour(pair)))
            return pair;
    return 0;
}

QByteArray progressiveJpegClaiming(int side, int padding)
{
    QImage image(64, 64, QImage::Format_RGB32);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x)
            image.setPixel(x, y, qRgb(x * 4, y * 4, (x * y) & 255));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setProgressiveScanWrite(true);
    writer.write(image);
    // SOF2 holds the height, then the width, big-endian, after its length and precision.
    const qsizetype frame = bytes.indexOf(QByteArray("\xFF\xC2", 2));
    const char claimed[] = {char(side >> 8), char(side & 255)};
    for (qsizetype at : {frame + 5, frame + 7})
        bytes.replace(at, 2, claimed, 2);
    return frame < 0 ? QByteArray() : bytes + QByteArray(padding, '\0');
}

void startProgram(QProcess &p, const QString &exe, const QString &folder, bool onX,
                  const QStringList &environment)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), onX ? QStringLiteral("xcb") : "offscreen");
    // In a Wayland session the program meets what the session sets, or nothing.
    if (onX && env.contains(QStringLiteral("PIRVEL_PROGRAM_PLATFORM"))) {
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), env.value("PIRVEL_PROGRAM_PLATFORM"));
        if (env.value(QStringLiteral("QT_QPA_PLATFORM")).isEmpty())
            env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    }
    for (const QString &variable : environment)
        env.insert(variable.section(QLatin1Char('='), 0, 0), variable.section(QLatin1Char('='), 1));
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(folder);
    p.start(exe, {});
    p.waitForStarted();
}

ProgramEnd finishProgram(QProcess &p, int ms)
{
    ProgramEnd end;
    end.finished = p.waitForFinished(ms);
    if (!end.finished) {
        p.kill();
        p.waitForFinished();
    }
    end.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    end.err = QString::fromLocal8Bit(p.readAllStandardError());
    return end;
}

ProgramEnd runProgram(const QString &exe, const QString &folder, const QStringList &environment)
{
    QProcess p;
    startProgram(p, exe, folder, false, environment);
    return finishProgram(p);
}
