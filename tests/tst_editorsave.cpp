// "Spara" must never destroy the exercise: whatever stops the new pirvel.ini from being
// written whole (a read-only folder or file, a disk that fills part-way or reports the lack of
// room only at the flush), the supervisor gets the run-time error report and the old file stays
// byte for byte as it was, with no stray temporary file beside it.
//
// The disk-full cases need enospc_preload in LD_PRELOAD (ctest sets it); the test checks that
// the fault really is injected, so it cannot pass by writing to a healthy disk. Permissions do
// not bind root, so as root "Spara" is pressed as the user nobody unless a row says otherwise.
// A save that succeeds must leave the file's owner, group and mode as they were.

#include "tests/editorgestures.h"

#include "common/mediawindow.h"
#include "editor/listbox.h"

#include <functional>
#include <grp.h>
#include <sys/stat.h>
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
    if (saver == "root")
        press(form.Command1);
    else
        asNobody(saver == "nobody in staff" ? QList<gid_t>{group} : QList<gid_t>{},
                 [&] { press(form.Command1); });
    qunsetenv("ENOSPC_DIR");
    ::chmod(dir.constData(), 0700);

    QCOMPARE(folder.files(), filesBefore);
    if (!cause.isEmpty()) {
        QCOMPARE(folder.reports, QList<int>{ErrorNumber::PathFileAccessError});
        const QString report = folder.reportTexts.first();
        QVERIFY2(report.contains("pirvel.ini") && report.contains(cause), qPrintable(report));
        QCOMPARE(folder.ends, QList<int>{1});
        QCOMPARE(folder.ini(), before);
        return;
    }
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

QTEST_MAIN(TestEditorSave)
#include "tst_editorsave.moc"
