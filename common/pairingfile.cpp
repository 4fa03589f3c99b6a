#include "pairingfile.h"

#include "runtimeerror.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>

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

// The system's own words come in English; a teacher gets the likely cause in Swedish first,
// with the system's words after it for whoever helps.
QString reason(const QString &name, const QString &systemWords, bool writing)
{
    const QFileInfo file(name);
    const QFileInfo folder(QFileInfo(where(name)).absolutePath());
    QString cause;
    if (!writing && file.exists() && !file.isReadable())
        cause = QStringLiteral("du har inte behörighet att läsa den");
    else if (writing && file.exists() && !file.isWritable())
        cause = QStringLiteral("filen är skrivskyddad");
    else if (writing && !folder.isWritable())
        cause = QStringLiteral("mappen är skrivskyddad");
    else if (writing)
        cause = QStringLiteral("skrivningen misslyckades, kanske är disken full");
    else
        cause = QStringLiteral("den gick inte att läsa");
    return QStringLiteral("%1 (%2)").arg(cause, systemWords);
}

} // namespace

SequentialInput::SequentialInput(const QString &fileName)
    : m_name(fileName), m_file(std::make_unique<QFile>(fileName))
{
    const QFileInfo info(fileName);
    if (!info.exists()) {
        throw RuntimeError(
            ErrorNumber::FileNotFound,
            QStringLiteral("Filen %1 hittades inte (%2).").arg(quoted(fileName), where(fileName)));
    }
    if (info.isDir()) {
        throw RuntimeError(ErrorNumber::PathFileAccessError,
                           QStringLiteral("%1 är en mapp, inte en fil (%2).")
                               .arg(quoted(fileName), where(fileName)));
    }
    if (!m_file->open(QIODevice::ReadOnly)) {
        throw RuntimeError(
            ErrorNumber::PermissionDenied,
            QStringLiteral("Filen %1 kunde inte öppnas för läsning: %2.")
                .arg(quoted(fileName), reason(fileName, m_file->errorString(), false)));
    }
}

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
    if (name.contains(QLatin1Char('"')) || name.contains(QLatin1Char('\r')) ||
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
                           QStringLiteral("Namnet %1 kan inte sparas i %2: det innehåller "
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

void SequentialOutput::commit()
{
    auto failed = [this](const QString &why) {
        return RuntimeError(ErrorNumber::PathFileAccessError,
                            QStringLiteral("Filen %1 kunde inte sparas (%2): %3. Den gamla filen "
                                           "är orörd.")
                                .arg(quoted(m_name), where(m_name), reason(m_name, why, true)));
    };
    QSaveFile file(m_name);
    if (!file.open(QIODevice::WriteOnly))
        throw failed(file.errorString());
    // A write that fails only when the buffer is flushed inside commit() must not let commit()
    // rename a short file over the old one, so flush and check first.
    if (file.write(m_content) != m_content.size() || !file.flush() ||
        file.error() != QFileDevice::NoError) {
        const QString why = file.errorString();
        file.cancelWriting();
        throw failed(why);
    }
    if (!file.commit())
        throw failed(file.errorString());
}
