// "Spara" must never destroy the exercise: whatever stops the new pirvel.ini from being
// written whole (a read-only folder or file, a disk that fills part-way or reports the lack of
// room only at the flush), the supervisor is told why, the old file stays byte for byte as it
// was, with no stray temporary file beside it, and the editor stays open with the choices, so
// that a second "Spara" saves them once the cause is mended. "Spara" writes only the file the
// editor read, and a kill at any moment of it leaves the old file or the new one.
//
// The disk-full cases need enospc_preload in LD_PRELOAD (ctest sets it); the test checks that
// the fault really is injected, so it cannot pass by writing to a healthy disk. Permissions do
// not bind root, so as root "Spara" is pressed as the user nobody unless a row says otherwise.
// A save that succeeds must leave the file's owner, group and mode as they were.

#include "tests/editorgestures.h"

#include "common/mediawindow.h"
#include "editor/checkbox.h"
#include "editor/listbox.h"

#include <QProcess>
#include <QSet>

#include <functional>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using editor::Form1;

namespace {

constexpr uid_t Nobody = 65534;
constexpr gid_t NoGroup = 65534;

// Runs `act` as nobody, member of `groups` only, when started as root. The saved user stays
// root, so the test becomes root again for its clean-up.
void asNobody(const QList<gid_t> &groups, const std::function<void()> &act)
{
    const bool changed =
        ::geteuid() == 0 && ::setgroups(size_t(groups.size()), groups.constData()) == 0 &&
        ::setresgid(NoGroup, NoGroup, 0) == 0 && ::setresuid(Nobody, Nobody, 0) == 0;
    act();
    if (changed) {
        [[maybe_unused]] const int u = ::setresuid(0, 0, 0);
        [[maybe_unused]] const int g = ::setresgid(0, 0, 0);
        [[maybe_unused]] const int s = ::setgroups(0, nullptr);
    }
}

// Whether a file written in dir fails to reach the disk, at the write or at the flush.
bool diskFaultInjected(const QString &dir)
{
    QFile probe(dir + QStringLiteral("/probe"));
    if (!probe.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    const bool failed = probe.write(QByteArray(4096, 'x')) != 4096 || ::fsync(probe.handle()) != 0;
    probe.close();
    probe.remove();
    return failed;
}

// What `command` prints, run by sh in the working directory.
QByteArray sh(const QString &command)
{
    QProcess p;
    p.start(QStringLiteral("sh"), {QStringLiteral("-c"), command.isEmpty() ? "true" : command});
    p.waitForFinished();
    return p.exitCode() == 0 ? p.readAll() : "<failed> " + p.readAll();
}

// Fills both chosen lists from the folder's pairs where they are short and puts "ny.avi" in
// place of the second sign; returns the file that saves these choices.
QByteArray chooseAndChange(Form1 &form)
{
    for (int pair = 1; pair <= 5; ++pair) {
        if (form.SignCount < 5)
            pick(form.File1, ExerciseFolder::sign(pair)), press(form.Command3);
        if (form.PictureCount < 5)
            pick(form.File2, ExerciseFolder::picture(pair)), press(form.Command4);
    }
    replaceEntry(side(form, 0), 1, QStringLiteral("ny.avi"));
    return ExerciseFolder::iniBytes(entries(form.List1), entries(form.List2),
                                    QByteArray::number(form.Check1->Value()));
}

QSet<QString> filesWithIni(const ExerciseFolder &folder)
{
    const QStringList files = folder.files();
    return QSet<QString>(files.begin(), files.end()) << QStringLiteral("pirvel.ini");
}

} // namespace

class TestEditorSave : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { MediaWindow::setAudioOutput(QStringLiteral("null")); }
    void cleanup()
    {
        qunsetenv("ENOSPC_DIR");
        qunsetenv("ENOSPC_AFTER");
        qunsetenv("ENOSPC_SYNC");
    }
    void saveKeepsTheOldFileOrReplacesItWhole_data();
    void saveKeepsTheOldFileOrReplacesItWhole();
    void saveWritesOnlyTheFileItRead_data();
    void saveWritesOnlyTheFileItRead();
};

void TestEditorSave::saveKeepsTheOldFileOrReplacesItWhole_data()
{
    QTest::addColumn<uid_t>("owner"); // of pirvel.ini
    QTest::addColumn<gid_t>("group");
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("folderMode");
    QTest::addColumn<QString>("saver");   // "nobody", "nobody in staff" or "root"
    QTest::addColumn<QByteArray>("disk"); // bytes it takes before it is full, "sync": none lost
    QTest::addColumn<QString>("cause");   // what the report must say; empty: the save succeeds
    const QString full = QStringLiteral("disken är full");
    const group *staffGroup = ::getgrnam("staff");
    const gid_t staff = staffGroup ? staffGroup->gr_gid : gid_t(-1);
    QTest::newRow("read-only folder") << Nobody << NoGroup << 0644 << 0555 << "nobody"
                                      << QByteArray() << "mappen är skrivskyddad";
    QTest::newRow("read-only pirvel.ini")
        << Nobody << NoGroup << 0444 << 0700 << "nobody" << QByteArray() << "filen är skrivskyddad";
    QTest::newRow("read-only pirvel.ini, saved by root")
        << Nobody << NoGroup << 0444 << 0700 << "root" << QByteArray() << "filen är skrivskyddad";
    QTest::newRow("sticky folder, another's 0644 pirvel.ini")
        << uid_t(0) << gid_t(0) << 0644 << 01777 << "nobody" << QByteArray() << "behörighet";
    QTest::newRow("disk full at the first byte")
        << Nobody << NoGroup << 0644 << 0700 << "nobody" << QByteArray("0") << full;
    QTest::newRow("disk full part-way")
        << Nobody << NoGroup << 0644 << 0700 << "nobody" << QByteArray("40") << full;
    QTest::newRow("disk full one byte short")
        << Nobody << NoGroup << 0644 << 0700 << "nobody" << QByteArray("137") << full;
    QTest::newRow("disk full told only at the flush")
        << Nobody << NoGroup << 0644 << 0700 << "nobody" << QByteArray("sync") << full;
    // The same conditions, only with room to write.
    QTest::newRow("owner saves") << Nobody << NoGroup << 0644 << 0700 << "nobody" << QByteArray()
                                 << QString();
    QTest::newRow("owner saves, mode 0640 kept")
        << Nobody << NoGroup << 0640 << 0700 << "nobody" << QByteArray() << QString();
    QTest::newRow("root saves nobody:staff 0664")
        << Nobody << staff << 0664 << 0700 << "root" << QByteArray() << QString();
    QTest::newRow("group member saves root:staff 0660")
        << uid_t(0) << staff << 0660 << 0700 << "nobody in staff" << QByteArray() << QString();
    QTest::newRow("sticky folder, another's 0666 pirvel.ini")
        << uid_t(0) << gid_t(0) << 0666 << 01777 << "nobody" << QByteArray() << QString();
}

void TestEditorSave::saveKeepsTheOldFileOrReplacesItWhole()
{
    QFETCH(uid_t, owner);
    QFETCH(gid_t, group);
    QFETCH(int, mode);
    QFETCH(int, folderMode);
    QFETCH(QString, saver);
    QFETCH(QByteArray, disk);
    QFETCH(QString, cause);
    if (::geteuid() != 0 && (owner != Nobody || group != NoGroup || saver != "nobody"))
        QSKIP("needs root to hand out the files");
    if (group == gid_t(-1))
        QSKIP("no group staff");
    ExerciseFolder folder(ExerciseFolder::Editor);
    const QByteArray before = folder.ini();
    Form1 form;
    QVERIFY(load(form));
    replaceEntry(side(form, 0), 1, QStringLiteral("ny.avi"));
    const QByteArray edited =
        iniWith(0, {"tecken1.avi", "tecken3.avi", "tecken4.avi", "tecken5.avi", "ny.avi"});
    const QStringList filesBefore = folder.files();

    // Only the modes decide what is writable: the files are handed to their owners first.
    const QByteArray dir = QFile::encodeName(folder.dir.path());
    const QByteArray ini = dir + "/pirvel.ini";
    if (::geteuid() == 0) {
        for (const QString &name : folder.files())
            QVERIFY(::chown((dir + "/" + QFile::encodeName(name)).constData(), Nobody, NoGroup) ==
                    0);
        QVERIFY(::chown(ini.constData(), owner, group) == 0);
        QVERIFY(::chown(dir.constData(), folderMode & S_ISVTX ? 0 : Nobody,
                        folderMode & S_ISVTX ? 0 : NoGroup) == 0);
    }
    QVERIFY(::chmod(ini.constData(), mode_t(mode)) == 0);
    QVERIFY(::chmod(dir.constData(), mode_t(folderMode)) == 0);
    if (!disk.isEmpty()) {
        qputenv("ENOSPC_DIR", dir);
        qputenv(disk == "sync" ? "ENOSPC_SYNC" : "ENOSPC_AFTER",
                disk == "sync" ? QByteArray("1") : disk);
        // 137 bytes is the new file's size less one: everything but the last byte fits.
        QCOMPARE(edited.size(), 138);
        QVERIFY2(diskFaultInjected(dir), "enospc_preload is not in LD_PRELOAD");
    }
    struct stat old;
    QVERIFY(::stat(ini.constData(), &old) == 0);
    auto save = [&] {
        if (saver == "root")
            press(form.Command1);
        else
            asNobody(saver == "nobody in staff" ? QList<gid_t>{group} : QList<gid_t>{},
                     [&] { press(form.Command1); });
    };
    save();
    qunsetenv("ENOSPC_DIR");
    QCOMPARE(folder.files(), filesBefore);
    QCOMPARE(folder.messages.size(), cause.isEmpty() ? 0 : 1);
    if (!cause.isEmpty()) {
        const QString report = folder.messages.first().second;
        QVERIFY2(report.contains("pirvel.ini") && report.contains(cause), qPrintable(report));
        QCOMPARE(folder.ends, QList<int>{});
        QCOMPARE(folder.ini(), before);
        // Nothing is lost: once the cause is mended, the same choices are saved.
        QVERIFY(::chmod(ini.constData(), 0666) == 0 && ::chmod(dir.constData(), 0777) == 0);
        QVERIFY(::stat(ini.constData(), &old) == 0);
        save();
    }
    ::chmod(dir.constData(), 0700);
    QCOMPARE(folder.files(), filesBefore);
    QVERIFY2(folder.reports.isEmpty(), qPrintable(folder.reportTexts.join('\n')));
    QCOMPARE(folder.ends, QList<int>{0});
    QCOMPARE(folder.ini(), edited);
    // Whoever could read or write the exercise before still can.
    struct stat now;
    QVERIFY(::stat(ini.constData(), &now) == 0);
    QCOMPARE(now.st_uid, old.st_uid);
    QCOMPARE(now.st_gid, old.st_gid);
    QCOMPARE(now.st_mode, old.st_mode);
}

// Each is a shell command run in the exercise folder: `first` before the editor starts, `change`
// after; `refusal` is a word of the first press's message (none: it saves); `keep` prints the
// same before and after the saves; `after` succeeds once saved. A `killed` save is first killed
// at each of its steps in turn.
struct Case
{
    const char *name, *first, *change, *refusal, *keep, *after;
    bool killed = false;
};
const Case Cases[] = {
    {"swapped for a link to another file", "", "ln -sf \"$OUTSIDE\" pirvel.ini", "länk",
     "cat \"$OUTSIDE\"", "test ! -L pirvel.ini"},
    {"changed by another editor", "", "echo '\"a.avi\"' >>pirvel.ini", "ändrats", "", ""},
    {"replaced by another editor", "", "cp pirvel.ini x && mv x pirvel.ini", "bytts ut", "", ""},
    {"moved away", "", "mv pirvel.ini gammal.ini", "finns inte", "cat gammal.ini", ""},
    {"made where there was none", "rm pirvel.ini", "echo 1 >pirvel.ini", "har skapats", "", ""},
    {"hard link", "ln pirvel.ini andra.ini", "", "", "stat -c %i pirvel.ini",
     "cmp pirvel.ini andra.ini"},
    {"ACL and extended attribute",
     "setfacl -m u:nobody:rw pirvel.ini && setfattr -n user.kurs -v 7b pirvel.ini", "", "",
     "getfacl -p pirvel.ini; getfattr -d pirvel.ini; stat -c %a%i pirvel.ini", ""},
    {"link there from the start", "mv pirvel.ini \"$OUTSIDE\" && ln -s \"$OUTSIDE\" pirvel.ini", "",
     "", "", "test -L pirvel.ini"},
    {"killed", "", "", "", "", "", true},
    {"killed, new pirvel.ini", "rm pirvel.ini", "", "", "", "", true},
};

void TestEditorSave::saveWritesOnlyTheFileItRead_data()
{
    QTest::addColumn<int>("row");
    for (const Case &c : Cases)
        QTest::newRow(c.name) << int(&c - Cases);
}

void TestEditorSave::saveWritesOnlyTheFileItRead()
{
    QFETCH(int, row);
    const Case &c = Cases[row];
    bool killed = c.killed;
    QTemporaryDir elsewhere;
    qputenv("OUTSIDE", QFile::encodeName(elsewhere.filePath("bashrc")));
    QVERIFY(ExerciseFolder::writeFile(elsewhere.filePath("bashrc"), "alias ls='ls -F'\n"));
    ExerciseFolder folder(ExerciseFolder::Editor);
    QCOMPARE(sh(c.first), QByteArray());
    Form1 form;
    QVERIFY(load(form));
    const QByteArray edited = chooseAndChange(form);
    const QStringList names = entries(form.List1);
    QCOMPARE(sh(c.change), QByteArray());
    const QByteArray kept = sh(c.keep);
    const QByteArray changed = folder.ini();
    const QSet<QString> files = filesWithIni(folder);
    // A child saves and dies before its first step, then its second, and so on until one
    // saves; each time the file is put back as it was.
    for (int step = 1; killed; ++step) {
        const pid_t child = ::fork();
        if (child == 0) {
            qputenv("KILL_DIR", QFile::encodeName(folder.dir.path()));
            qputenv("KILL_AT", QByteArray::number(step));
            form.Command1->click();
            ::_exit(folder.ends == QList<int>{0} ? 0 : 2);
        }
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        const QByteArray now = folder.ini();
        // Blanks after the eleventh line are never read: to both programs, the new content
        // followed by them is the new file.
        const bool asNew = now.startsWith(edited) && now.mid(edited.size()).trimmed().isEmpty();
        QVERIFY2(now == changed || asNew, qPrintable(QString::number(step) + ": " + now));
        QCOMPARE(filesWithIni(folder), files);
        killed = WIFSIGNALED(status);
        QVERIFY(killed ? step < 40 : WEXITSTATUS(status) == 0 && asNew);
        if (changed == "<missing>")
            QFile::remove(QStringLiteral("pirvel.ini"));
        else
            QVERIFY(ExerciseFolder::writeFile(QStringLiteral("pirvel.ini"), changed));
    }
    press(form.Command1);
    const QString refusal = QString::fromUtf8(c.refusal);
    if (!refusal.isEmpty()) {
        QCOMPARE(folder.messages.size(), 1);
        const QString text = folder.messages.first().second;
        QVERIFY2(text.contains(refusal) && text.contains("pirvel.ini"), qPrintable(text));
        QCOMPARE(folder.ends, QList<int>{});
        QCOMPARE(folder.ini(), changed);
        QCOMPARE(entries(form.List1), names);
        press(form.Command1); // to replace it knowingly
    }
    QCOMPARE(folder.messages.size(), refusal.isEmpty() ? 0 : 1);
    QCOMPARE(folder.ends, QList<int>{0});
    QCOMPARE(folder.ini(), edited);
    QCOMPARE(sh(c.keep), kept);
    QCOMPARE(sh(c.after), QByteArray());
    QCOMPARE(filesWithIni(folder), files);
}

QTEST_MAIN(TestEditorSave)
#include "tst_editorsave.moc"
