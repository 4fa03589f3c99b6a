// "Spara" must never destroy the exercise: whatever stops the new pirvel.ini from being
// written whole (a read-only folder or file, a disk that fills part-way), the supervisor gets
// the run-time error report and the old file stays byte for byte as it was, with no stray
// temporary file beside it.
//
// The disk-full cases need enospc_preload in LD_PRELOAD (ctest sets it); the test checks that
// the fault really is injected, so it cannot pass by writing to a healthy disk. Permissions do
// not bind root, so as root the read-only cases press "Spara" as the user nobody. Each save
// that succeeds must leave the file's owner, group and mode as they were.

#include "tests/editorgestures.h"

#include "common/mediawindow.h"
#include "editor/listbox.h"

#include <QPushButton>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

using editor::Form1;

namespace {

constexpr uid_t Nobody = 65534;
constexpr gid_t NoGroup = 65534;

// Runs as nobody while alive when started as root, member of `groups` only. The saved user
// stays root, so the test can become root again for its clean-up.
class AsNobody
{
public:
    explicit AsNobody(bool active = true, const QList<gid_t> &groups = {})
    {
        if (!active || ::geteuid() != 0)
            return;
        m_active = ::setgroups(size_t(groups.size()), groups.constData()) == 0 &&
                   ::setresgid(NoGroup, NoGroup, 0) == 0 && ::setresuid(Nobody, Nobody, 0) == 0;
    }
    ~AsNobody()
    {
        if (m_active) {
            [[maybe_unused]] const int u = ::setresuid(0, 0, 0);
            [[maybe_unused]] const int g = ::setresgid(0, 0, 0);
            [[maybe_unused]] const int s = ::setgroups(0, nullptr);
        }
    }
    AsNobody(const AsNobody &) = delete;
    AsNobody &operator=(const AsNobody &) = delete;

private:
    bool m_active = false;
};

gid_t groupId(const char *name)
{
    const group *g = ::getgrnam(name);
    return g ? g->gr_gid : gid_t(-1);
}

// Hands the folder and its files to nobody, so that only the modes decide what is writable.
void giveToNobody(const QString &dir)
{
    if (::geteuid() != 0)
        return;
    QVERIFY(::chown(QFile::encodeName(dir).constData(), Nobody, NoGroup) == 0);
    for (const QString &name : QDir(dir).entryList(QDir::Files))
        QVERIFY(::chown(QFile::encodeName(dir + "/" + name).constData(), Nobody, NoGroup) == 0);
}

bool writeFaultInjected(const QString &dir)
{
    QFile probe(dir + QStringLiteral("/probe"));
    if (!probe.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    const bool failed = probe.write(QByteArray(4096, 'x')) != 4096;
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
    }
    void failedSaveKeepsTheOldFile_data();
    void failedSaveKeepsTheOldFile();
    void successfulSaveReplacesTheFileWhole_data();
    void successfulSaveReplacesTheFileWhole();
};

void TestEditorSave::failedSaveKeepsTheOldFile_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QByteArray>("after"); // bytes the disk takes before it is full
    QTest::addColumn<bool>("byRoot");      // else by nobody
    QTest::addColumn<QString>("cause");    // what the report must say
    const QString full = QStringLiteral("disken är full");
    QTest::newRow("read-only folder")
        << "folder" << QByteArray() << false << QStringLiteral("mappen är skrivskyddad");
    QTest::newRow("read-only pirvel.ini")
        << "file" << QByteArray() << false << QStringLiteral("filen är skrivskyddad");
    QTest::newRow("read-only pirvel.ini, saved by root")
        << "file" << QByteArray() << true << QStringLiteral("filen är skrivskyddad");
    QTest::newRow("sticky folder, another's 0644 pirvel.ini")
        << "sticky" << QByteArray() << false << QStringLiteral("behörighet");
    QTest::newRow("disk full at the first byte") << "disk" << QByteArray("0") << false << full;
    QTest::newRow("disk full part-way") << "disk" << QByteArray("40") << false << full;
    QTest::newRow("disk full one byte short") << "disk" << QByteArray("137") << false << full;
}

void TestEditorSave::failedSaveKeepsTheOldFile()
{
    QFETCH(QString, fault);
    QFETCH(QByteArray, after);
    QFETCH(bool, byRoot);
    QFETCH(QString, cause);
    if ((byRoot || fault == "sticky") && ::geteuid() != 0)
        QSKIP("needs root to hand out the files");
    ExerciseFolder folder(ExerciseFolder::Editor);
    const QByteArray before = folder.ini();
    Form1 form;
    QVERIFY(load(form));
    // An edit, so that the new content differs from the old.
    pickRow(form.List1, 1);
    press(form.Command3);
    pick(form.File1, QStringLiteral("ny.avi"));
    press(form.Command3);
    QCOMPARE(form.SignCount, qint16(5));
    const QStringList filesBefore = folder.files();

    const QString dir = folder.dir.path();
    giveToNobody(dir);
    const QByteArray path = QFile::encodeName(dir);
    const QByteArray ini = QFile::encodeName(dir + "/pirvel.ini");
    if (fault == "folder")
        QVERIFY(::chmod(path.constData(), 0555) == 0);
    if (fault == "file")
        QVERIFY(::chmod(ini.constData(), 0444) == 0);
    if (fault == "sticky") {
        QVERIFY(::chown(path.constData(), 0, 0) == 0 && ::chmod(path.constData(), 01777) == 0);
        QVERIFY(::chown(ini.constData(), 0, 0) == 0 && ::chmod(ini.constData(), 0644) == 0);
    }
    if (fault == "disk") {
        qputenv("ENOSPC_DIR", path);
        qputenv("ENOSPC_AFTER", after);
        // 137 bytes is the new file's size less one: everything but the last byte fits.
        QCOMPARE(ExerciseFolder::iniBytes(
                     {"tecken1.avi", "tecken3.avi", "tecken4.avi", "tecken5.avi", "ny.avi"},
                     ExerciseFolder::pictures(), "1")
                     .size(),
                 138);
        QVERIFY2(writeFaultInjected(dir), "enospc_preload is not in LD_PRELOAD");
    }
    {
        AsNobody nobody(!byRoot);
        press(form.Command1);
    }
    qunsetenv("ENOSPC_DIR");
    ::chmod(path.constData(), 0700);
    ::chmod(ini.constData(), 0644);

    QCOMPARE(folder.reports, QList<int>{ErrorNumber::PathFileAccessError});
    QVERIFY2(folder.reportTexts.first().contains(QStringLiteral("pirvel.ini")),
             qPrintable(folder.reportTexts.first()));
    QVERIFY2(folder.reportTexts.first().contains(cause), qPrintable(folder.reportTexts.first()));
    QCOMPARE(folder.ends, QList<int>{1});
    QCOMPARE(folder.ini(), before);
    QCOMPARE(folder.files(), filesBefore);
}

void TestEditorSave::successfulSaveReplacesTheFileWhole_data()
{
    QTest::addColumn<uid_t>("owner");
    QTest::addColumn<gid_t>("group");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("saver"); // "nobody", "nobody in staff" or "root"
    QTest::addColumn<int>("folderMode");
    const gid_t staff = groupId("staff");
    QTest::newRow("owner saves") << Nobody << NoGroup << 0644 << "nobody" << 0700;
    QTest::newRow("owner saves, mode 0640 kept") << Nobody << NoGroup << 0640 << "nobody" << 0700;
    QTest::newRow("root saves nobody:staff 0664") << Nobody << staff << 0664 << "root" << 0700;
    QTest::newRow("group member saves root:staff 0660")
        << uid_t(0) << staff << 0660 << "nobody in staff" << 0700;
    QTest::newRow("sticky folder, another's 0666 pirvel.ini")
        << uid_t(0) << gid_t(0) << 0666 << "nobody" << 01777;
}

void TestEditorSave::successfulSaveReplacesTheFileWhole()
{
    QFETCH(uid_t, owner);
    QFETCH(gid_t, group);
    QFETCH(int, mode);
    QFETCH(QString, saver);
    QFETCH(int, folderMode);
    const bool asNobodyWithoutRoot = owner == Nobody && group == NoGroup && saver == "nobody";
    if (::geteuid() != 0 && !asNobodyWithoutRoot)
        QSKIP("needs root to hand out the files");
    if (group == gid_t(-1))
        QSKIP("no group staff");
    ExerciseFolder folder(ExerciseFolder::Editor);
    Form1 form;
    QVERIFY(load(form));
    pickRow(form.List2, 0);
    press(form.Command4);
    pick(form.File2, QStringLiteral("ny.gif"));
    press(form.Command4);
    const QStringList filesBefore = folder.files();
    const QString dir = folder.dir.path();
    giveToNobody(dir);
    const QByteArray ini = QFile::encodeName(dir + "/pirvel.ini");
    if (::geteuid() == 0) {
        QVERIFY(::chown(ini.constData(), owner, group) == 0);
        if (folderMode & S_ISVTX)
            QVERIFY(::chown(QFile::encodeName(dir).constData(), 0, 0) == 0);
    }
    QVERIFY(::chmod(ini.constData(), mode_t(mode)) == 0);
    QVERIFY(::chmod(QFile::encodeName(dir).constData(), mode_t(folderMode)) == 0);
    struct stat before;
    QVERIFY(::stat(ini.constData(), &before) == 0);
    {
        // The same conditions as the failures above, only with room to write.
        AsNobody nobody(saver != "root",
                        saver == "nobody in staff" ? QList<gid_t>{group} : QList<gid_t>{});
        press(form.Command1);
    }
    QVERIFY2(folder.reports.isEmpty(), qPrintable(folder.reportTexts.join('\n')));
    QCOMPARE(folder.ends, QList<int>{0});
    QCOMPARE(
        folder.ini(),
        ExerciseFolder::iniBytes(
            folder.signs(), {"bild2.jpg", "bild3.bmp", "bild4.jpg", "bild5.bmp", "ny.gif"}, "1"));
    QCOMPARE(folder.files(), filesBefore);
    // Whoever could read or write the exercise before still can.
    struct stat now;
    QVERIFY(::stat(ini.constData(), &now) == 0);
    QCOMPARE(now.st_uid, before.st_uid);
    QCOMPARE(now.st_gid, before.st_gid);
    QCOMPARE(now.st_mode, before.st_mode);
    ::chmod(QFile::encodeName(dir).constData(), 0700);
}

QTEST_MAIN(TestEditorSave)
#include "tst_editorsave.moc"
