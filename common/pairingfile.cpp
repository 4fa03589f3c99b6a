#include "common/pairingfile.h"

#include "common/exercisefile.h"
#include "common/runtimeerror.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

constexpr const char *Codec = "windows-1252";
// No name or number in the file comes near this; a longer item means the file is not ours,
// and reading on would only fill memory.
constexpr qsizetype MaxItemBytes = 4096;
constexpr qint64 ChunkBytes = 4096;

// Opening a converter costs far more than converting a file name with it, so each thread keeps
// one of each. Windows-1252 has one byte a character, so they carry no state between calls.
QString decode(const QByteArray &bytes)
{
    thread_local QStringDecoder decoder(Codec, QStringConverter::Flag::Stateless);
    return decoder.decode(bytes);
}

QByteArray encode(const QString &text, bool *failed = nullptr)
{
    thread_local QStringEncoder encoder(Codec, QStringConverter::Flag::Stateless);
    encoder.resetState();
    QByteArray bytes = encoder.encode(text);
    // Qt 6.4 keeps an ICU encoder's error flag set through resetState(), so after one refused
    // name every later one would look refused too. A character the code page lacks comes back
    // as a substitute, so the round trip tells reliably instead.
    if (failed)
        *failed = decode(bytes) != text;
    return bytes;
}

QString quoted(const QString &s)
{
    return QStringLiteral("\"%1\"").arg(s);
}

QString shown(const QByteArray &bytes)
{
    QString s = decode(bytes);
    if (s.size() > 40)
        s = s.left(40) + QStringLiteral("…");
    return quoted(s);
}

QString where(const QString &name)
{
    return QDir::current().absoluteFilePath(name);
}

QString systemWords(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Why a write failed, in words a teacher can act on.
QString writeCause(int error)
{
    switch (error) {
    case ENOSPC:
        return QStringLiteral("disken är full");
    case EDQUOT:
        return QStringLiteral("din diskkvot är slut");
    case EROFS:
        return QStringLiteral("filsystemet är skrivskyddat");
    case EACCES:
    case EPERM:
        return QStringLiteral("du har inte behörighet att skriva den");
    case EIO:
        return QStringLiteral("disken gav ett skrivfel");
    default:
        return QStringLiteral("skrivningen misslyckades");
    }
}

// Why no new file could be made beside the old one.
QString folderCause(const QString &name, int error)
{
    const QByteArray folder = QFile::encodeName(QFileInfo(where(name)).absolutePath());
    struct statvfs fs;
    if (error == EROFS || (::statvfs(folder.constData(), &fs) == 0 && (fs.f_flag & ST_RDONLY)))
        return QStringLiteral("filsystemet är skrivskyddat");
    struct stat st;
    if (::faccessat(AT_FDCWD, folder.constData(), W_OK | X_OK, AT_EACCESS) != 0) {
        if (::stat(folder.constData(), &st) == 0 && !(st.st_mode & 0222))
            return QStringLiteral("mappen är skrivskyddad");
        return QStringLiteral("du har inte behörighet att skriva i mappen");
    }
    return writeCause(error);
}

bool writeAll(int fd, const QByteArray &bytes, off_t at)
{
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t n =
            ::pwrite(fd, bytes.constData() + done, size_t(bytes.size() - done), at + off_t(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        done += n;
    }
    return true;
}

bool readAll(int fd, QByteArray *bytes)
{
    char chunk[ChunkBytes];
    for (off_t at = 0;;) {
        const ssize_t n = ::pread(fd, chunk, sizeof chunk, at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        bytes->append(chunk, n);
        at += n;
    }
}

bool replaceContent(int fd, const QByteArray &content)
{
    return writeAll(fd, content, 0) && ::ftruncate(fd, off_t(content.size())) == 0 &&
           ::fsync(fd) == 0;
}

} // namespace

SequentialInput::SequentialInput(const QString &fileName)
    : m_name(fileName), m_file(openExerciseFile(fileName, ExerciseFileKind::Exercise))
{}

SequentialInput::~SequentialInput() = default;

void SequentialInput::close()
{
    m_file->close();
}

int SequentialInput::peek()
{
    if (m_pos >= m_buffer.size()) {
        if (!m_file->isOpen())
            return -1;
        m_buffer = m_file->read(ChunkBytes);
        m_pos = 0;
        if (m_buffer.isEmpty())
            return -1;
    }
    return static_cast<unsigned char>(m_buffer.at(m_pos));
}

int SequentialInput::get()
{
    const int c = peek();
    if (c >= 0)
        ++m_pos;
    return c;
}

void SequentialInput::endOfLine(int c)
{
    if (c == '\r' && peek() == '\n')
        get();
    ++m_line;
}

void SequentialInput::runToDelimiter(QByteArray *keep)
{
    for (int c = get(); c >= 0; c = get()) {
        if (c == ',')
            return;
        if (c == '\r' || c == '\n') {
            endOfLine(c);
            return;
        }
        if (keep) {
            keep->append(char(c));
            if (keep->size() > MaxItemBytes)
                throw tooLong();
        }
    }
}

RuntimeError SequentialInput::tooLong() const
{
    return RuntimeError(ErrorNumber::TypeMismatch,
                        QStringLiteral("Filen %1, rad %2: raden är för lång för ett filnamn "
                                       "eller en siffra.")
                            .arg(quoted(m_name))
                            .arg(m_line));
}

SequentialInput::Item SequentialInput::readItem()
{
    while (peek() == ' ')
        get();
    if (peek() < 0) {
        throw RuntimeError(ErrorNumber::InputPastEndOfFile,
                           QStringLiteral("Filen %1 tar slut efter rad %2: den ska ha 11 rader "
                                          "(10 filnamn och en siffra), men bara %3 värden "
                                          "fanns.")
                               .arg(quoted(m_name))
                               .arg(m_line - 1)
                               .arg(m_itemsRead));
    }

    Item item{{}, m_line};
    if (peek() == '"') {
        get();
        for (int c = get(); c >= 0 && c != '"'; c = get()) {
            if (c == '\r' || c == '\n') {
                // The end of a line ends an item, even an unclosed quoted one.
                endOfLine(c);
                ++m_itemsRead;
                return item;
            }
            item.bytes.append(char(c));
            if (item.bytes.size() > MaxItemBytes)
                throw tooLong();
        }
        // Whatever stands between the closing quote and the next delimiter is not part of
        // the item.
        runToDelimiter(nullptr);
    } else {
        runToDelimiter(&item.bytes);
        while (item.bytes.endsWith(' '))
            item.bytes.chop(1);
    }
    ++m_itemsRead;
    return item;
}

QString SequentialInput::readString()
{
    const Item item = readItem();
    const QString name = decode(item.bytes);
    // Every string item of the file names a file of the exercise folder.
    checkBareName(name,
                  QStringLiteral("Filen %1, rad %2: namnet").arg(quoted(m_name)).arg(item.line));
    return name;
}

qint16 SequentialInput::readInteger()
{
    const Item item = readItem();
    const QByteArray &b = item.bytes;
    qsizetype i = (b.startsWith('-') || b.startsWith('+')) ? 1 : 0;
    bool digits = i < b.size();
    for (qsizetype k = i; k < b.size(); ++k)
        digits = digits && b.at(k) >= '0' && b.at(k) <= '9';
    if (!digits) {
        throw RuntimeError(ErrorNumber::TypeMismatch,
                           QStringLiteral("Filen %1, rad %2: %3 är inget heltal (0 eller 1 "
                                          "väntades).")
                               .arg(quoted(m_name))
                               .arg(item.line)
                               .arg(shown(b)));
    }
    bool ok = false;
    const qlonglong value = b.toLongLong(&ok);
    if (!ok || value < -32768 || value > 32767) {
        throw RuntimeError(ErrorNumber::Overflow,
                           QStringLiteral("Filen %1, rad %2: talet %3 ligger utanför "
                                          "-32768 till 32767.")
                               .arg(quoted(m_name))
                               .arg(item.line)
                               .arg(shown(b)));
    }
    return qint16(value);
}

bool isStorableName(const QString &name)
{
    if (!isBareName(name) || name.contains(QLatin1Char('"')) || name.contains(QLatin1Char('\r')) ||
        name.contains(QLatin1Char('\n')))
        return false;
    bool failed = false;
    const QByteArray bytes = encode(name, &failed);
    return !failed && decode(bytes) == name;
}

SequentialOutput::SequentialOutput(const QString &fileName) : m_name(fileName) {}

void SequentialOutput::writeString(const QString &text)
{
    if (!isStorableName(text)) {
        throw RuntimeError(ErrorNumber::InvalidPropertyValue,
                           QStringLiteral("Namnet %1 kan inte sparas i %2: det är tomt, är "
                                          "ingen fil i övningens mapp eller innehåller "
                                          "citattecken, radbrytningar eller tecken som filen "
                                          "inte kan lagra.")
                               .arg(quoted(text), quoted(m_name)));
    }
    m_content += '"' + encode(text) + "\"\r\n";
}

void SequentialOutput::writeInteger(qint16 value)
{
    m_content += QByteArray::number(value) + "\r\n";
}

struct SequentialOutput::Failure
{
    QString cause;
    int error;
};

void SequentialOutput::commit()
{
    try {
        save();
    } catch (const Failure &f) {
        throw RuntimeError(ErrorNumber::PathFileAccessError,
                           QStringLiteral("Filen %1 kunde inte sparas (%2): %3 (%4). %5")
                               .arg(quoted(m_name), where(m_name), f.cause, systemWords(f.error),
                                    m_oldFileDamaged
                                        ? QStringLiteral("Den gamla filen kan vara skadad.")
                                        : QStringLiteral("Den gamla filen är orörd.")));
    }
}

void SequentialOutput::save()
{
    const QByteArray path = QFile::encodeName(m_name);
    struct stat old;
    const bool exists = ::stat(path.constData(), &old) == 0;
    if (!exists && errno != ENOENT) {
        const int error = errno;
        throw Failure{folderCause(m_name, error), error};
    }
    if (exists) {
        if (S_ISDIR(old.st_mode))
            throw Failure{QStringLiteral("det finns en mapp med det namnet"), EISDIR};
        if (!S_ISREG(old.st_mode))
            throw Failure{QStringLiteral("den är ingen vanlig fil"), EINVAL};
        // Root may write anything, but a file that no one may write was made read-only on
        // purpose, and "Spara" must not undo that.
        if (!(old.st_mode & 0222))
            throw Failure{QStringLiteral("filen är skrivskyddad"), EACCES};
        if (::faccessat(AT_FDCWD, path.constData(), W_OK, AT_EACCESS) != 0) {
            const int error = errno;
            throw Failure{error == EROFS ? writeCause(error)
                                         : QStringLiteral("du har inte behörighet att skriva i "
                                                          "filen"),
                          error};
        }
    }

    QSaveFile file(m_name);
    if (!file.open(QIODevice::WriteOnly)) {
        const int error = errno;
        throw Failure{folderCause(m_name, error), error};
    }
    // Written past Qt's buffer, so that each failure comes with its own errno: a full disk
    // must not be told apart from a missing permission by guessing.
    const int fd = file.handle();
    if (!writeAll(fd, m_content, 0) || ::fsync(fd) != 0) {
        const int error = errno;
        file.cancelWriting();
        throw Failure{writeCause(error), error};
    }

    // The new file is the saver's; it takes the old one's owner and group where the saver may
    // give them (root always; others their own name and a group they belong to), then its mode.
    const bool keepsOwner = !exists || ::fchown(fd, old.st_uid, old.st_gid) == 0;
    if (exists && ::fchmod(fd, old.st_mode & 07777) != 0) {
        const int error = errno;
        file.cancelWriting();
        throw Failure{writeCause(error), error};
    }
    if (!keepsOwner) {
        // Replaced, the file would change hands, and those who may read it only through its
        // owner or group could no longer. Writing the old file itself keeps all of that; the
        // complete content is already on disk beside it, so nothing is written into it that
        // could fail half-way for want of the content.
        rewriteInPlace(path, old);
        file.cancelWriting();
        return;
    }
    if (!file.commit()) {
        const int error = errno;
        throw Failure{writeCause(error), error};
    }
    // The rename itself reaches the disk only with the folder.
    const int folder = ::open(QFile::encodeName(QFileInfo(where(m_name)).absolutePath()),
                              O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
}

void SequentialOutput::rewriteInPlace(const QByteArray &path, const struct stat &old)
{
    const int fd = ::open(path.constData(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        throw Failure{writeCause(error), error};
    }
    struct stat now;
    QByteArray previous;
    const bool same = ::fstat(fd, &now) == 0 && S_ISREG(now.st_mode) && now.st_dev == old.st_dev &&
                      now.st_ino == old.st_ino;
    if (!same || !readAll(fd, &previous)) {
        const int error = same ? errno : EBUSY;
        ::close(fd);
        throw Failure{same ? QStringLiteral("den gamla filen gick inte att läsa")
                           : QStringLiteral("filen byttes ut medan den sparades"),
                      error};
    }
    // Claim the room first where the file system can: a disk too full for the new content then
    // fails before a byte of the old content is touched.
    if (m_content.size() > previous.size() &&
        ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, off_t(m_content.size())) != 0 &&
        (errno == ENOSPC || errno == EDQUOT)) {
        const int error = errno;
        ::close(fd);
        throw Failure{writeCause(error), error};
    }
    if (!replaceContent(fd, m_content)) {
        const int error = errno;
        m_oldFileDamaged = !replaceContent(fd, previous);
        ::close(fd);
        throw Failure{writeCause(error), error};
    }
    ::close(fd);
}
