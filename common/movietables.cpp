#include "common/movietables.h"

#include <QByteArray>
#include <QList>
#include <QtEndian>

#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

namespace {

constexpr quint32 tag(const char (&s)[5])
{
    return quint32(uchar(s[0])) << 24 | quint32(uchar(s[1])) << 16 | quint32(uchar(s[2])) << 8 |
           quint32(uchar(s[3]));
}

constexpr qint64 MiB = 1 << 20;

// One box of a buffer: its type and where its body begins and ends.
struct Box
{
    quint32 type = 0;
    qint64 body = 0;
    qint64 end = 0;
};

// The boxes from `begin` to `end` of `data`, one after the other; a box that does not fit ends
// the walk (the demuxer stops there too).
class Boxes
{
public:
    Boxes(const QByteArray &data, qint64 begin, qint64 end) : m_data(data), m_at(begin), m_end(end)
    {}

    bool next(Box &box)
    {
        if (m_end - m_at < 8)
            return false;
        qint64 size = be32(m_at);
        box.type = be32(m_at + 4);
        box.body = m_at + 8;
        if (size == 1) {
            if (m_end - m_at < 16)
                return false;
            size = qint64(qMin<quint64>(be64(m_at + 8), quint64(m_end - m_at)));
            box.body += 8;
        } else if (size == 0) {
            size = m_end - m_at;
        }
        if (size < box.body - m_at || size > m_end - m_at)
            return false;
        box.end = m_at + size;
        m_at = box.end;
        return true;
    }

    // Big-endian values in the buffer, 0 past its end.
    quint32 be32(qint64 at) const
    {
        return at >= 0 && at + 4 <= m_data.size() ? qFromBigEndian<quint32>(m_data.constData() + at)
                                                  : 0;
    }
    quint64 be64(qint64 at) const { return quint64(be32(at)) << 32 | be32(at + 4); }

private:
    const QByteArray &m_data;
    qint64 m_at;
    qint64 m_end;
};

// What one track's tables claim.
struct Track
{
    quint32 handler = 0;
    qint64 sampleSize = 0; // one size for all samples, 0 when each has its own
    qint64 samples = 0;
    qint64 tableRoom = -1; // entries the size table has room for, -1 without a table
    QList<QPair<qint64, qint64>> chunkRuns; // first chunk (from 1), samples in each chunk
    qint64 chunks = 0;
    qint64 edits = 0;
};

class Check
{
public:
    explicit Check(qint64 fileSize) : m_fileSize(fileSize) {}

    QString fault;

    void movie(const QByteArray &data, qint64 begin, qint64 end, bool inflated)
    {
        Boxes boxes(data, begin, end);
        for (Box box; fault.isEmpty() && boxes.next(box);) {
            if (box.type == tag("trak")) {
                Track track;
                readTrack(boxes, data, box, track);
                countTrack(track);
            } else if (box.type == tag("cmov")) {
                compressedMovie(data, box, inflated);
            }
        }
    }

    void fragment(const QByteArray &data)
    {
        Boxes top(data, 0, data.size());
        Box moof;
        if (!top.next(moof))
            return;
        Boxes trafs(data, moof.body, moof.end);
        for (Box traf; fault.isEmpty() && trafs.next(traf);) {
            if (traf.type != tag("traf"))
                continue;
            Boxes runs(data, traf.body, traf.end);
            for (Box run; fault.isEmpty() && runs.next(run);) {
                if (run.type != tag("trun"))
                    continue;
                const quint32 flags = runs.be32(run.body) & 0xffffff;
                const qint64 count = runs.be32(run.body + 4);
                // Each sample's own duration, size, flags and time offset take 4 bytes each.
                const qint64 perSample = 4 * qPopulationCount(flags & 0xf00);
                const qint64 room = perSample > 0 ? (run.end - run.body) / perSample : m_fileSize;
                if (count > room) {
                    tableTooShort(count, room);
                    return;
                }
                addEntries(count);
            }
        }
    }

private:
    void readTrack(const Boxes &b, const QByteArray &data, const Box &parent, Track &t)
    {
        static const quint32 containers[] = {tag("mdia"), tag("minf"), tag("stbl"), tag("edts")};
        Boxes boxes(data, parent.body, parent.end);
        for (Box box; boxes.next(box);) {
            const qint64 at = box.body;
            if (std::find(std::begin(containers), std::end(containers), box.type) !=
                std::end(containers)) {
                readTrack(b, data, box, t);
            } else if (box.type == tag("hdlr")) {
                t.handler = b.be32(at + 8);
            } else if (box.type == tag("stsz")) {
                t.sampleSize = b.be32(at + 4);
                t.samples = b.be32(at + 8);
                if (t.sampleSize == 0)
                    t.tableRoom = (box.end - at - 12) / 4;
            } else if (box.type == tag("stz2")) {
                const qint64 bits = b.be32(at + 4) & 0xff;
                t.samples = b.be32(at + 8);
                t.tableRoom = bits > 0 ? (box.end - at - 12) * 8 / bits : 0;
            } else if (box.type == tag("stsc")) {
                const qint64 count = qMin<qint64>(b.be32(at + 4), (box.end - at - 8) / 12);
                for (qint64 i = 0; i < count; ++i)
                    t.chunkRuns.append({b.be32(at + 8 + 12 * i), b.be32(at + 12 + 12 * i)});
            } else if (box.type == tag("stco") || box.type == tag("co64")) {
                const qint64 width = box.type == tag("stco") ? 4 : 8;
                t.chunks = qMin<qint64>(b.be32(at + 4), (box.end - at - 8) / width);
            } else if (box.type == tag("elst")) {
                t.edits = b.be32(at + 4);
            }
        }
    }

    void countTrack(const Track &t)
    {
        if (t.tableRoom >= 0 && t.samples > t.tableRoom)
            return tableTooShort(t.samples, t.tableRoom);
        qint64 entries = t.samples;
        if (t.handler == tag("soun") && t.sampleSize > 0) {
            // Sound of one sample size is indexed by chunks, in pieces of up to 1024 samples,
            // and its sample size need not be in bytes: the chunks are what is counted.
            entries = 0;
            for (qsizetype i = 0; i < t.chunkRuns.size() && entries <= MaxIndexEntries; ++i) {
                const qint64 next =
                    i + 1 < t.chunkRuns.size() ? t.chunkRuns[i + 1].first : t.chunks + 1;
                const qint64 chunks = qBound<qint64>(0, next - t.chunkRuns[i].first, t.chunks);
                entries += chunks * ((t.chunkRuns[i].second + 1023) / 1024);
            }
        } else if (t.samples > m_fileSize ||
                   (t.sampleSize > 0 && t.samples > m_fileSize / t.sampleSize)) {
            // Every sample lies in the file and takes at least a byte of it.
            fault = QStringLiteral("filen är felaktig: ett spår i den påstår sig ha %1 bildrutor "
                                   "eller ljudprov, fler än filens %2 byte kan rymma")
                        .arg(t.samples)
                        .arg(m_fileSize);
            return;
        }
        // Each edit of a track can index its samples once more.
        addEntries(entries * qBound<qint64>(1, t.edits, MaxIndexEntries));
    }

    void compressedMovie(const QByteArray &data, const Box &cmov, bool inflated)
    {
        Boxes boxes(data, cmov.body, cmov.end);
        for (Box box; boxes.next(box);) {
            if (box.type != tag("cmvd"))
                continue;
            const qint64 size = boxes.be32(box.body);
            if (inflated) {
                fault = QStringLiteral("filen är felaktig: dess packade filhuvud innehåller ännu "
                                       "ett packat filhuvud");
            } else if (size > MaxHeaderBytes) {
                fault = QStringLiteral("filen är för stor: dess packade filhuvud blir %1 MB "
                                       "uppackat, mer än de %2 MB som programmet tar emot")
                            .arg(size / MiB)
                            .arg(MaxHeaderBytes / MiB);
            } else {
                // Unpacked into exactly the size it claims, as the demuxer does.
                QByteArray header(qMax<qint64>(size, 1), Qt::Uninitialized);
                uLongf length = uLongf(size);
                const auto *packed =
                    reinterpret_cast<const Bytef *>(data.constData() + box.body + 4);
                if (::uncompress(reinterpret_cast<Bytef *>(header.data()), &length, packed,
                                 uLong(qMax<qint64>(0, box.end - box.body - 4))) != Z_OK) {
                    fault = QStringLiteral("filen är felaktig: dess packade filhuvud går inte "
                                           "att packa upp");
                    return;
                }
                header.truncate(qsizetype(length));
                Boxes inner(header, 0, header.size());
                for (Box moov; fault.isEmpty() && inner.next(moov);) {
                    if (moov.type == tag("moov"))
                        movie(header, moov.body, moov.end, true);
                }
            }
            return;
        }
    }

    void tableTooShort(qint64 count, qint64 room)
    {
        fault = QStringLiteral("filen är felaktig: en tabell i den räknar %1 poster men rymmer "
                               "bara %2")
                    .arg(count)
                    .arg(room);
    }

    void addEntries(qint64 entries)
    {
        m_entries += qMin(entries, MaxIndexEntries + 1);
        if (m_entries > MaxIndexEntries && fault.isEmpty()) {
            fault = QStringLiteral("filen är för stor: dess register har fler än %1 bildrutor "
                                   "och ljudprov, mer än programmet tar emot")
                        .arg(MaxIndexEntries);
        }
    }

    qint64 m_fileSize;
    qint64 m_entries = 0;
};

QByteArray readAt(int fd, qint64 at, qint64 size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    qint64 done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd, bytes.data() + done, size_t(size - done), off_t(at + done));
        if (n <= 0)
            break;
        done += n;
    }
    bytes.truncate(qsizetype(done));
    return bytes;
}

} // namespace

QString movieTablesFault(int fd)
{
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return QString();
    const qint64 fileSize = st.st_size;
    Check check(fileSize);
    bool first = true;
    // The demuxer walks every box too; a file of nothing but millions of tiny boxes is no
    // recording, and would hide its header behind them.
    constexpr int MaxTopBoxes = 1'000'000;
    int boxCount = 0;
    for (qint64 at = 0; at < fileSize && check.fault.isEmpty();) {
        if (++boxCount > MaxTopBoxes) {
            return QStringLiteral("filen är felaktig: den består av fler än %1 delar")
                .arg(MaxTopBoxes);
        }
        const QByteArray head = readAt(fd, at, 16);
        Boxes boxes(head, 0, head.size());
        qint64 size = boxes.be32(0);
        const quint32 type = boxes.be32(4);
        // Only a file that starts as a QuickTime file is one.
        static const quint32 starts[] = {tag("ftyp"), tag("moov"), tag("mdat"), tag("free"),
                                         tag("skip"), tag("wide"), tag("pnot"), tag("uuid")};
        if (first && std::find(std::begin(starts), std::end(starts), type) == std::end(starts))
            return QString();
        first = false;
        qint64 headerSize = 8;
        if (size == 1) {
            size = qint64(qMin<quint64>(boxes.be64(8), quint64(fileSize - at)));
            headerSize = 16;
        } else if (size == 0) {
            size = fileSize - at;
        }
        if (head.size() < headerSize || size < headerSize)
            break;
        if (type == tag("moov") || type == tag("moof")) {
            const qint64 stored = qMin(size, fileSize - at);
            if (stored > MaxHeaderBytes) {
                return QStringLiteral("filen är för stor: dess filhuvud är %1 MB, mer än de %2 "
                                      "MB som programmet tar emot")
                    .arg(stored / MiB)
                    .arg(MaxHeaderBytes / MiB);
            }
            const QByteArray box = readAt(fd, at, stored);
            if (type == tag("moov"))
                check.movie(box, headerSize, box.size(), false);
            else
                check.fragment(box);
        }
        at += size;
    }
    return check.fault;
}
