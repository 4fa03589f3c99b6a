#pragma once

#include <QByteArrayView>
#include <QImage>

#include <functional>

// A baseline JPEG read at an eighth of its width and height: one pixel for each 8 x 8 block of
// luma, the block's average, which is all its DC coefficient holds. A phone's photo shown in
// a box a few hundred pixels wide needs no more, and this way most of the coded data are only
// stepped over where a full decoder works out every coefficient: a noisy 24-megapixel photo
// takes about 45 ms here against 75 ms in libjpeg. The pixels are libjpeg's own at this scale,
// to the last bit: 4:2:0 chroma, which libjpeg reads at a quarter, is read the same way.
//
// Reads sequential Huffman-coded files of 8-bit samples in YCbCr or grey, with the samplings
// cameras and image programs write (luma up to 2 x 2, chroma 1 x 1), restart markers or none.
// Anything else, and any file whose coded data are not exactly well formed, gives a null
// image: the caller then has the full decoder read it, which reports or mends it as always.
QImage readJpegEighth(QByteArrayView file);
// The same from an open file, read by position: the file's own offset is left where it was.
QImage readJpegEighth(int fd);

// Reads up to `max` bytes at `pos` into `into`; the count read, 0 at the end, -1 on a failure.
using ReadAt = std::function<qint64(qint64 pos, char *into, qint64 max)>;
QImage readJpegEighth(const ReadAt &readAt);
