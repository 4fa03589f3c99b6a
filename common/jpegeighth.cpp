#include "common/jpegeighth.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <vector>

#include <cerrno>
#include <unistd.h>

namespace {

// Bits looked at at once: nearly every code fits.
constexpr int Look = 11;
// Bits looked at at once for several short AC codes together.
constexpr int Several = 13;
// Zeros after the coded data: more than the bits of the largest unit of blocks read before the
// end is looked for (six blocks of 64 codes of at most 31 bits), and the 8 bytes read at once.
constexpr std::size_t Padding = 6 * 64 * 31 / 8 + 16;

// How far an AC symbol moves the coefficient index: past the zeros it skips and its own value;
// 16 for a run of sixteen zeros; to the end for the end of the block.
constexpr int advance(int symbol)
{
    return (symbol & 15) ? (symbol >> 4) + 1 : symbol == 0xF0 ? 16 : 64;
}

struct HuffmanTable
{
    bool defined = false;
    // For codes longer than Look bits: the largest code of each length (-1 when none) and what
    // to add to a code of that length to find its symbol.
    std::array<int, 17> maxCode{};
    std::array<int, 17> offset{};
    std::array<uint8_t, 256> symbols{};
    // By the next Look bits: the code's length (0 when it is longer) and its symbol, and for
    // the AC coefficients the bits of code and value together (low 5 bits) and how far the
    // coefficient index moves (above them), or 0 when the code is longer than Look bits.
    std::array<uint8_t, 1 << Look> length{};
    std::array<uint8_t, 1 << Look> symbol{};
    std::array<uint16_t, 1 << Look> step{};
    // For the AC coefficients, by the next Several bits: the whole codes with their values that
    // lie within them, up to an end of block: their bits (low byte), how far they move the
    // coefficient index (next byte) and how far all but the last move it (third byte); 0 when
    // not even the first lies within them.
    std::array<uint32_t, 1 << Several> several{};
};

// Fills `several` from the single codes' table.
void buildSeveral(HuffmanTable &t)
{
    for (unsigned i = 0; i < (1u << Several); ++i) {
        int used = 0, moved = 0, beforeLast = 0;
        for (;;) {
            // The next Look bits from `used` on, zeros past the end: a code no longer than
            // what is left is told by them as by the real ones.
            const int left = Several - used;
            const unsigned rest = i & ((1u << left) - 1);
            const unsigned look = left >= Look ? rest >> (left - Look) : rest << (Look - left);
            const int length = t.length[look], symbol = t.symbol[look];
            if (length == 0 || length + (symbol & 15) > left)
                break;
            used += length + (symbol & 15);
            beforeLast = moved;
            moved += advance(symbol);
            if (moved >= 64)
                break;
        }
        if (used)
            t.several[i] = unsigned(used) | unsigned(std::min(moved, 255)) << 8 |
                           unsigned(std::min(beforeLast, 255)) << 16;
    }
}

// Builds the table from a DHT segment's 16 counts and its symbols, as the standard's canonical
// codes; false for a table whose codes do not fit their lengths.
bool buildTable(HuffmanTable &t, const uint8_t *counts, const uint8_t *values)
{
    t = HuffmanTable{};
    int code = 0, k = 0;
    for (int len = 1; len <= 16; ++len) {
        const int n = counts[len - 1];
        t.offset[len] = k - code;
        t.maxCode[len] = n ? code + n - 1 : -1;
        for (int i = 0; i < n; ++i, ++k, ++code) {
            if (code >= (1 << len))
                return false;
            t.symbols[std::size_t(k)] = values[k];
            if (len > Look)
                continue;
            const int first = code << (Look - len), count = 1 << (Look - len);
            const unsigned step = unsigned(len + (values[k] & 15)) | unsigned(advance(values[k]))
                                                                         << 5;
            for (int j = first; j < first + count; ++j) {
                t.length[std::size_t(j)] = uint8_t(len);
                t.symbol[std::size_t(j)] = values[k];
                t.step[std::size_t(j)] = uint16_t(step);
            }
        }
        code <<= 1;
    }
    t.defined = true;
    return true;
}

// The file, read by position, so that whoever else reads it keeps its own place.
class Source
{
public:
    explicit Source(const ReadAt &readAt) : m_readAt(readAt) {}

    // Up to `max` bytes from the current place on; fewer only at the end or on a failure.
    std::size_t read(uint8_t *into, std::size_t max)
    {
        std::size_t got = 0;
        while (got < max) {
            const qint64 n =
                m_readAt(m_pos, reinterpret_cast<char *>(into + got), qint64(max - got));
            if (n <= 0)
                break;
            m_pos += n;
            got += std::size_t(n);
        }
        return got;
    }
    bool byte(int &b)
    {
        uint8_t c;
        if (read(&c, 1) != 1)
            return false;
        b = c;
        return true;
    }
    qint64 pos() const { return m_pos; }
    void seek(qint64 pos) { m_pos = pos; }

private:
    const ReadAt &m_readAt;
    qint64 m_pos = 0;
};

// The entropy-coded data of a scan, a window at a time, with the stuffed zero after each 0xFF
// taken out, and where each restart marker stood, so that the bits can be read without a test
// at every byte. Ends at the first other marker or the file's end; zeros follow.
class CodedData
{
public:
    explicit CodedData(Source &source) : m_source(source), m_bytes(Capacity + Padding, 0) {}

    const uint8_t *bytes() const { return m_bytes.data(); }
    // Makes sure that from bit `at` on (moved with the window) at least a unit of blocks' worth
    // of data is at hand, or the rest of it.
    void ensure(std::size_t &at)
    {
        if (m_ended || m_filled - at / 8 >= Padding)
            return;
        const std::size_t drop = at / 8;
        std::memmove(m_bytes.data(), m_bytes.data() + drop, m_filled - drop);
        m_filled -= drop;
        m_base += drop;
        at -= drop * 8;
        while (!m_ended && m_filled + RawChunk <= Capacity)
            take();
        std::memset(m_bytes.data() + m_filled, 0, Padding);
    }
    // True once bits past the data's end were read.
    bool overrun(std::size_t at) const { return m_ended && at > m_filled * 8; }
    // Whether bit `at` is at the next restart marker `marker` (only the last byte's filling bits
    // before it), and then the bit after it.
    bool restart(std::size_t &at, int marker)
    {
        if (m_restarts.empty() || m_restarts.front().first != m_base + (at + 7) / 8 ||
            m_restarts.front().second != marker)
            return false;
        at = (m_restarts.front().first - m_base) * 8;
        m_restarts.pop_front();
        return true;
    }
    // Whether bit `at` is at the data's end, but for the last byte's filling bits. Near the
    // end, ensure() reads on to the end or fills the window: in the second case the data go on.
    bool atEnd(std::size_t at)
    {
        ensure(at);
        return m_ended && m_restarts.empty() && (at + 7) / 8 == m_filled;
    }

private:
    static constexpr std::size_t Capacity = 64 * 1024;
    static constexpr std::size_t RawChunk = 16 * 1024;

    // Adds a chunk of the file's bytes, taken out of their stuffing.
    void take()
    {
        uint8_t raw[RawChunk];
        const std::size_t n = m_source.read(raw, RawChunk);
        if (n == 0)
            m_ended = true;
        for (std::size_t i = 0; i < n && !m_ended;) {
            if (!m_afterFF) {
                const auto *ff = static_cast<const uint8_t *>(std::memchr(raw + i, 0xFF, n - i));
                const std::size_t run = ff ? std::size_t(ff - (raw + i)) : n - i;
                std::memcpy(m_bytes.data() + m_filled, raw + i, run);
                m_filled += run;
                i += run;
                if (i < n) {
                    m_afterFF = true;
                    ++i;
                }
                continue;
            }
            const int next = raw[i++];
            if (next == 0xFF)
                continue; // a fill byte before a marker
            m_afterFF = false;
            if (next == 0)
                m_bytes[m_filled++] = 0xFF;
            else if (next >= 0xD0 && next <= 0xD7)
                m_restarts.emplace_back(m_base + m_filled, next);
            else
                m_ended = true;
        }
    }

    Source &m_source;
    std::vector<uint8_t> m_bytes;
    std::size_t m_filled = 0; // bytes of data in m_bytes
    std::size_t m_base = 0;   // where m_bytes[0] stands in the whole data
    bool m_ended = false;
    bool m_afterFF = false;
    std::deque<std::pair<std::size_t, int>> m_restarts; // not yet passed
};

constexpr std::size_t Failed = std::size_t(-1);

// The symbol of the code at the top of `word` and the code's length, or -1 when no code of
// the table matches.
inline int slowSymbol(uint64_t word, const HuffmanTable &t, int &length)
{
    const unsigned code16 = unsigned(word >> 48);
    for (int len = Look + 1; len <= 16; ++len) {
        const int code = int(code16 >> (16 - len));
        const int index = code + t.offset[std::size_t(len)];
        if (code <= t.maxCode[std::size_t(len)] && index >= 0 && index < 256) {
            length = len;
            return t.symbols[std::size_t(index)];
        }
    }
    return -1;
}

// Where the coefficients come in a block, in rows of eight, by their order in the data; past
// the last, as a full decoder does, the last place again.
constexpr std::array<uint8_t, 80> Zigzag = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33,
    40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36,
    29, 22, 15, 23, 30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54,
    47, 55, 62, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63};

// The bits from a place on, most significant first, refilled without a test at every byte
// (the bytes after the data are zeros enough for any block).
struct Bits
{
    Bits(const uint8_t *bytes, std::size_t at) : next(bytes + at / 8)
    {
        refill();
        skip(int(at & 7));
    }
    // 56 bits or more at hand afterwards. Bits past those counted are already the right ones,
    // so loading them again changes nothing.
    void refill()
    {
        uint64_t w;
        std::memcpy(&w, next, 8);
        word |= __builtin_bswap64(w) >> count;
        next += (63 - count) >> 3;
        count |= 56;
    }
    unsigned peek(int n) const { return unsigned(word >> (64 - n)); }
    void skip(int n)
    {
        word <<= n;
        count -= n;
    }
    std::size_t at(const uint8_t *bytes) const
    {
        return std::size_t(next - bytes) * 8 - std::size_t(count);
    }

    const uint8_t *next; // the first byte not yet in `word`
    uint64_t word = 0;   // the bits at hand, at the top
    int count = 0;       // how many
};

// A value of `size` bits as the standard extends it to a signed one.
inline int extended(unsigned v, int size)
{
    return int(v) < (1 << (size - 1)) ? int(v) - (1 << size) + 1 : int(v);
}

// A block's AC coefficients when all are wanted, in `block` by rows; false for a code that
// is not in the table.
inline bool readCoefficients(Bits &bits, const HuffmanTable &ac, std::array<int16_t, 64> &block)
{
    for (int k = 1; k < 64; ++k) {
        bits.refill();
        const unsigned look = bits.peek(Look);
        int length = ac.length[look];
        int symbol = ac.symbol[look];
        if (!length)
            symbol = slowSymbol(bits.word, ac, length);
        if (symbol < 0)
            return false;
        bits.skip(length);
        const int size = symbol & 15, run = symbol >> 4;
        if (size) {
            k += run;
            block[Zigzag[std::size_t(k)]] = int16_t(extended(bits.peek(size), size));
            bits.skip(size);
        } else if (run == 15) {
            k += 15;
        } else {
            break;
        }
    }
    return true;
}

// A block's AC coefficients stepped over as a full decoder reads them, up to the end-of-block
// code or the 63rd; false for a code that is not in the table. Nearly all the time goes here.
inline bool skipCoefficients(Bits &bits, const HuffmanTable &ac)
{
    int length = 0;
    for (int k = 1; k < 64;) {
        bits.refill();
        // Several codes at once while none but the last can end the block.
        const unsigned several = ac.several[bits.peek(Several)];
        if (several && k + int(several >> 16) < 64) {
            bits.skip(int(several & 255));
            k += int((several >> 8) & 255);
            continue;
        }
        const unsigned step = ac.step[bits.peek(Look)];
        if (step) {
            bits.skip(int(step & 31));
            k += int(step >> 5);
            continue;
        }
        const int symbol = slowSymbol(bits.word, ac, length);
        if (symbol < 0)
            return false;
        bits.skip(length + (symbol & 15));
        k += advance(symbol);
    }
    return true;
}

// One block from bit `at`: its DC difference in `diff`; the AC coefficients are stepped over
// as a full decoder reads them, up to the end-of-block code or the 63rd, or kept in `block`.
// Where the block ends, or Failed.
inline std::size_t readBlock(const uint8_t *bytes, std::size_t at, const HuffmanTable &dc,
                             const HuffmanTable &ac, int &diff, std::array<int16_t, 64> *block)
{
    Bits bits(bytes, at);
    const unsigned look = bits.peek(Look);
    int length = dc.length[look];
    int size = dc.symbol[look];
    if (!length)
        size = slowSymbol(bits.word, dc, length);
    if (size < 0 || size > 11)
        return Failed;
    bits.skip(length);
    diff = size ? extended(bits.peek(size), size) : 0;
    bits.skip(size);
    if (block)
        return readCoefficients(bits, ac, *block) ? bits.at(bytes) : Failed;
    return skipCoefficients(bits, ac) ? bits.at(bytes) : Failed;
}

// The sample a full decoder's one-pixel inverse DCT gives for a DC coefficient: an eighth of
// it, rounded, about the middle value, clamped, with the same wrap for values far out of
// range. Coefficient and quantizer are 16-bit there, as here.
inline uint8_t dcSample(int dc, int quant)
{
    const int value = (int(int16_t(dc)) * int(int16_t(quant)) + 4) >> 3;
    const int i = value & 1023;
    return uint8_t(i < 128 ? i + 128 : i < 512 ? 255 : i < 896 ? 0 : i - 896);
}

using Quantizers = std::array<uint16_t, 64>; // by rows

// The 2 x 2 samples of a block that a full decoder gives when it reads a chroma block at a
// quarter of its size, to fill as many samples as the luma has at an eighth (4:2:0): the same
// fixed-point arithmetic, from the DC and the odd coefficients of each row and column.
void inverseDct2x2(const std::array<int16_t, 64> &block, const Quantizers &q, uint8_t *out,
                   std::size_t stride)
{
    constexpr int ConstBits = 13, Pass1Bits = 2;
    constexpr int64_t C7 = -5906, C5 = 6967, C3 = -10426,
                      C1 = 29692; // sqrt(2) times sums of cosines
    auto dequantized = [&](int i) {
        return int(block[std::size_t(i)]) * int(int16_t(q[std::size_t(i)]));
    };
    auto descale = [](int64_t x, int n) { return int64_t((x + (int64_t(1) << (n - 1))) >> n); };
    auto sample = [](int64_t value) {
        const int i = int(value) & 1023;
        return uint8_t(i < 128 ? i + 128 : i < 512 ? 255 : i < 896 ? 0 : i - 896);
    };
    std::array<int64_t, 16> work{}; // two rows of eight
    for (int col : {0, 1, 3, 5, 7}) {
        const int64_t odd = C7 * dequantized(56 + col) + C5 * dequantized(40 + col) +
                            C3 * dequantized(24 + col) + C1 * dequantized(8 + col);
        const int64_t even = int64_t(dequantized(col)) * (int64_t(1) << (ConstBits + 2));
        work[std::size_t(col)] = descale(even + odd, ConstBits - Pass1Bits + 2);
        work[std::size_t(8 + col)] = descale(even - odd, ConstBits - Pass1Bits + 2);
    }
    for (int row = 0; row < 2; ++row) {
        const int64_t *w = work.data() + 8 * row;
        const int64_t even = w[0] * (int64_t(1) << (ConstBits + 2));
        const int64_t odd = C7 * w[7] + C5 * w[5] + C3 * w[3] + C1 * w[1];
        out[std::size_t(row) * stride] = sample(descale(even + odd, ConstBits + Pass1Bits + 3 + 2));
        out[std::size_t(row) * stride + 1] =
            sample(descale(even - odd, ConstBits + Pass1Bits + 3 + 2));
    }
}

struct Component
{
    int id = 0;
    int h = 1, v = 1;
    int quantTable = 0;
    int dcTable = 0, acTable = 0;
    Quantizers quant{};
    int size = 1;   // samples across a block as read: 2 for 4:2:0 chroma, else 1
    int stride = 0; // of its plane, in samples
    std::vector<uint8_t> plane;
};

struct Frame
{
    int width = 0, height = 0;
    std::vector<Component> components;
};

// YCbCr to RGB with the fixed-point arithmetic of the full decoder, so that the pictures are
// the same to the last bit.
QRgb toRgb(int y, int cb, int cr)
{
    constexpr int Bits = 16;
    constexpr int64_t Half = int64_t(1) << (Bits - 1);
    auto fix = [](double x) { return int64_t(x * (1 << Bits) + 0.5); };
    cb -= 128;
    cr -= 128;
    const int r = y + int((fix(1.40200) * cr + Half) >> Bits);
    const int g = y + int((-fix(0.34414) * cb + Half - fix(0.71414) * cr) >> Bits);
    const int b = y + int((fix(1.77200) * cb + Half) >> Bits);
    return qRgb(std::clamp(r, 0, 255), std::clamp(g, 0, 255), std::clamp(b, 0, 255));
}

QImage scan(Source &source, Frame &frame, const std::vector<int> &order,
            const std::array<HuffmanTable, 8> &tables, int restartInterval)
{
    std::vector<Component> &comps = frame.components;
    const bool interleaved = comps.size() > 1;
    int maxH = 1, maxV = 1;
    if (interleaved) {
        for (const Component &c : comps) {
            maxH = std::max(maxH, c.h);
            maxV = std::max(maxV, c.v);
        }
    } else {
        comps[0].h = comps[0].v = 1;
    }
    const int mcusAcross = (frame.width + 8 * maxH - 1) / (8 * maxH);
    const int mcusDown = (frame.height + 8 * maxV - 1) / (8 * maxV);
    for (Component &c : comps) {
        // As a full decoder chooses: chroma of half the luma's samples both ways is read at a
        // quarter, not an eighth, and then needs no spreading.
        c.size = maxH == 2 * c.h && maxV == 2 * c.v ? 2 : 1;
        c.stride = mcusAcross * c.h * c.size;
        c.plane.assign(std::size_t(c.stride) * std::size_t(mcusDown * c.v * c.size), 0);
    }
    std::array<int16_t, 64> block{}; // all zero between blocks
    const std::array<int16_t, 64> zeros{};

    CodedData coded(source);
    const uint8_t *bytes = coded.bytes();
    std::size_t at = 0;
    std::array<int, 3> predictor{};
    int toRestart = restartInterval, restarts = 0;
    for (int my = 0; my < mcusDown; ++my) {
        for (int mx = 0; mx < mcusAcross; ++mx) {
            coded.ensure(at);
            if (restartInterval && toRestart == 0) {
                if (!coded.restart(at, 0xD0 + (restarts++ & 7)))
                    return {};
                predictor.fill(0);
                toRestart = restartInterval;
            }
            for (int i : order) {
                Component &c = comps[std::size_t(i)];
                const HuffmanTable &dc = tables[std::size_t(c.dcTable)];
                const HuffmanTable &ac = tables[std::size_t(4 + c.acTable)];
                for (int by = 0; by < c.v; ++by) {
                    uint8_t *row = c.plane.data() +
                                   std::size_t((my * c.v + by) * c.size) * std::size_t(c.stride);
                    for (int bx = 0; bx < c.h; ++bx) {
                        int diff;
                        const int x = (mx * c.h + bx) * c.size;
                        if (c.size == 1) {
                            if ((at = readBlock(bytes, at, dc, ac, diff, nullptr)) == Failed)
                                return {};
                            // A damaged file's differences may add up past any int: they wrap, as
                            // in a full
                            // decoder, which keeps only the low 16 bits anyway.
                            predictor[std::size_t(i)] =
                                int(unsigned(predictor[std::size_t(i)]) + unsigned(diff));
                            row[x] = dcSample(predictor[std::size_t(i)], c.quant[0]);
                            continue;
                        }
                        if ((at = readBlock(bytes, at, dc, ac, diff, &block)) == Failed)
                            return {};
                        predictor[std::size_t(i)] =
                            int(unsigned(predictor[std::size_t(i)]) + unsigned(diff));
                        // Without AC coefficients the four samples are the block's average,
                        // the same as the inverse DCT gives then, at a fraction of its cost.
                        if (std::memcmp(block.data(), zeros.data(), sizeof block) == 0) {
                            const uint8_t v = dcSample(predictor[std::size_t(i)], c.quant[0]);
                            row[x] = row[x + 1] = row[std::size_t(c.stride) + std::size_t(x)] =
                                row[std::size_t(c.stride) + std::size_t(x) + 1] = v;
                            continue;
                        }
                        block[0] = int16_t(predictor[std::size_t(i)]);
                        inverseDct2x2(block, c.quant, row + x, std::size_t(c.stride));
                        block.fill(0);
                    }
                }
            }
            --toRestart;
            if (coded.overrun(at))
                return {};
        }
    }
    if (!coded.atEnd(at))
        return {};

    const int width = (frame.width + 7) / 8, height = (frame.height + 7) / 8;
    if (!interleaved) {
        QImage grey(width, height, QImage::Format_Grayscale8);
        for (int y = 0; y < height; ++y)
            std::memcpy(grey.scanLine(y), comps[0].plane.data() + std::size_t(y * comps[0].stride),
                        std::size_t(width));
        return grey;
    }
    QImage rgb(width, height, QImage::Format_RGB32);
    const Component &luma = comps[0], &blue = comps[1], &red = comps[2];
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<QRgb *>(rgb.scanLine(y));
        const uint8_t *l = luma.plane.data() + std::size_t(y * luma.stride);
        const int cy = y * blue.v * blue.size / maxV;
        const uint8_t *b = blue.plane.data() + std::size_t(cy * blue.stride);
        const uint8_t *r = red.plane.data() + std::size_t(cy * red.stride);
        const int across = blue.h * blue.size;
        for (int x = 0; x < width; ++x)
            line[x] = toRgb(l[x], b[x * across / maxH], r[x * across / maxH]);
    }
    return rgb;
}

} // namespace

QImage readJpegEighth(const ReadAt &readAt)
{
    Source source(readAt);
    int b0 = 0, b1 = 0;
    if (!source.byte(b0) || !source.byte(b1) || b0 != 0xFF || b1 != 0xD8)
        return {};
    auto tables = std::make_unique<std::array<HuffmanTable, 8>>(); // DC 0-3, AC 4-7
    std::array<Quantizers, 4> quant{};
    std::array<bool, 4> quantDefined{};
    int restartInterval = 0;
    Frame frame;
    std::vector<uint8_t> segment;
    for (;;) {
        // Between segments only a marker may stand, after any number of fill bytes.
        int marker = 0;
        if (!source.byte(marker) || marker != 0xFF)
            return {};
        while (marker == 0xFF)
            if (!source.byte(marker))
                return {};
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7))
            continue;
        if (marker == 0xD8 || marker == 0xD9 || marker == 0)
            return {};
        int high = 0, low = 0;
        if (!source.byte(high) || !source.byte(low) || high * 256 + low < 2)
            return {};
        const std::size_t n = std::size_t(high * 256 + low - 2);
        // Application data (a photo's EXIF block, up to 64 KB) are stepped over unread.
        if ((marker >= 0xE0 && marker <= 0xEF && marker != 0xEE) || marker == 0xFE) {
            source.seek(source.pos() + qint64(n));
            continue;
        }
        segment.resize(n);
        if (source.read(segment.data(), n) != n)
            return {};
        const uint8_t *s = segment.data();
        switch (marker) {
        case 0xC0: // baseline
        case 0xC1: // extended sequential, Huffman-coded
            if (!frame.components.empty() || n < 6 || s[0] != 8)
                return {};
            frame.height = s[1] << 8 | s[2];
            frame.width = s[3] << 8 | s[4];
            if (frame.width == 0 || frame.height == 0 || (s[5] != 1 && s[5] != 3) ||
                n < 6 + 3 * std::size_t(s[5]))
                return {};
            for (int i = 0; i < s[5]; ++i) {
                Component c;
                c.id = s[6 + 3 * i];
                c.h = s[7 + 3 * i] >> 4;
                c.v = s[7 + 3 * i] & 15;
                c.quantTable = s[8 + 3 * i];
                if (c.h < 1 || c.h > 2 || c.v < 1 || c.v > 2 || c.quantTable > 3)
                    return {};
                frame.components.push_back(c);
            }
            // Colour in the luma component only; the ids of an RGB file mean no YCbCr.
            for (std::size_t i = 1; i < frame.components.size(); ++i)
                if (frame.components[i].h != 1 || frame.components[i].v != 1)
                    return {};
            if (frame.components.size() == 3 && frame.components[0].id == 'R' &&
                frame.components[1].id == 'G' && frame.components[2].id == 'B')
                return {};
            break;
        case 0xC4:
            for (std::size_t i = 0; i < n;) {
                const int cls = s[i] >> 4, slot = s[i] & 15;
                if (cls > 1 || slot > 3 || n - i < 17)
                    return {};
                int total = 0;
                for (int j = 0; j < 16; ++j)
                    total += s[i + 1 + std::size_t(j)];
                if (total > 256 || n - i - 17 < std::size_t(total))
                    return {};
                HuffmanTable &table = (*tables)[std::size_t(cls * 4 + slot)];
                if (!buildTable(table, s + i + 1, s + i + 17))
                    return {};
                if (cls == 1)
                    buildSeveral(table);
                i += 17 + std::size_t(total);
            }
            break;
        case 0xDB:
            for (std::size_t i = 0; i < n;) {
                const int precision = s[i] >> 4, slot = s[i] & 15;
                const std::size_t bytes = precision ? 129 : 65;
                if (precision > 1 || slot > 3 || n - i < bytes)
                    return {};
                for (std::size_t k = 0; k < 64; ++k)
                    quant[std::size_t(slot)][Zigzag[k]] = uint16_t(
                        precision ? s[i + 1 + 2 * k] << 8 | s[i + 2 + 2 * k] : s[i + 1 + k]);
                quantDefined[std::size_t(slot)] = true;
                i += bytes;
            }
            break;
        case 0xDD:
            if (n < 2)
                return {};
            restartInterval = s[0] << 8 | s[1];
            break;
        case 0xEE: // Adobe's, which may say the colours are not YCbCr
            if (n >= 5 && std::memcmp(s, "Adobe", 5) == 0)
                return {};
            break;
        case 0xDA: {
            const std::size_t count = frame.components.size();
            if (count == 0 || n < 1 || s[0] != count || n < 4 + 2 * count)
                return {};
            std::vector<int> order;
            for (std::size_t i = 0; i < count; ++i) {
                const int id = s[1 + 2 * i], dcSlot = s[2 + 2 * i] >> 4, acSlot = s[2 + 2 * i] & 15;
                auto c = std::find_if(frame.components.begin(), frame.components.end(),
                                      [id](const Component &k) { return k.id == id; });
                if (c == frame.components.end() || dcSlot > 3 || acSlot > 3)
                    return {};
                const int index = int(c - frame.components.begin());
                if (std::find(order.begin(), order.end(), index) != order.end())
                    return {};
                if (!(*tables)[std::size_t(dcSlot)].defined ||
                    !(*tables)[std::size_t(4 + acSlot)].defined ||
                    !quantDefined[std::size_t(c->quantTable)])
                    return {};
                c->dcTable = dcSlot;
                c->acTable = acSlot;
                c->quant = quant[std::size_t(c->quantTable)];
                order.push_back(index);
            }
            // Spectral selection 0-63, no successive approximation: a plain sequential scan.
            const uint8_t *tail = s + 1 + 2 * count;
            if (tail[0] != 0 || tail[1] != 63 || tail[2] != 0)
                return {};
            for (const Component &c : frame.components)
                if (c.h * c.v > 4)
                    return {};
            return scan(source, frame, order, *tables, restartInterval);
        }
        default:
            // Any other frame type (progressive, lossless, arithmetic-coded) is for the full
            // decoder; application data and comments are stepped over.
            if (marker >= 0xC2 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 &&
                marker != 0xCC)
                return {};
            if (marker == 0xCC) // arithmetic coding conditions
                return {};
            break;
        }
    }
}

QImage readJpegEighth(QByteArrayView file)
{
    return readJpegEighth([file](qint64 pos, char *into, qint64 max) -> qint64 {
        if (pos < 0 || pos >= file.size())
            return 0;
        const qint64 n = std::min(max, file.size() - pos);
        std::memcpy(into, file.data() + pos, std::size_t(n));
        return n;
    });
}

QImage readJpegEighth(int fd)
{
    return readJpegEighth([fd](qint64 pos, char *into, qint64 max) -> qint64 {
        for (;;) {
            const ssize_t n = ::pread(fd, into, std::size_t(max), off_t(pos));
            if (n >= 0 || errno != EINTR)
                return n;
        }
    });
}
