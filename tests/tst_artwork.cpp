// The drawn pictures: the sizes and palettes the windows are laid out for, and enough pixels to
// show that each picture still shows what it should.

#include "common/artwork.h"

#include <QSet>
#include <QTest>

using Picture = QImage (*)();
Q_DECLARE_METATYPE(Picture)

namespace {

const QSet<QRgb> SixteenColours = {
    0xff000000, 0xff800000, 0xff008000, 0xff808000, 0xff000080, 0xff800080, 0xff008080, 0xffc0c0c0,
    0xff808080, 0xffff0000, 0xff00ff00, 0xffffff00, 0xff0000ff, 0xffff00ff, 0xff00ffff, 0xffffffff};
const QSet<QRgb> TwoColours = {0xff000000, 0xffffffff};

constexpr QRgb Black = 0xff000000, Silver = 0xffc0c0c0, Grey = 0xff808080, Red = 0xffff0000,
               Yellow = 0xffffff00, White = 0xffffffff;

int count(const QImage &image, QRect area, QRgb colour)
{
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            n += image.pixel(x, y) == colour;
    return n;
}

} // namespace

class TestArtwork : public QObject
{
    Q_OBJECT

private slots:
    void sizeAndPalette_data()
    {
        QTest::addColumn<Picture>("picture");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<bool>("twoColours");
        QTest::addColumn<QRgb>("corners"); // the ground, or a pictogram's frame
        QTest::newRow("quiz icon") << &Artwork::quizIcon << QSize(32, 32) << false << White;
        QTest::newRow("stop sign on Sluta")
            << &Artwork::stopPicture << QSize(31, 30) << false << Silver;
        QTest::newRow("play symbol on PLAY")
            << &Artwork::playPicture << QSize(31, 30) << false << Silver;
        QTest::newRow("bathtub pictogram")
            << &Artwork::bathtubPicture << QSize(128, 128) << true << White;
        QTest::newRow("ironing pictogram")
            << &Artwork::ironingPicture << QSize(128, 128) << true << White;
    }

    // A pictogram (two colours) is a white figure on black in a white frame one pixel wide.
    void sizeAndPalette()
    {
        QFETCH(Picture, picture);
        QFETCH(QSize, size);
        QFETCH(bool, twoColours);
        QFETCH(QRgb, corners);
        const QImage image = picture();
        QCOMPARE(image.size(), size);
        const QRect outer = image.rect(), inner = outer.adjusted(1, 1, -1, -1);
        for (const QPoint c :
             {outer.topLeft(), outer.topRight(), outer.bottomLeft(), outer.bottomRight()})
            QCOMPARE(image.pixel(c), corners);
        QSet<QRgb> used;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                used.insert(image.pixel(x, y));
        QVERIFY2((twoColours ? TwoColours : SixteenColours).contains(used),
                 "a colour outside the palette");
        if (!twoColours)
            return;
        auto ring = [](QRect r) { return 2 * r.width() + 2 * r.height() - 4; };
        QCOMPARE(count(image, outer, White) - count(image, inner, White), ring(outer));
        // The figure does not touch the frame, and is neither empty nor a white field.
        const QRect middle = inner.adjusted(1, 1, -1, -1);
        QCOMPARE(count(image, inner, Black) - count(image, middle, Black), ring(inner));
        const int figure = count(image, inner, White);
        QVERIFY2(figure > inner.width() * inner.height() / 10, qPrintable(QString::number(figure)));
        QVERIFY2(figure < inner.width() * inner.height() / 2, qPrintable(QString::number(figure)));
    }

    // The stop sign is red with white letters, the play triangle points right, the icon is a
    // grey hand before a starburst.
    void buttonPicturesAndIconShowWhatTheyShould()
    {
        const QImage stop = Artwork::stopPicture();
        const QRect centre(7, 11, 17, 7);
        QVERIFY(count(stop, centre, Red) > 40);
        QVERIFY(count(stop, centre, White) > 30);
        QCOMPARE(count(stop, centre, Red) + count(stop, centre, White), 17 * 7);
        QCOMPARE(stop.pixel(15, 7), Red);
        QCOMPARE(stop.pixel(15, 22), Red);

        const QImage play = Artwork::playPicture();
        QCOMPARE(play.pixel(15, 15), Black);
        auto blackInColumn = [&](int x) { return count(play, QRect(x, 0, 1, 30), Black); };
        QVERIFY(blackInColumn(11) > blackInColumn(18));
        QVERIFY(blackInColumn(18) > blackInColumn(24));
        QVERIFY(blackInColumn(24) > 0);

        const QImage icon = Artwork::quizIcon();
        QCOMPARE(icon.pixel(16, 20), Silver);
        QVERIFY(count(icon, icon.rect(), Yellow) > 60);
        QVERIFY(count(icon, icon.rect(), Red) > 30);
        QVERIFY(count(icon, icon.rect(), Silver) + count(icon, icon.rect(), Grey) > 100);
    }
};

QTEST_MAIN(TestArtwork)
#include "tst_artwork.moc"
