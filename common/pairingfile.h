#pragma once

// The exercise file pirvel.ini, the one thing the quiz and the editor share.
//
// It is read and written the way classic sequential text input and output work: a string item
// is a quoted name on a line of its own, an integer item is bare digits, lines end in CR LF and
// the text is Windows-1252. SequentialInput reads item by item, so each program can put the
// values where it keeps them; SequentialOutput collects the items and replaces the file only
// once the whole new content is safely on disk.

#include "common/runtimeerror.h"

#include <QByteArray>
#include <QString>
#include <memory>

inline const QString PairingFileName = QStringLiteral("pirvel.ini");

class QFile;
struct stat;

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
    qint16 readInteger();
    void close();

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
    // Writes everything to a temporary file beside the target and renames it over the target
    // only when it is complete, with the old file's mode, owner and group. Where the saver may
    // not give the new file that owner or group, the old file is rewritten in place instead,
    // once the new content is safely beside it, so that no one loses access. A file without
    // write permission for anyone is refused, even for root. On any failure the old file is
    // left as it was.
    void commit();

private:
    struct Failure;
    void save();
    void rewriteInPlace(const QByteArray &path, const struct stat &old);

    QString m_name;
    QByteArray m_content;
    bool m_oldFileDamaged = false;
};

// True when `name` is a bare file name that survives a write and a read back unchanged.
bool isStorableName(const QString &name);
