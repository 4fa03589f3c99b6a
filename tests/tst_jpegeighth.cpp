// The reading of a JPEG at an eighth of its size against libjpeg's own reading at that scale,
// for the kinds of files cameras and image programs write, and its refusal of the rest.

#include "common/jpegeighth.h"

#include <QImage>
#include <QPainter>
#include <QTest>

#include <cstdio>
#include <jpeglib.h>
#include <random>

namespace {

struct Encoding
{
    int h = 2, v = 2; // the luma's sampling; the chroma's is 1 x 1
    bool grey = false;
    int restartEvery = 0; // units of blocks
    bool progressive = false;
    bool arithmetic = false;
    int quality = 90;
};

// A photo-like picture at a size that leaves partial units of blocks at the right and bottom:
// colour gradients, hard edges and grain.
QImage sample()
{
    QImage img(419, 301, QImage::Format_RGB32);
    QPainter p(&img);
    QLinearGradient g(0, 0, img.width(), img.height());
    g.setColorAt(0, QColor(250, 40, 60));
    g.setColorAt(1, QColor(20, 90, 240));
    p.fillRect(img.rect(), g);
    p.fillRect(50, 40, 120, 90, QColor(255, 230, 0));
    p.fillRect(230, 150, 100, 130, Qt::black);
    p.end();
    std::minstd_rand grain(7);
    for (int y = 0; y < img.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(img.scanLine(y));
        for (int x = 0; x < img.width(); ++x) {
            const int n = int(grain() % 31) - 15;
            const QRgb c = line[x];
            line[x] = qRgb(std::clamp(qRed(c) + n, 0, 255), std::clamp(qGreen(c) + n, 0, 255),
                           std::clamp(qBlue(c) - n, 0, 255));
        }
    }
    return img;
}

QByteArray encode(const QImage &source, const Encoding &e)
{
    const QImage img = source.convertToFormat(QImage::Format_RGB888);
    jpeg_compress_struct c{};
    jpeg_error_mgr err{};
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char *out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = JDIMENSION(img.width());
    c.image_height = JDIMENSION(img.height());
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    if (e.grey)
        jpeg_set_colorspace(&c, JCS_GRAYSCALE);
    c.comp_info[0].h_samp_factor = e.h;
    c.comp_info[0].v_samp_factor = e.v;
    jpeg_set_quality(&c, e.quality, TRUE);
    c.restart_interval = unsigned(e.restartEvery);
    c.arith_code = e.arithmetic;
    if (e.progressive)
        jpeg_simple_progression(&c);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<uchar *>(img.constScanLine(int(c.next_scanline)));
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    const QByteArray jpeg(reinterpret_cast<const char *>(out), qsizetype(size));
    std::free(out);
    return jpeg;
}

// libjpeg's reading at an eighth, the reference.
QImage libjpegEighth(const QByteArray &jpeg, bool grey)
{
    jpeg_decompress_struct d{};
    jpeg_error_mgr err{};
    d.err = jpeg_std_error(&err);
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, reinterpret_cast<const uchar *>(jpeg.constData()), (unsigned long)jpeg.size());
    jpeg_read_header(&d, TRUE);
    d.scale_num = 1;
    d.scale_denom = 8;
    d.out_color_space = grey ? JCS_GRAYSCALE : JCS_EXT_BGRX;
    jpeg_start_decompress(&d);
    QImage img(int(d.output_width), int(d.output_height),
               grey ? QImage::Format_Grayscale8 : QImage::Format_RGB32);
    while (d.output_scanline < d.output_height) {
        JSAMPROW row = img.scanLine(int(d.output_scanline));
        jpeg_read_scanlines(&d, &row, 1);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    return img;
}

} // namespace

Q_DECLARE_METATYPE(Encoding)

class TestJpegEighth : public QObject
{
    Q_OBJECT
private slots:
    void againstLibjpeg_data()
    {
        QTest::addColumn<Encoding>("encoding");
        QTest::addColumn<int>("largestDifference"); // of any colour channel; -1: refused
        QTest::newRow("4:2:0, as phones and Qt write") << Encoding{} << 0;
        QTest::newRow("4:2:0, restart every 3 units") << Encoding{2, 2, false, 3} << 0;
        QTest::newRow("4:4:4") << Encoding{1, 1} << 0;
        QTest::newRow("4:4:4, restart every unit") << Encoding{1, 1, false, 1} << 0;
        QTest::newRow("4:2:2") << Encoding{2, 1} << 0;
        QTest::newRow("4:4:0") << Encoding{1, 2} << 0;
        QTest::newRow("grey") << Encoding{1, 1, true} << 0;
        QTest::newRow("quality 100: codes longer than one lookup")
            << Encoding{1, 1, false, 0, false, false, 100} << 0;
        QTest::newRow("progressive: refused") << Encoding{2, 2, false, 0, true} << -1;
        QTest::newRow("arithmetic-coded: refused") << Encoding{2, 2, false, 0, false, true} << -1;
    }
    void againstLibjpeg()
    {
        QFETCH(Encoding, encoding);
        QFETCH(int, largestDifference);
        const QByteArray jpeg = encode(sample(), encoding);
        const QImage ours = readJpegEighth(QByteArrayView(jpeg));
        if (largestDifference < 0) {
            QVERIFY(ours.isNull());
            return;
        }
        const QImage reference = libjpegEighth(jpeg, encoding.grey);
        QCOMPARE(ours.size(), QSize(53, 38));
        QCOMPARE(ours.format(), reference.format());
        int largest = 0;
        double sum = 0;
        for (int y = 0; y < ours.height(); ++y) {
            for (int x = 0; x < ours.width(); ++x) {
                const QRgb a = ours.pixel(x, y), b = reference.pixel(x, y);
                for (int d : {qRed(a) - qRed(b), qGreen(a) - qGreen(b), qBlue(a) - qBlue(b)}) {
                    largest = std::max(largest, std::abs(d));
                    sum += std::abs(d);
                }
            }
        }
        QVERIFY2(largest <= largestDifference, qPrintable(QString::number(largest)));
        QVERIFY2(sum / (3.0 * ours.width() * ours.height()) < 1.0,
                 qPrintable(QString::number(sum)));
    }

    // Damaged files are left to the full decoder, which mends or reports them as it always did.
    void damagedRefused_data()
    {
        QTest::addColumn<int>("cut");  // bytes cut off the end
        QTest::addColumn<int>("flip"); // a byte of the coded data turned, counted from the end
        QTest::addColumn<int>("more"); // bytes of data added after the last block
        QTest::newRow("ends half-way") << -2 << 0 << 0;
        QTest::newRow("no end marker: still read") << 2 << 0 << 0;
        QTest::newRow("a restart marker's number wrong") << 0 << 1 << 0;
        QTest::newRow("data go on long after the last block") << 2 << 0 << 200000;
    }
    void damagedRefused()
    {
        QFETCH(int, cut);
        QFETCH(int, flip);
        QFETCH(int, more);
        QByteArray jpeg = encode(sample(), Encoding{2, 2, false, 2});
        if (cut == -2)
            jpeg.truncate(jpeg.size() / 2);
        else
            jpeg.chop(cut);
        jpeg.append(QByteArray(more, '\x11'));
        if (flip) {
            const qsizetype marker = jpeg.lastIndexOf("\xFF\xD1");
            QVERIFY(marker > 0);
            jpeg[marker + 1] = char(0xD5);
        }
        const QImage ours = readJpegEighth(QByteArrayView(jpeg));
        QCOMPARE(ours.isNull(), cut != 2 || more > 0);
    }
};

QTEST_GUILESS_MAIN(TestJpegEighth)
#include "tst_jpegeighth.moc"
