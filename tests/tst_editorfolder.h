#pragma once

// An exercise folder for the editor, made fresh for each test: five signs and five pictures
// named in a pirvel.ini of the editor's own format, plus a few files that are not chosen yet.
// The program's seam records reports, ends and messages instead of ending the test.

#include "editor/filelistbox.h"
#include "editor/form1.h"
#include "program.h"

#include <QColor>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>

struct EditorFolder
{
    QTemporaryDir dir;
    QString previous = QDir::currentPath();
    QList<int> reports; // error numbers
    QStringList reportTexts;
    QList<int> ends;
    QList<QPair<QString, QString>> messages;

    static QString sign(int pair) { return QStringLiteral("tecken%1.avi").arg(pair); }
    static QString picture(int pair)
    {
        return QStringLiteral("bild%1.%2").arg(pair).arg(pair % 2 ? "bmp" : "jpg");
    }
    static QColor colour(int n) { return QColor::fromHsv((n * 47) % 360, 220, 230); }
    static QStringList signs() { return {sign(1), sign(2), sign(3), sign(4), sign(5)}; }
    static QStringList pictures()
    {
        return {picture(1), picture(2), picture(3), picture(4), picture(5)};
    }

    EditorFolder()
    {
        QDir::setCurrent(dir.path());
        for (int pair = 1; pair <= 5; ++pair) {
            copyClip(pair % 2 ? "red200.avi" : "green100.mov", sign(pair));
            makePicture(picture(pair), colour(pair));
        }
        copyClip("red200.avi", "ny.avi");
        copyClip("green100.mov", "Tecken1.avi");
        copyClip("blue80x20.gif", "ny.gif");
        makePicture(QStringLiteral("Bild1.bmp"), colour(7));
        writeIni(signs(), pictures(), "1");

        installDefaultProgram(QStringLiteral("KOLMIRAS"));
        program().report = [this](const RuntimeError &e) {
            reports << e.number();
            reportTexts << e.text();
        };
        program().end = [this](int status) { ends << status; };
        program().information = [this](const QString &title, const QString &text) {
            messages << qMakePair(title, text);
        };
    }
    ~EditorFolder() { QDir::setCurrent(previous); }

    static void copyClip(const char *fixture, const QString &name)
    {
        QFile::copy(QStringLiteral(FIXTURES_DIR "/editor/%1").arg(QLatin1String(fixture)), name);
    }
    static void makePicture(const QString &name, const QColor &c, QSize size = QSize(48, 48))
    {
        QImage img(size, QImage::Format_RGB32);
        img.fill(c);
        img.save(name);
    }

    static QByteArray iniBytes(const QStringList &s, const QStringList &p, const QByteArray &flag)
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
    static void writeFile(const QString &name, const QByteArray &bytes)
    {
        QFile f(name);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }
    void writeIni(const QStringList &s, const QStringList &p, const QByteArray &flag)
    {
        writeFile(QStringLiteral("pirvel.ini"), iniBytes(s, p, flag));
    }
    static QByteArray ini()
    {
        QFile f(QStringLiteral("pirvel.ini"));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    QStringList files() const { return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden); }
};

// The entries of a list box, in order.
inline QStringList entries(const ListBox *list)
{
    QStringList names;
    for (int i = 0; i < list->count(); ++i)
        names << list->item(i)->text();
    return names;
}

// A user's mouse pick of the entry at `row`: press and release on it.
inline void pickRow(ListBox *list, int row)
{
    list->scrollToItem(list->item(row));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->item(row)).center());
}

inline void pick(ListBox *list, const QString &name)
{
    const QList<QListWidgetItem *> found =
        list->findItems(name, Qt::MatchExactly | Qt::MatchCaseSensitive);
    QVERIFY2(found.size() == 1, qPrintable(name));
    pickRow(list, list->row(found.first()));
}

inline void press(QWidget *button)
{
    QTest::mouseClick(button, Qt::LeftButton);
}
