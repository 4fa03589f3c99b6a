// Any bytes as a photo read at an eighth of its size: the reading must either decline them or
// give a picture no larger than the largest JPEG's eighth, and never crash, hang or read
// outside the bytes given.

#include "common/jpegeighth.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QImage eighth =
        readJpegEighth(QByteArrayView(reinterpret_cast<const char *>(data), qsizetype(size)));
    if (!eighth.isNull() && (eighth.width() < 1 || eighth.height() < 1 || eighth.width() > 8192 ||
                             eighth.height() > 8192))
        std::abort();
    return 0;
}
