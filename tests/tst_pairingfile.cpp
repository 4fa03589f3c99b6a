// Reading follows the classic sequential-input rules item by item; writing must produce a file
// that reads back to the same names, and must never leave a half-written exercise behind.

#include "common/pairingfile.h"
#include "common/runtimeerror.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

class TestPairingFile : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_previous;

    void writeRaw(const QByteArray &bytes)
    {
        QFile f(PairingFileName);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
    }
    QByteArray readRaw()
    {
        QFile f(PairingFileName);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    static QByteArray elevenLines(const QByteArray &last = "1", const QByteArray &eol = "\r\n")
    {
        QByteArray b;
        for (int i = 1; i <= 5; ++i)
            b += "\"s" + QByteArray::number(i) + ".avi\"" + eol + "\"p" + QByteArray::number(i) +
                 ".jpg\"" + eol;
        return b + last + eol;
    }

private slots:
    void init()
    {
        QVERIFY(m_dir.isValid());
        m_previous = QDir::currentPath();
        QDir::setCurrent(m_dir.path());
        QFile::remove(PairingFileName);
    }
    void cleanup() { QDir::setCurrent(m_previous); }

    void readsItems_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QStringList>("strings");

        QTest::newRow("quoted names, CR LF")
            << QByteArray("\"a.avi\"\r\n\"b.jpg\"\r\n") << QStringList{"a.avi", "b.jpg"};
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
        QTest::newRow("comma inside quotes survives")
            << QByteArray("\"a,b.avi\"\r\n\"c.jpg\"\r\n") << QStringList{"a,b.avi", "c.jpg"};
        QTest::newRow("two quoted items on one line")
            << QByteArray("\"a.avi\",\"b.jpg\"\r\n") << QStringList{"a.avi", "b.jpg"};
        QTest::newRow("text after closing quote dropped")
            << QByteArray("\"a.avi\"xy\r\n\"b\"\r\n") << QStringList{"a.avi", "b"};
        QTest::newRow("unclosed quote ends at line end")
            << QByteArray("\"a.avi\r\n\"b.jpg\"\r\n") << QStringList{"a.avi", "b.jpg"};
        QTest::newRow("empty line is an empty item")
            << QByteArray("\r\n\"b.jpg\"\r\n") << QStringList{"", "b.jpg"};
        QTest::newRow("Windows-1252 letters")
            << QByteArray("\"\xe4lg.avi\"\r\n\"\xf6\x80.jpg\"\r\n")
            << QStringList{QStringLiteral("älg.avi"), QStringLiteral("ö€.jpg")};
        QTest::newRow("case kept")
            << QByteArray("\"Sol.AVI\"\r\n\"sol.avi\"\r\n") << QStringList{"Sol.AVI", "sol.avi"};
    }
    void readsItems()
    {
        QFETCH(QByteArray, content);
        QFETCH(QStringList, strings);
        writeRaw(content);
        SequentialInput in(PairingFileName);
        for (const QString &expected : strings)
            QCOMPARE(in.readString(), expected);
    }

    void readsWholeFileIgnoringExtraLines()
    {
        writeRaw(elevenLines("2") + "\"more\"\r\ngarbage, 12\r\n");
        SequentialInput in(PairingFileName);
        for (int i = 1; i <= 5; ++i) {
            QCOMPARE(in.readString(), QStringLiteral("s%1.avi").arg(i));
            QCOMPARE(in.readString(), QStringLiteral("p%1.jpg").arg(i));
        }
        QCOMPARE(in.readInteger(), qint16(2));
    }

    void readsFlag_data()
    {
        QTest::addColumn<QByteArray>("flag");
        QTest::addColumn<int>("value");
        QTest::newRow("0") << QByteArray("0") << 0;
        QTest::newRow("1") << QByteArray("1") << 1;
        QTest::newRow("2 kept") << QByteArray("2") << 2;
        QTest::newRow("-1 kept") << QByteArray("-1") << -1;
        QTest::newRow("spaces around") << QByteArray("  7  ") << 7;
        QTest::newRow("lowest") << QByteArray("-32768") << -32768;
        QTest::newRow("highest") << QByteArray("32767") << 32767;
    }
    void readsFlag()
    {
        QFETCH(QByteArray, flag);
        QFETCH(int, value);
        writeRaw(elevenLines(flag));
        SequentialInput in(PairingFileName);
        for (int i = 0; i < 10; ++i)
            in.readString();
        QCOMPARE(int(in.readInteger()), value);
    }

    void failures_data()
    {
        QTest::addColumn<QByteArray>("content"); // empty QByteArray(): no file at all
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("mentions");

        QTest::newRow("missing file")
            << QByteArray() << int(ErrorNumber::FileNotFound) << "pirvel.ini";
        QTest::newRow("empty file")
            << QByteArray("") << int(ErrorNumber::InputPastEndOfFile) << "0 värden";
        QTest::newRow("ten lines only") << elevenLines("").left(elevenLines("").size() - 2)
                                        << int(ErrorNumber::InputPastEndOfFile) << "10 värden";
        QTest::newRow("flag abc") << elevenLines("abc") << int(ErrorNumber::TypeMismatch)
                                  << "rad 11";
        QTest::newRow("flag empty")
            << elevenLines("") << int(ErrorNumber::TypeMismatch) << "rad 11";
        QTest::newRow("flag 1.5") << elevenLines("1.5") << int(ErrorNumber::TypeMismatch)
                                  << "\"1.5\"";
        QTest::newRow("flag 40000")
            << elevenLines("40000") << int(ErrorNumber::Overflow) << "40000";
        QTest::newRow("flag -40000")
            << elevenLines("-40000") << int(ErrorNumber::Overflow) << "-40000";
        QTest::newRow("flag far too many digits")
            << elevenLines("99999999999999999999999") << int(ErrorNumber::Overflow) << "rad 11";
        QTest::newRow("endless single line")
            << QByteArray(200000, 'x') << int(ErrorNumber::TypeMismatch) << "rad 1";
        QTest::newRow("a name in another folder")
            << elevenLines().replace("p2.jpg", "../p2.jpg") << int(ErrorNumber::FileNotFound)
            << "rad 4: namnet \"../p2.jpg\"";
        QTest::newRow("a folder as a name") << elevenLines().replace("\"s3.avi\"", "..")
                                            << int(ErrorNumber::PathFileAccessError) << "rad 5";
    }
    void failures()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, number);
        QFETCH(QString, mentions);
        if (!content.isNull())
            writeRaw(content);
        try {
            SequentialInput in(PairingFileName);
            for (int i = 0; i < 10; ++i)
                in.readString();
            in.readInteger();
            QFAIL("no run-time error");
        } catch (const RuntimeError &e) {
            QCOMPARE(e.number(), number);
            QVERIFY2(e.text().contains(mentions), qPrintable(e.text()));
            QVERIFY2(e.text().contains(QLatin1String("pirvel.ini")), qPrintable(e.text()));
        }
    }

    void directoryInsteadOfFile()
    {
        QVERIFY(QDir().mkdir(PairingFileName));
        QVERIFY_THROWS_EXCEPTION(RuntimeError, SequentialInput in(PairingFileName));
        QDir().rmdir(PairingFileName);
    }

    void writesExactBytesAndReadsThemBack()
    {
        SequentialOutput out(PairingFileName);
        const QStringList names = {QStringLiteral("älg.avi"),   QStringLiteral("a,b.jpg"),
                                   QStringLiteral("Hus.MOV"),   QStringLiteral("ö.gif"),
                                   QStringLiteral("bil.mpg"),   QStringLiteral("bil.bmp"),
                                   QStringLiteral("fisk.mpeg"), QStringLiteral("fisk.jpeg"),
                                   QStringLiteral("träd.avi"),  QStringLiteral("€.jpg")};
        for (const QString &n : names)
            out.writeString(n);
        out.writeInteger(-2);
        out.commit();

        const QByteArray bytes = readRaw();
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
        writeRaw("old");
        QVERIFY(!isStorableName(name));
        SequentialOutput out(PairingFileName);
        QVERIFY_THROWS_EXCEPTION(RuntimeError, out.writeString(name));
        QCOMPARE(readRaw(), QByteArray("old"));
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
        QDir(PairingFileName).removeRecursively();
    }

    void refusingOneNameDoesNotRefuseTheNext()
    {
        QVERIFY(!isStorableName(QStringLiteral("日本.avi")));
        QVERIFY(isStorableName(QStringLiteral("älg.avi")));
        SequentialOutput out(PairingFileName);
        QVERIFY_THROWS_EXCEPTION(RuntimeError, out.writeString(QStringLiteral("日本.avi")));
        out.writeString(QStringLiteral("älg.avi"));
    }

    void failedSaveKeepsOldFile()
    {
        if (::geteuid() == 0)
            QSKIP("root writes to read-only folders");
        writeRaw("old content");
        QVERIFY(::chmod(".", 0555) == 0);
        SequentialOutput out(PairingFileName);
        out.writeString(QStringLiteral("a.avi"));
        QVERIFY_THROWS_EXCEPTION(RuntimeError, out.commit());
        ::chmod(".", 0755);
        QCOMPARE(readRaw(), QByteArray("old content"));
    }
};

QTEST_GUILESS_MAIN(TestPairingFile)
#include "tst_pairingfile.moc"
