#include "common/pairingfile.h"

#include "common/exercisefile.h"
#include "common/runtimeerror.h"
#include "common/swedish.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QStringList>

#include <cerrno>
#include <climits>
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
// A write that stays within one page is never split by a kill: the kernel copies the page whole
// or not at all. The new content always fits in one, as no name is longer than NAME_MAX bytes.
constexpr qint64 PageBytes = 4096;
// A file larger than this is compared by its size and time of change, not by its content.
constexpr qint64 MaxDigestBytes = 1 << 20;

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

QString writeCause(int error)
{
    return systemCause(error, FileAccess::Write);
}

// "Filen "pirvel.ini" i mappen "/x"": every report about the file begins so.
QString fileInFolder(const QString &name)
{
    return QStringLiteral("%1 i mappen %2")
        .arg(namedFile(name, ExerciseFileKind::Exercise), exerciseFolder());
}

// A line of the file that is wrong is mended there, or the exercise is made again: Kolmiras
// stops at the same line, so it cannot open the file to mend it.
QString lineStep(int line)
{
    return QStringLiteral("rätta rad %1 i filen, eller ta bort filen och skapa övningen på nytt "
                          "i Kolmiras")
        .arg(line);
}

// Why no new file could be made beside the old one.
QString folderCause(const QString &name, int error)
{
    const QByteArray folder = QFile::encodeName(QFileInfo(where(name)).absolutePath());
    struct statvfs fs;
    if (error == EROFS || (::statvfs(folder.constData(), &fs) == 0 && (fs.f_flag & ST_RDONLY)))
        return writeCause(EROFS);
    struct stat st;
    if (::faccessat(AT_FDCWD, folder.constData(), W_OK | X_OK, AT_EACCESS) != 0) {
        if (::stat(folder.constData(), &st) == 0 && !(st.st_mode & 0222))
            return QStringLiteral("mappen är skrivskyddad");
        return QStringLiteral("du har inte behörighet att skriva i mappen");
    }
    return writeCause(error);
}

// Writes `bytes` at offset 0; `done` counts what reached the file, also on a failure.
bool writeAll(int fd, const QByteArray &bytes, qsizetype *done = nullptr)
{
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::pwrite(fd, bytes.constData() + written, size_t(bytes.size() - written),
                                   off_t(written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            break;
        }
        written += n;
    }
    if (done)
        *done = written;
    return written == bytes.size();
}

// Up to `limit` bytes from the start of the file; false when it cannot be read.
bool readHead(int fd, qint64 limit, QByteArray *bytes)
{
    char chunk[ChunkBytes];
    while (bytes->size() < limit) {
        const ssize_t n =
            ::pread(fd, chunk, size_t(qMin<qint64>(ChunkBytes, limit - bytes->size())),
                    off_t(bytes->size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            break;
        bytes->append(chunk, n);
    }
    return true;
}

QByteArray digestOf(int fd, qint64 size)
{
    QByteArray content;
    if (size > MaxDigestBytes || !readHead(fd, MaxDigestBytes + 1, &content) ||
        content.size() > MaxDigestBytes)
        return {};
    // A file whose content is empty still has a digest, told apart from "not compared".
    return QCryptographicHash::hash(content, QCryptographicHash::Sha256);
}

void syncFolder()
{
    const int folder = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
}

// Every text of a save that did not happen is here. Each says what happened, to which file, and
// what to do; the editor keeps the choices meanwhile.
const char *const KeptChoices =
    "Dina val finns kvar: tryck Spara igen när det är ordnat, eller Avbryt.";

QString remedy(int error)
{
    switch (error) {
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("Gör plats på disken genom att ta bort filer du inte behöver.");
    case EROFS:
    case EACCES:
    case EPERM:
        return QStringLiteral("Kopiera hela övningens mapp till en egen mapp (till exempel i "
                              "Dokument) och starta Kolmiras i kopian, eller be den som äger "
                              "mappen om skrivrätt.");
    case EIO:
        return QStringLiteral("Kontrollera disken eller USB-minnet.");
    default:
        return QStringLiteral("Kopiera övningens mapp till en annan disk och starta Kolmiras "
                              "där.");
    }
}

QString notSavedText(const QString &name, const QString &cause, int error, const QString &todo,
                     bool damaged)
{
    QStringList text = {QStringLiteral("Dina val sparades inte: %1 kunde inte skrivas, för %2.")
                            .arg(fileInFolder(name).replace(0, 1, QStringLiteral("f")), cause),
                        damaged ? QStringLiteral("Den gamla filen kan ha skadats.")
                                : QStringLiteral("Övningen är som förut."),
                        todo.isEmpty() ? remedy(error) : todo, QString::fromUtf8(KeptChoices)};
    text.removeAll(QString());
    return text.join(QLatin1Char(' '));
}

QString foundText(const QString &name, const PairingFileState &was, const PairingFileState &now)
{
    QString what;
    QString next = QStringLiteral("Tryck Spara igen för att ersätta den med dina val, eller "
                                  "Avbryt för att låta den vara.");
    if (!now.exists) {
        what = QStringLiteral("finns inte längre: den har flyttats eller tagits bort sedan "
                              "Kolmiras läste den");
        next = QStringLiteral("Tryck Spara igen för att göra en ny med dina val, eller Avbryt.");
    } else if (!was.exists) {
        what = QStringLiteral("har skapats av något annat program sedan Kolmiras startade");
    } else if (S_ISLNK(now.type) && !now.throughLink) {
        const QString target = QFileInfo(where(name)).symLinkTarget();
        what = QStringLiteral("har bytts mot en länk till %1 sedan Kolmiras läste den, och "
                              "Kolmiras skriver aldrig genom en sådan länk")
                   .arg(quoted(target));
        next = QStringLiteral("Tryck Spara igen för att ersätta länken med en ny fil med dina "
                              "val (filen som länken leder till lämnas orörd), eller Avbryt.");
    } else if (!S_ISREG(now.type) && !now.throughLink) {
        what = QStringLiteral("är inte längre en vanlig fil");
    } else if (now.device != was.device || now.inode != was.inode) {
        what = QStringLiteral("har bytts ut mot en annan fil sedan Kolmiras läste den");
    } else {
        what = QStringLiteral("har ändrats av något annat program sedan Kolmiras läste den");
    }
    return QStringLiteral("%1 %2. Dina val sparades inte, och ingenting skrevs över. %3")
        .arg(fileInFolder(name), what, next);
}

} // namespace

PairingFileState PairingFileState::of(const QString &name, int fd)
{
    PairingFileState s;
    const QByteArray path = QFile::encodeName(name);
    struct stat st;
    if (::lstat(path.constData(), &st) != 0) {
        s.exists = errno != ENOENT;
        return s;
    }
    s.exists = true;
    s.type = st.st_mode & S_IFMT;
    int own = -1;
    if (fd < 0 && S_ISREG(st.st_mode))
        fd = own =
            ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd >= 0 && ::fstat(fd, &st) == 0) {
        s.throughLink = S_ISLNK(s.type);
        if (S_ISREG(st.st_mode))
            s.digest = digestOf(fd, st.st_size);
    }
    if (own >= 0)
        ::close(own);
    s.device = st.st_dev;
    s.inode = st.st_ino;
    s.size = st.st_size;
    s.modified = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return s;
}

bool PairingFileState::operator==(const PairingFileState &o) const
{
    if (exists != o.exists || !exists)
        return exists == o.exists;
    // The content decides where it can be read: a save that failed and put the old bytes back
    // has touched the time, not the file.
    const bool sameContent = digest.isEmpty() || o.digest.isEmpty()
                                 ? size == o.size && modified == o.modified
                                 : digest == o.digest;
    return throughLink == o.throughLink && type == o.type && device == o.device &&
           inode == o.inode && sameContent;
}

SequentialInput::SequentialInput(const QString &fileName)
    : m_name(fileName), m_file(openExerciseFile(fileName, ExerciseFileKind::Exercise)),
      m_state(PairingFileState::of(fileName, m_file->handle()))
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
                        QStringLiteral("%1, rad %2: raden är för lång för ett filnamn eller en "
                                       "siffra, så filen är ingen övning.")
                            .arg(fileInFolder(m_name), QString::number(m_line)),
                        nextStepFor(m_name, ExerciseFileKind::Exercise, FileTrouble::Content));
}

SequentialInput::Item SequentialInput::readItem()
{
    while (peek() == ' ')
        get();
    if (peek() < 0) {
        const QString ends =
            m_itemsRead == 0
                ? QStringLiteral("%1 är tom.").arg(fileInFolder(m_name))
                : QStringLiteral("%1 slutar efter rad %2, men en övning har 11 rader: 10 "
                                 "filnamn och en siffra.")
                      .arg(fileInFolder(m_name), QString::number(m_lastItemLine));
        throw RuntimeError(
            ErrorNumber::InputPastEndOfFile, ends,
            m_itemsRead == 0
                ? QStringLiteral("ta bort filen och skapa övningen på nytt i "
                                 "Kolmiras")
                : nextStepFor(m_name, ExerciseFileKind::Exercise, FileTrouble::Content));
    }

    Item item{{}, m_line};
    m_lastItemLine = m_line;
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
    checkBareName(
        name, QStringLiteral("%1, rad %2:").arg(fileInFolder(m_name), QString::number(item.line)),
        lineStep(item.line));
    return name;
}

QString SequentialInput::readStringAsWritten()
{
    return decode(readItem().bytes);
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
                           QStringLiteral("%1, rad %2: %3 är inget heltal, men raden ska vara 0 "
                                          "eller 1.")
                               .arg(fileInFolder(m_name), QString::number(item.line), shown(b)),
                           lineStep(item.line));
    }
    bool ok = false;
    const qlonglong value = b.toLongLong(&ok);
    if (!ok || value < -32768 || value > 32767) {
        throw RuntimeError(
            ErrorNumber::Overflow,
            QStringLiteral("%1, rad %2: talet %3 är för %4, men raden ska vara 0 "
                           "eller 1.")
                .arg(fileInFolder(m_name), QString::number(item.line), shown(b),
                     b.startsWith('-') ? QStringLiteral("litet") : QStringLiteral("stort")),
            lineStep(item.line));
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
    return !failed && decode(bytes) == name && bytes.size() <= NAME_MAX;
}

SequentialOutput::SequentialOutput(const QString &fileName) : m_name(fileName) {}

// Why a name cannot be written, as a main clause.
static QString unstorable(const QString &name)
{
    if (name.isEmpty())
        return QStringLiteral("namnet är tomt");
    if (!isBareName(name))
        return QStringLiteral("det är inget namn på en fil direkt i övningens mapp");
    if (name.contains(QLatin1Char('"')) || name.contains(QLatin1Char('\r')) ||
        name.contains(QLatin1Char('\n')))
        return QStringLiteral("filen kan inte lagra citattecken eller radbrytningar i ett namn");
    for (const char32_t c : name.toUcs4()) {
        const QString letter = QString::fromUcs4(&c, 1);
        if (!isStorableName(QStringLiteral("a") + letter))
            return QStringLiteral("filen kan inte lagra bokstaven \"%1\"").arg(letter);
    }
    return QStringLiteral("filen kan inte lagra alla dess bokstäver");
}

void SequentialOutput::writeString(const QString &text)
{
    if (!isStorableName(text)) {
        throw RuntimeError(ErrorNumber::InvalidPropertyValue,
                           QStringLiteral("Dina val sparades inte: namnet %1 kan inte skrivas i "
                                          "filen %2, för %3. Ta bort namnet ur listan och välj "
                                          "en annan fil. %4")
                               .arg(quoted(text), quoted(m_name), unstorable(text),
                                    QString::fromUtf8(KeptChoices)));
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
    QString todo; // what to do, where the error number alone does not tell it
};

// Something else than the file that was read stands under the name.
struct SequentialOutput::Found
{
    PairingFileState now;
};

void SequentialOutput::commit()
{
    PairingFileState now = PairingFileState::of(m_name);
    commit(now);
}

void SequentialOutput::commit(PairingFileState &expected)
{
    try {
        save(expected);
    } catch (const Found &found) {
        const QString text = foundText(m_name, expected, found.now);
        expected = found.now;
        throw RuntimeError(ErrorNumber::PathFileAccessError, text);
    } catch (const Failure &f) {
        // A file this save has touched is the one the next save expects.
        if (m_oldFileDamaged)
            expected = PairingFileState::of(m_name);
        throw RuntimeError(ErrorNumber::PathFileAccessError,
                           notSavedText(m_name, f.cause, f.error, f.todo, m_oldFileDamaged));
    }
}

void SequentialOutput::save(const PairingFileState &expected)
{
    const QByteArray path = QFile::encodeName(m_name);
    int followed = -1;
    if (expected.throughLink)
        followed = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    const PairingFileState now = PairingFileState::of(m_name, followed);
    if (followed >= 0)
        ::close(followed);
    if (!(now == expected))
        throw Found{now};

    if (::faccessat(AT_FDCWD, ".", W_OK | X_OK, AT_EACCESS) != 0) {
        const int error = errno;
        throw Failure{folderCause(m_name, error), error, {}};
    }
    if (!expected.exists)
        return writeNew(false);
    if (S_ISDIR(expected.type))
        throw Failure{QStringLiteral("det finns en mapp med det namnet"), EISDIR,
                      QStringLiteral("Byt namn på mappen.")};
    // Only a link or a special file that the user was told of and chose to replace.
    if (!S_ISREG(expected.type) && !expected.throughLink)
        return writeNew(true);

    struct stat st;
    // Root may write anything, but a file that no one may write was made read-only on purpose,
    // and "Spara" must not undo that.
    if (::stat(path.constData(), &st) == 0 && !(st.st_mode & 0222))
        throw Failure{QStringLiteral("filen är skrivskyddad"), EACCES,
                      QStringLiteral("Ta bort skrivskyddet i filens egenskaper om den ska "
                                     "ändras.")};
    const int fd = ::open(path.constData(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC |
                                                (expected.throughLink ? 0 : O_NOFOLLOW));
    if (fd < 0) {
        const int error = errno;
        if (error == ELOOP || error == ENOENT)
            throw Found{PairingFileState::of(m_name)};
        throw Failure{error == EACCES || error == EPERM
                          ? QStringLiteral("du har inte behörighet att skriva i filen")
                          : writeCause(error),
                      error,
                      {}};
    }
    // The name may have changed hands between the look and the open.
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || quint64(st.st_dev) != expected.device ||
        quint64(st.st_ino) != expected.inode) {
        ::close(fd);
        throw Found{PairingFileState::of(m_name)};
    }
    try {
        writeInPlace(fd, expected);
    } catch (...) {
        ::close(fd);
        throw;
    }
    ::close(fd);
}

// Written in place, the file keeps everything about it but its content. At every instant it
// holds the old content or the new one, as both programs read it: the first page, where the
// new content lies whole, is written in one call, padded with spaces after the last line to the
// old length, so that no old byte stays behind the new lines; only then is the padding cut off.
// A kill before the cut leaves the new lines and blanks, which read the same.
void SequentialOutput::writeInPlace(int fd, const PairingFileState &old)
{
    const qint64 newSize = m_content.size();
    const qint64 span = qMax(newSize, qMin(old.size, PageBytes));
    QByteArray first = m_content;
    first.append(QByteArray(span - newSize, ' '));
    QByteArray previous;
    if (!readHead(fd, span, &previous)) {
        const int error = errno;
        throw Failure{QStringLiteral("den gamla filen gick inte att läsa"), error, {}};
    }
    // Claim the room first where the file system can: a disk too full for the new content then
    // fails before a byte of the old content is touched.
    if (newSize > old.size && ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, off_t(newSize)) != 0 &&
        (errno == ENOSPC || errno == EDQUOT)) {
        const int error = errno;
        throw Failure{writeCause(error), error, {}};
    }
    qsizetype written = 0;
    if (!writeAll(fd, first, &written) || ::fsync(fd) != 0) {
        const int error = errno;
        // Back goes what was overwritten, and the length the file had.
        m_oldFileDamaged = !writeAll(fd, previous.left(written)) ||
                           (newSize > old.size && ::ftruncate(fd, off_t(old.size)) != 0);
        ::fsync(fd);
        throw Failure{writeCause(error), error, {}};
    }
    if (old.size > newSize && ::ftruncate(fd, off_t(newSize)) == 0)
        ::fsync(fd);
}

// A new file gets its name only once it is complete, so that a kill leaves nothing behind; it
// never takes the place of a file that someone made meanwhile. In `replacing`, it takes the
// place of what the user chose to replace (a link is replaced, never written through).
void SequentialOutput::writeNew(bool replacing)
{
    const QByteArray path = QFile::encodeName(m_name);
    auto spareName = [&] {
        return "." + path + "." + QByteArray::number(QRandomGenerator::global()->generate(), 36);
    };
    QByteArray named; // the name the file has while it is being written, if any
    int fd = ::open(".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    // File systems without unnamed files (FAT on a USB stick) get a named one.
    if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        named = replacing ? spareName() : path;
        fd = ::open(named.constData(), O_CREAT | O_EXCL | O_RDWR | O_NOFOLLOW | O_CLOEXEC, 0666);
    }
    if (fd < 0) {
        const int error = errno;
        if (error == EEXIST && !replacing)
            throw Found{PairingFileState::of(m_name)};
        throw Failure{folderCause(m_name, error), error, {}};
    }
    auto fail = [&](int error, const QString &cause) {
        ::close(fd);
        if (!named.isEmpty())
            ::unlink(named.constData());
        throw Failure{cause, error, {}};
    };
    if (!writeAll(fd, m_content) || ::fsync(fd) != 0) {
        const int error = errno;
        fail(error, writeCause(error));
    }
    if (named.isEmpty()) {
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd);
        for (;;) {
            const QByteArray name = replacing ? spareName() : path;
            if (::linkat(AT_FDCWD, self.constData(), AT_FDCWD, name.constData(),
                         AT_SYMLINK_FOLLOW) == 0 ||
                (errno == ENOENT &&
                 ::linkat(fd, "", AT_FDCWD, name.constData(), AT_EMPTY_PATH) == 0)) {
                if (replacing)
                    named = name;
                break;
            }
            if (errno == EEXIST && !replacing) {
                ::close(fd);
                throw Found{PairingFileState::of(m_name)};
            }
            const int error = errno;
            if (error != EEXIST)
                fail(error, folderCause(m_name, error));
        }
    }
    if (replacing && ::rename(named.constData(), path.constData()) != 0) {
        const int error = errno;
        fail(error, folderCause(m_name, error));
    }
    ::close(fd);
    syncFolder();
}
