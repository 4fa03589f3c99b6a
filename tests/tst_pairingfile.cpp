// Reading takes one item at a time (a quoted name, or bare digits, each ended by a comma or a line
// end) and stops at the first item that is missing or malformed; writing must produce a file
// that reads back to the same names, and must never leave a half-written exercise behind.

#include "common/pairingfile.h"
#include "common/runtimeerror.h"
#include "tests/support/testsupport.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <sys/stat.h>
#include <unistd.h>

class TestPairingFile : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir; // each test's own, the working directory

    static QStringList tenNames()
    {
        QStringList n;
        for (int i = 1; i <= 5; ++i)
            n << QStringLiteral("s%1.avi").arg(i) << QStringLiteral("p%1.jpg").arg(i);
        return n;
    }
    static QByteArray elevenLines(const QByteArray &last = "1")
    {
        QByteArray b;
        for (const QString &n : tenNames())
            b += '"' + n.toLatin1() + "\"\r\n";
        return b + last + "\r\n";
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir::setCurrent(m_dir->path()));
    }

    // Quoted names read back, commas, Windows-1252 letters and case included, stand with the
    // writing below.
    void readsItems_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QStringList>("strings");

        QTest::newRow("LF only") << QByteArray("\"a.avi\"\n\"b.jpg\"\n")
                                 << QStringList{"a.avi", "b.jpg"};
        QTest::newRow("last line without end")
            << QByteArray("\"a.avi\"\r\n\"b.jpg\"") << QStringList{"a.avi", "b.jpg"};
        QTest::newRow("leading spaces skipped")
            << QByteArray("   \"a.avi\"\r\n  b.jpg\r\n") << QStringList{"a.avi", "b.jpg"};
        QTest::newRow("unquoted, trailing spaces cut")
            << QByteArray("a b.avi   \r\nc.jpg\r\n") << QStringList{"a b.avi", "c.jpg"};
        QTest::newRow("unquoted item ends at comma")
            << QByteArray("a.avi,b.jpg\r\n") << QStringList{"a.avi", "b.jpg"};
        QTest::newRow("two quoted items on one line")
            << QByteArray("\"a.avi\",\"b.jpg\"\r\n") << QStringList{"a.avi", "b.jpg"};
        QTest::newRow("text after closing quote dropped")
            << QByteArray("\"a.avi\"xy\r\n\"b\"\r\n") << QStringList{"a.avi", "b"};
        QTest::newRow("unclosed quote ends at line end")
            << QByteArray("\"a.avi\r\n\"b.jpg\"\r\n") << QStringList{"a.avi", "b.jpg"};
        QTest::newRow("empty line is an empty item")
            << QByteArray("\r\n\"b.jpg\"\r\n") << QStringList{"", "b.jpg"};
    }
    void readsItems()
    {
        QFETCH(QByteArray, content);
        QFETCH(QStringList, strings);
        QVERIFY(ExerciseFolder::writeFile(PairingFileName, content));
        SequentialInput in(PairingFileName);
        for (const QString &expected : strings)
            QCOMPARE(in.readString(), expected);
    }

    // Ten names, then the flag; what follows is never read.
    void readsWholeFile_data()
    {
        QTest::addColumn<QByteArray>("content"); // null: no file at all; "<dir>": a folder
        QTest::addColumn<int>("number");         // the run-time error; 0: none
        QTest::addColumn<QString>("result");     // the flag read, or what the error names

        const int past = ErrorNumber::InputPastEndOfFile, type = ErrorNumber::TypeMismatch;
        const int overflow = ErrorNumber::Overflow, notFound = ErrorNumber::FileNotFound;
        const int access = ErrorNumber::PathFileAccessError;
        QTest::newRow("flag 2 kept, the lines after it unread")
            << elevenLines("2") + "\"more\"\r\ngarbage, 12\r\n"
            << 0 << "2";
        QTest::newRow("flag with spaces around") << elevenLines("  7  ") << 0 << "7";
        QTest::newRow("lowest flag") << elevenLines("-32768") << 0 << "-32768";
        QTest::newRow("highest flag") << elevenLines("32767") << 0 << "32767";

        QTest::newRow("missing file") << QByteArray() << notFound << "pirvel.ini";
        QTest::newRow("a folder") << QByteArray("<dir>") << access << "mapp";
        QTest::newRow("empty file") << QByteArray("") << past << "är tom";
        QTest::newRow("ten lines only") << elevenLines("").chopped(2) << past << "efter rad 10";
        QTest::newRow("flag abc") << elevenLines("abc") << type << "rad 11";
        QTest::newRow("flag empty") << elevenLines("") << type << "rad 11";
        QTest::newRow("flag 1.5") << elevenLines("1.5") << type << "\"1.5\"";
        QTest::newRow("flag 40000") << elevenLines("40000") << overflow << "40000";
        QTest::newRow("flag -40000") << elevenLines("-40000") << overflow << "-40000";
        QTest::newRow("flag far too many digits")
            << elevenLines("99999999999999999999999") << overflow << "rad 11";
        QTest::newRow("endless single line") << QByteArray(200000, 'x') << type << "rad 1";
        // Every name is a file of the folder itself.
        QTest::newRow("a name in another folder")
            << elevenLines().replace("p2.jpg", "../p2.jpg") << notFound << "rad 4: \"../p2.jpg\"";
        QTest::newRow("a folder in the Windows way")
            << elevenLines().replace("p3.jpg", "a\\b.jpg") << notFound << "rad 6";
        QTest::newRow("the folder itself")
            << elevenLines().replace("\"s4.avi\"", ".") << access << "rad 7";
    }
    void readsWholeFile()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, number);
        QFETCH(QString, result);
        if (content == "<dir>")
            QVERIFY(QDir().mkdir(PairingFileName));
        else if (!content.isNull())
            QVERIFY(ExerciseFolder::writeFile(PairingFileName, content));
        try {
            SequentialInput in(PairingFileName);
            QStringList names;
            for (int i = 0; i < 10; ++i)
                names << in.readString();
            const qint16 flag = in.readInteger();
            QCOMPARE(number, 0);
            QCOMPARE(names, tenNames());
            QCOMPARE(QString::number(flag), result);
        } catch (const RuntimeError &e) {
            QCOMPARE(e.number(), number);
            QVERIFY2(e.text().contains(result), qPrintable(e.text()));
            QVERIFY2(e.text().contains(QLatin1String("pirvel.ini")), qPrintable(e.text()));
        }
    }

    void writesExactBytesAndReadsThemBack()
    {
        SequentialOutput out(PairingFileName);
        const QStringList names = {QStringLiteral("älg.avi"),   QStringLiteral("a,b.jpg"),
                                   QStringLiteral("Hus.MOV"),   QStringLiteral("ö.gif"),
                                   QStringLiteral("bil.mpg"),   QStringLiteral("bil.bmp"),
                                   QStringLiteral("fisk.mpeg"), QStringLiteral("fisk.jpeg"),
                                   QStringLiteral("träd.avi"),  QStringLiteral("€.jpg")};
        for (const QString &n : names) {
            QVERIFY(isStorableName(n));
            out.writeString(n);
        }
        out.writeInteger(-2);
        out.commit();

        const QByteArray bytes = ExerciseFolder::ini();
        QVERIFY(bytes.startsWith("\"\xe4lg.avi\"\r\n\"a,b.jpg\"\r\n"));
        QVERIFY(bytes.endsWith("\"\x80.jpg\"\r\n-2\r\n"));
        QCOMPARE(bytes.count('\n'), 11);

        SequentialInput in(PairingFileName);
        for (const QString &n : names)
            QCOMPARE(in.readString(), n);
        QCOMPARE(in.readInteger(), qint16(-2));
    }

    void refusesNamesThatCannotReadBack_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("empty") << QString();
        QTest::newRow("a folder in the name") << QStringLiteral("sub\\b.avi");
        QTest::newRow("quote") << QStringLiteral("a\"b.avi");
        QTest::newRow("CR") << QStringLiteral("a\rb.avi");
        QTest::newRow("LF") << QStringLiteral("a\nb.avi");
        QTest::newRow("outside Windows-1252") << QStringLiteral("日本.avi");
        QTest::newRow("outside the basic plane") << QStringLiteral("\U0001F600.avi");
    }
    void refusesNamesThatCannotReadBack()
    {
        QFETCH(QString, name);
        QVERIFY(ExerciseFolder::writeFile(PairingFileName, "old"));
        QVERIFY(!isStorableName(name));
        SequentialOutput out(PairingFileName);
        QVERIFY_THROWS_EXCEPTION(RuntimeError, out.writeString(name));
        QCOMPARE(ExerciseFolder::ini(), QByteArray("old"));
        // Refusing one name does not refuse the next.
        out.writeString(QStringLiteral("älg.avi"));
    }

    void saveOverAFolderFailsAndKeepsIt()
    {
        QVERIFY(QDir().mkpath(PairingFileName + "/inside"));
        SequentialOutput out(PairingFileName);
        out.writeString(QStringLiteral("a.avi"));
        QVERIFY_THROWS_EXCEPTION(RuntimeError, out.commit());
        QVERIFY(QFileInfo(PairingFileName + "/inside").isDir());
        QCOMPARE(QDir().entryList({"pirvel.ini*"}, QDir::AllEntries | QDir::Hidden),
                 QStringList{PairingFileName});
    }

    void failedSaveKeepsOldFile()
    {
        if (::geteuid() == 0)
            QSKIP("root writes to read-only folders");
        QVERIFY(ExerciseFolder::writeFile(PairingFileName, "old content"));
        QVERIFY(::chmod(".", 0555) == 0);
        SequentialOutput out(PairingFileName);
        out.writeString(QStringLiteral("a.avi"));
        QVERIFY_THROWS_EXCEPTION(RuntimeError, out.commit());
        ::chmod(".", 0755);
        QCOMPARE(ExerciseFolder::ini(), QByteArray("old content"));
    }
};

QTEST_GUILESS_MAIN(TestPairingFile)
#include "tst_pairingfile.moc"
