#include "common/exercisefile.h"

#include "common/runtimeerror.h"
#include "common/swedish.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString quoted(const QString &s)
{
    return QStringLiteral("\"%1\"").arg(s);
}

bool isClosingVideo(const QString &name, ExerciseFileKind kind)
{
    return kind == ExerciseFileKind::Video && name == QLatin1String("slut.mov");
}

// What the file is to the user, as the first word of a report.
QString fileWord(const QString &name, ExerciseFileKind kind)
{
    switch (kind) {
    case ExerciseFileKind::Picture:
        return QStringLiteral("Bilden");
    case ExerciseFileKind::Video:
        return isClosingVideo(name, kind) ? QStringLiteral("Avslutningsvideon")
                                          : QStringLiteral("Videon");
    case ExerciseFileKind::Exercise:
        break;
    }
    return QStringLiteral("Filen");
}

class Opening
{
public:
    Opening(const QString &name, ExerciseFileKind kind)
        : m_name(name), m_kind(kind), m_file(namedFile(name, kind)),
          m_inFolder(QStringLiteral("i mappen %1").arg(exerciseFolder()))
    {}

    RuntimeError notFound() const
    {
        // A link whose file is gone says where the file was meant to be.
        const QFileInfo link(m_name);
        if (!m_name.contains(QChar(0)) && link.isSymLink()) {
            return RuntimeError(ErrorNumber::FileNotFound,
                                QStringLiteral("%1 %2 är en länk till %3, som inte finns.")
                                    .arg(m_file, m_inFolder, quoted(link.symLinkTarget())),
                                QStringLiteral("rätta länken så att den leder till en fil som "
                                               "finns, eller ta bort den"));
        }
        return RuntimeError(ErrorNumber::FileNotFound,
                            QStringLiteral("%1 finns inte %2.").arg(m_file, m_inFolder),
                            step(FileTrouble::Missing));
    }
    RuntimeError unnamed() const
    {
        const QString what = m_kind == ExerciseFileKind::Picture ? QStringLiteral("en bild")
                             : m_kind == ExerciseFileKind::Video ? QStringLiteral("en teckenvideo")
                                                                 : QStringLiteral("en fil");
        return RuntimeError(ErrorNumber::FileNotFound,
                            QStringLiteral("En rad i filen \"pirvel.ini\" %1 är tom, men där "
                                           "ska namnet på %2 stå.")
                                .arg(m_inFolder, what),
                            QStringLiteral("rätta övningen i Kolmiras"));
    }
    RuntimeError notRegular(mode_t mode) const
    {
        return RuntimeError(ErrorNumber::PathFileAccessError,
                            (S_ISDIR(mode) ? QStringLiteral("%1 %2 är en mapp, inte en fil.")
                                           : QStringLiteral("%1 %2 är ingen vanlig fil, så den "
                                                            "öppnas inte."))
                                .arg(m_file, m_inFolder),
                            step(FileTrouble::NotAFile));
    }
    RuntimeError failed(int error) const
    {
        if (error == ENOENT || error == ENOTDIR)
            return notFound();
        // Opening a socket by its name is refused this way.
        if (error == ENXIO)
            return notRegular(S_IFSOCK);
        const bool access = error == EACCES || error == EPERM;
        const FileTrouble trouble = access           ? FileTrouble::Access
                                    : error == ELOOP ? FileTrouble::NotAFile
                                                     : FileTrouble::Content;
        return RuntimeError(access ? ErrorNumber::PermissionDenied
                                   : ErrorNumber::PathFileAccessError,
                            QStringLiteral("%1 %2 kunde inte öppnas: %3.")
                                .arg(m_file, m_inFolder, systemCause(error, FileAccess::Read)),
                            step(trouble));
    }

    // A descriptor in blocking mode on a regular file.
    int open() const
    {
        checkBareName(m_name, fileWord(m_name, m_kind), step(FileTrouble::Missing));
        if (m_name.isEmpty())
            throw unnamed();
        // A NUL would end the path early and name some other file.
        if (m_name.contains(QChar(0)))
            throw notFound();
        const QByteArray path = QFile::encodeName(m_name);
        // The look before the open keeps devices from being opened at all, since opening some
        // of them already does something; the check of the opened file below is the one that
        // counts, as the name may change in between.
        struct stat st;
        if (::stat(path.constData(), &st) != 0)
            throw failed(errno);
        if (!S_ISREG(st.st_mode))
            throw notRegular(st.st_mode);
        // O_NONBLOCK: should a FIFO have taken the name meanwhile, the open returns at once
        // instead of waiting for a writer.
        const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0)
            throw failed(errno);
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            const int error = errno;
            ::close(fd);
            if (!S_ISREG(st.st_mode))
                throw notRegular(st.st_mode);
            throw failed(error);
        }
        const int flags = ::fcntl(fd, F_GETFL);
        if (flags >= 0)
            ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
        return fd;
    }

private:
    QString step(FileTrouble trouble) const { return nextStepFor(m_name, m_kind, trouble); }

    QString m_name;
    ExerciseFileKind m_kind;
    QString m_file;
    QString m_inFolder;
};

} // namespace

bool isBareName(const QString &name)
{
    return !name.isEmpty() && !name.contains(QChar(0)) && !name.contains(QLatin1Char('/')) &&
           !name.contains(QLatin1Char('\\')) && name != QLatin1String(".") &&
           name != QLatin1String("..");
}

QString nextStepFor(const QString &name, ExerciseFileKind kind, FileTrouble trouble)
{
    const bool exercise = kind == ExerciseFileKind::Exercise;
    const bool picture = kind == ExerciseFileKind::Picture;
    switch (trouble) {
    case FileTrouble::Missing:
        if (exercise)
            return QStringLiteral("öppna en övnings pirvel.ini, eller starta Kolmiras i mappen "
                                  "och spara en ny övning där");
        if (isClosingVideo(name, kind))
            return QStringLiteral("kopiera en avslutningsvideo med namnet slut.mov till mappen");
        return picture ? QStringLiteral("kopiera bilden till mappen, eller rätta övningen i "
                                        "Kolmiras")
                       : QStringLiteral("kopiera videon till mappen, eller rätta övningen i "
                                        "Kolmiras");
    case FileTrouble::Content:
        if (exercise)
            return QStringLiteral("rätta filen, eller ta bort den och skapa övningen på nytt i "
                                  "Kolmiras");
        if (isClosingVideo(name, kind))
            return QStringLiteral("spara avslutningsvideon på nytt som en MOV-fil med namnet "
                                  "slut.mov");
        return picture ? QStringLiteral("spara bilden på nytt som JPEG eller PNG, eller "
                                        "rätta övningen i Kolmiras")
                       : QStringLiteral("spara videon på nytt som MP4, MOV eller AVI, eller "
                                        "rätta övningen i Kolmiras");
    case FileTrouble::Access:
        return QStringLiteral("ändra filens behörighet så att alla får läsa den");
    case FileTrouble::NotAFile:
        break;
    }
    if (exercise)
        return QStringLiteral("ge den ett annat namn och skapa övningen på nytt i Kolmiras");
    return QStringLiteral("ge den ett annat namn och kopiera den riktiga filen till mappen, "
                          "eller rätta övningen i Kolmiras");
}

QString exerciseFolder()
{
    return quoted(QDir::toNativeSeparators(QDir::currentPath()));
}

QString namedFile(const QString &name, ExerciseFileKind kind)
{
    return QStringLiteral("%1 %2").arg(fileWord(name, kind), quoted(name));
}

void checkBareName(const QString &name, const QString &subject, const QString &nextStep)
{
    // Exercises are made on other systems too, where '\' separates folders.
    if (name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\'))) {
        throw RuntimeError(ErrorNumber::FileNotFound,
                           QStringLiteral("%1 %2 ligger inte direkt i övningens mapp, och en "
                                          "övning använder bara filer i sin egen mapp.")
                               .arg(subject, quoted(name)),
                           nextStep);
    }
    if (name == QLatin1String(".") || name == QLatin1String("..")) {
        throw RuntimeError(
            ErrorNumber::PathFileAccessError,
            QStringLiteral("%1 %2 är en mapp, inte en fil.").arg(subject, quoted(name)), nextStep);
    }
}

std::unique_ptr<QFile> openExerciseFile(const QString &name, ExerciseFileKind kind)
{
    const Opening opening(name, kind);
    const int fd = opening.open();
    auto file = std::make_unique<QFile>(name);
    if (!file->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        throw opening.failed(EIO);
    }
    return file;
}

void checkExerciseFile(const QString &name, ExerciseFileKind kind)
{
    ::close(Opening(name, kind).open());
}

bool isRegularFile(const QString &path)
{
    struct stat st;
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode);
}
