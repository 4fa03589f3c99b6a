#pragma once

// An exercise folder for the quiz, made fresh for each test: five signs that are copies of the
// fixture clips, five pictures each one flat colour (so a test can tell them apart by a pixel),
// "slut.mov" and a pirvel.ini in the exact format the editor writes.

#include "form1.h"
#include "program.h"

#include <QColor>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>

struct QuizFolder
{
    QTemporaryDir dir;
    QString previous = QDir::currentPath();
    QStringList reports;
    QList<int> ends;

    static QColor pictureColour(int pair) // pair 1 to 5
    {
        static const QColor colours[5] = {QColor(250, 20, 20), QColor(20, 200, 20),
                                          QColor(20, 20, 250), QColor(230, 230, 20),
                                          QColor(200, 20, 200)};
        return colours[pair - 1];
    }
    static QString sign(int pair) { return QStringLiteral("tecken%1.avi").arg(pair); }
    static QString picture(int pair)
    {
        return QStringLiteral("bild%1.%2").arg(pair).arg(pair % 2 ? "bmp" : "jpg");
    }

    explicit QuizFolder(int hideFlag = 1, const QString &firstSignClip = "twocolour.avi")
    {
        QDir::setCurrent(dir.path());
        for (int pair = 1; pair <= 5; ++pair) {
            QFile::copy(QStringLiteral(FIXTURES_DIR "/%1")
                            .arg(pair == 1 ? firstSignClip : QStringLiteral("twocolour.avi")),
                        sign(pair));
            QImage img(pair == 3 ? QSize(200, 100) : QSize(64, 64), QImage::Format_RGB32);
            img.fill(pictureColour(pair));
            img.save(picture(pair));
        }
        QFile::copy(QStringLiteral(FIXTURES_DIR "/twocolour.mov"), QStringLiteral("slut.mov"));
        writeIni(hideFlag);

        installDefaultProgram(QStringLiteral("PIRVEL"));
        program().report = [this](const RuntimeError &e) {
            reports << QStringLiteral("%1 %2").arg(e.number()).arg(e.text());
        };
        program().end = [this](int status) { ends << status; };
    }
    ~QuizFolder() { QDir::setCurrent(previous); }

    void writeIni(int hideFlag, int lines = 11)
    {
        QByteArray b;
        for (int pair = 1; pair <= 5; ++pair)
            b += "\"" + sign(pair).toLatin1() + "\"\r\n\"" + picture(pair).toLatin1() + "\"\r\n";
        b += QByteArray::number(hideFlag) + "\r\n";
        QList<QByteArray> all = b.split('\n');
        QFile f(QStringLiteral("pirvel.ini"));
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        f.write(all.mid(0, lines).join('\n') + (lines < 11 ? "\n" : ""));
    }

    QByteArray ini() const
    {
        QFile f(QStringLiteral("pirvel.ini"));
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }
};

// Which pair's picture a box shows, told by the colour in its middle (0 when none matches).
inline int pairShownIn(const QImage &boxImage)
{
    const QColor c = boxImage.pixelColor(boxImage.width() / 2, boxImage.height() / 2);
    for (int pair = 1; pair <= 5; ++pair) {
        const QColor want = QuizFolder::pictureColour(pair);
        if (qAbs(c.red() - want.red()) < 40 && qAbs(c.green() - want.green()) < 40 &&
            qAbs(c.blue() - want.blue()) < 40)
            return pair;
    }
    return 0;
}
