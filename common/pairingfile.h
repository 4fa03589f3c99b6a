#pragma once

// The exercise file pirvel.ini, the one thing the quiz and the editor share.
//
// It is a plain list of items: a string item is a quoted name on a line of its own, an integer
// item is bare digits, lines end in CR LF and the text is Windows-1252. SequentialInput reads item
// by item, so each program can put the values where it keeps them; SequentialOutput collects the
// items and writes them into the very file that was read, or makes a new one where there was none.
//
// PairingFileState is what the name held when the editor read it: "Spara" writes that file and
// no other. A file that has since been replaced, moved, turned into a link or changed is
// reported instead of written, and the state then becomes what was found, so that a second
// "Spara" replaces it knowingly.

#include "common/runtimeerror.h"

#include <QByteArray>
#include <QString>
#include <memory>

inline const QString PairingFileName = QStringLiteral("pirvel.ini");

class QFile;
struct stat;

struct PairingFileState
{
    bool exists = false;
    // The name was a symbolic link when the file was read: it is written through the link as
    // long as the link still leads to the same file.
    bool throughLink = false;
    unsigned type = 0; // the file type bits of what the name itself is
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = 0;
    qint64 modified = 0; // nanoseconds since the epoch
    QByteArray digest;   // of the whole content; empty when it is too large to read whole

    // What `name` holds now. With `fd`, the file open on it (read through a link, if it is one).
    static PairingFileState of(const QString &name, int fd = -1);
    bool operator==(const PairingFileState &other) const;
};

class SequentialInput
{
public:
    // Opens the file of the working directory; a missing or unreadable file, or one that is no
    // regular file, is a run-time error.
    explicit SequentialInput(const QString &fileName);
    ~SequentialInput();
    SequentialInput(const SequentialInput &) = delete;
    SequentialInput &operator=(const SequentialInput &) = delete;

    // Each string item names a file of the exercise folder: a path, "." or ".." is a run-time
    // error naming the line.
    QString readString();
    // The same item with no check of what it names.
    QString readStringAsWritten();
    qint16 readInteger();
    void close();
    const PairingFileState &state() const { return m_state; }

private:
    struct Item
    {
        QByteArray bytes;
        int line;
    };
    Item readItem();
    void endOfLine(int c);
    // Reads on to the next comma or line end, keeping what it passes in `keep` if given.
    void runToDelimiter(QByteArray *keep);
    RuntimeError tooLong() const;
    int get();
    int peek();

    QString m_name;
    std::unique_ptr<QFile> m_file;
    QByteArray m_buffer;
    qsizetype m_pos = 0;
    int m_line = 1;
    int m_itemsRead = 0;
    int m_lastItemLine = 0;
    PairingFileState m_state;
};

class SequentialOutput
{
public:
    explicit SequentialOutput(const QString &fileName);

    // An empty name, a name that is no bare file name, and a name that would not read back the
    // same (a quote, a line break, a character outside Windows-1252) are refused with a run-time
    // error before anything is written.
    void writeString(const QString &text);
    void writeInteger(qint16 value);
    // Writes the file that `expected` describes: the old file in place, so that its owner,
    // group, mode, ACLs, extended attributes and hard links stay as they were, or a new file
    // where there was none. A kill at any moment leaves the old content or the new, and nothing
    // beside it. Anything else found under the name is reported with a run-time error and
    // `expected` becomes what was found. A file without write permission for anyone is refused,
    // even for root, and so is a read-only folder. On a failure the old file is left as it was;
    // the error's text says so, and what to do.
    void commit(PairingFileState &expected);
    // The same for whatever the name now holds.
    void commit();

private:
    struct Failure;
    struct Found;
    void save(const PairingFileState &expected);
    void writeInPlace(int fd, const PairingFileState &old);
    void writeNew(bool replacing);

    QString m_name;
    QByteArray m_content;
    bool m_oldFileDamaged = false;
};

// True when `name` is a bare file name that survives a write and a read back unchanged.
bool isStorableName(const QString &name);
