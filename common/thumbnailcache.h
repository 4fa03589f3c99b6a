#pragma once

// The desktop's shared cache of reduced pictures ($XDG_CACHE_HOME/thumbnails), which file
// managers fill as a teacher browses the exercise folder and which this kit fills after it has
// decoded a large picture itself. A picture is shown small, so a reduced copy made once serves
// every later start, and the photo need not be decoded again.
//
// An entry counts only while the file it was made from is unchanged: its URI, its modification
// time and (where the entry records it) its size must all match. Anything else, a missing,
// stale, corrupt or unwritable cache, is a miss: the caller decodes the picture as it would
// without a cache. Nothing here ever reports an error.

#include <QImage>
#include <QSize>
#include <QString>

namespace ThumbnailCache {

// What identifies the version of a file that an entry was made from.
struct Stamp
{
    qint64 modified = 0; // seconds since the epoch
    qint64 size = 0;
};

// The entry for the file at absolute path `path`, upright, at least `box` in both directions,
// or a null image.
QImage find(const QString &path, Stamp stamp, QSize box);

// Whether the cache has an entry of any size under the name of the file at `path`, valid or
// not: only the file's presence is looked at, and none is read.
bool mayHold(const QString &path);

// The size to decode `picture` (upright, full size) at so that the entry made from it covers
// `box`; an empty size when no standard entry size can.
QSize entrySize(QSize picture, QSize box);

// Writes `reduced` (upright, at entrySize()) as the entry for `path`. Quietly does nothing when
// the cache cannot be written.
void store(const QString &path, Stamp stamp, QSize picture, const QImage &reduced);

} // namespace ThumbnailCache
