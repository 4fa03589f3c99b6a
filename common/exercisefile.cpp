#include "common/exercisefile.h"

#include "common/runtimeerror.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString quoted(const QString &s)
{
    return QStringLiteral("\"%1\"").arg(s);
}

QString subjectOf(ExerciseFileKind kind)
{
    switch (kind) {
    case ExerciseFileKind::Picture:
        return QStringLiteral("Bilden");
    case ExerciseFileKind::Video:
        return QStringLiteral("Videofilen");
    case ExerciseFileKind::Exercise:
        break;
    }
    return QStringLiteral("Filen");
}

QString systemWords(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QString kindOfSpecialFile(mode_t mode)
{
    if (S_ISFIFO(mode))
        return QStringLiteral("en namngiven pipe (FIFO)");
    if (S_ISSOCK(mode))
        return QStringLiteral("en socket");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("en enhetsfil");
    return QStringLiteral("en särskild fil");
}

class Opening
{
public:
    Opening(const QString &name, ExerciseFileKind kind)
        : m_name(name), m_subject(subjectOf(kind)), m_where(QDir::current().absoluteFilePath(name))
    {}

    RuntimeError notFound() const
    {
        return RuntimeError(
            ErrorNumber::FileNotFound,
            QStringLiteral("%1 %2 hittades inte (%3).").arg(m_subject, quoted(m_name), m_where));
    }
    RuntimeError notRegular(mode_t mode) const
    {
        if (S_ISDIR(mode)) {
            return RuntimeError(ErrorNumber::PathFileAccessError,
                                QStringLiteral("%1 %2 är en mapp, inte en fil (%3).")
                                    .arg(m_subject, quoted(m_name), m_where));
        }
        return RuntimeError(ErrorNumber::PathFileAccessError,
                            QStringLiteral("%1 %2 är ingen vanlig fil utan %3 (%4). Bara vanliga "
                                           "filer kan öppnas.")
                                .arg(m_subject, quoted(m_name), kindOfSpecialFile(mode), m_where));
    }
    RuntimeError failed(int error) const
    {
        if (error == ENOENT || error == ENOTDIR)
            return notFound();
        if (error == EACCES || error == EPERM) {
            return RuntimeError(ErrorNumber::PermissionDenied,
                                QStringLiteral("%1 %2 får inte läsas: du har inte behörighet att "
                                               "läsa den (%3).")
                                    .arg(m_subject, quoted(m_name), systemWords(error)));
        }
        // Opening a socket by its name is refused this way.
        if (error == ENXIO)
            return notRegular(S_IFSOCK);
        return RuntimeError(ErrorNumber::PathFileAccessError,
                            QStringLiteral("%1 %2 kunde inte öppnas (%3, %4).")
                                .arg(m_subject, quoted(m_name), systemWords(error), m_where));
    }

    // A descriptor in blocking mode on a regular file.
    int open() const
    {
        checkBareName(m_name, m_subject);
        // A NUL would end the path early and name some other file.
        if (m_name.isEmpty() || m_name.contains(QChar(0)))
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
    QString m_name;
    QString m_subject;
    QString m_where;
};

} // namespace

bool isBareName(const QString &name)
{
    return !name.isEmpty() && !name.contains(QChar(0)) && !name.contains(QLatin1Char('/')) &&
           !name.contains(QLatin1Char('\\')) && name != QLatin1String(".") &&
           name != QLatin1String("..");
}

void checkBareName(const QString &name, const QString &subject)
{
    // Exercises are made on other systems too, where '\' separates folders.
    if (name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\'))) {
        throw RuntimeError(ErrorNumber::FileNotFound,
                           QStringLiteral("%1 %2 finns inte i övningens mapp: bara filer direkt i "
                                          "mappen kan användas, och ett filnamn får inte "
                                          "innehålla / eller \\.")
                               .arg(subject, quoted(name)));
    }
    if (name == QLatin1String(".") || name == QLatin1String("..")) {
        throw RuntimeError(
            ErrorNumber::PathFileAccessError,
            QStringLiteral("%1 %2 är en mapp, inte en fil.").arg(subject, quoted(name)));
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
