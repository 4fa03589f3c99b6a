#include "common/artwork.h"

#include <QColor>
#include <QList>
#include <QPainter>
#include <QPointF>
#include <QPolygonF>
#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <map>

// The pictures are small bitmaps meant to be seen pixel by pixel, so they are painted without
// antialiasing (which would invent colours between the palette entries) and then stored in the
// narrow formats they are made for: 16 colours for the icon and the button faces, black and
// white for the placeholder pictograms. Converting at the end also guarantees the palette even if
// a later change paints with a colour outside it.

namespace {

constexpr QRgb Black = 0xff000000;
constexpr QRgb Grey = 0xff808080;
constexpr QRgb Silver = 0xffc0c0c0;
constexpr QRgb Red = 0xffff0000;
constexpr QRgb Yellow = 0xffffff00;
constexpr QRgb White = 0xffffffff;

QList<QRgb> vgaColours()
{
    return {0xff000000, 0xff800000, 0xff008000, 0xff808000, 0xff000080, 0xff800080,
            0xff008080, 0xffc0c0c0, 0xff808080, 0xffff0000, 0xff00ff00, 0xffffff00,
            0xff0000ff, 0xffff00ff, 0xff00ffff, 0xffffffff};
}

QImage canvas(int width, int height, QRgb background)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(background);
    return image;
}

QImage toSixteenColours(const QImage &image)
{
    return image.convertToFormat(QImage::Format_Indexed8, vgaColours(),
                                 Qt::ThresholdDither | Qt::AvoidDither);
}

QImage toTwoColours(const QImage &image)
{
    return image.convertToFormat(QImage::Format_Mono, {Black, White},
                                 Qt::ThresholdDither | Qt::AvoidDither);
}

// Pixel art is easier to change as a picture in the source than as a list of coordinates.
// A space leaves the pixel as it is.
void paintPixels(QPainter &painter, QPoint origin, std::initializer_list<const char *> rows,
                 const std::map<char, QRgb> &colours)
{
    int y = origin.y();
    for (const char *row : rows) {
        for (int x = 0; row[x] != '\0'; ++x) {
            const auto colour = colours.find(row[x]);
            if (colour != colours.end()) {
                painter.setPen(QColor::fromRgb(colour->second));
                painter.drawPoint(origin.x() + x, y);
            }
        }
        ++y;
    }
}

// A regular octagon whose diagonal sides run at exactly 45 degrees, filled row by row: a
// polygon fill at this size leaves the eight sides ragged and unequal.
void fillOctagon(QPainter &painter, QRect square, int cut, QRgb colour)
{
    for (int row = 0; row < square.height(); ++row) {
        const int inset = std::max({0, cut - row, cut - (square.height() - 1 - row)});
        painter.fillRect(square.left() + inset, square.top() + row, square.width() - 2 * inset, 1,
                         QColor::fromRgb(colour));
    }
}

QPolygonF starburst(QPointF centre, int spikes, double outer, double inner)
{
    QPolygonF star;
    for (int i = 0; i < 2 * spikes; ++i) {
        const double angle = M_PI * i / spikes - M_PI / 2;
        const double radius = i % 2 == 0 ? outer : inner;
        star << centre + QPointF(radius * std::cos(angle), radius * std::sin(angle));
    }
    return star;
}

void whiteShapes(QPainter &painter)
{
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor::fromRgb(White));
}

// Pictograms sit inside a frame one pixel wide, with black between frame and figure so that the
// frame reads as a frame.
void drawFrame(QPainter &painter, int size)
{
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor::fromRgb(White), 1));
    painter.drawRect(0, 0, size - 1, size - 1);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor::fromRgb(White));
}

} // namespace

namespace Artwork {

QImage quizIcon()
{
    QImage image = canvas(32, 32, White);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, false);

    painter.setPen(QPen(QColor::fromRgb(Red), 1));
    painter.setBrush(QColor::fromRgb(Yellow));
    painter.drawPolygon(starburst(QPointF(15.5, 14.5), 12, 15.0, 9.5));

    paintPixels(painter, QPoint(8, 7),
                {
                    "        ooo      ",
                    "     ooo...oo    ",
                    "    o..o...o.oo  ",
                    "    o..o...o...o ",
                    "    o..o...o...o ",
                    "    o..o...o...oo",
                    " oo o..o...o...o.o",
                    "o..oo..o...o...o.o",
                    "o...o..o...o...o.o",
                    " o..o..#...#...#.o",
                    " o...o.#...#...#.o",
                    "  o..............o",
                    "  o..............o",
                    "   o............o",
                    "   o............o",
                    "    o..........o",
                    "    o..........o",
                    "    o#########o",
                },
                {{'o', Black}, {'.', Silver}, {'#', Grey}});

    painter.end();
    return toSixteenColours(image);
}

QImage stopPicture()
{
    QImage image = canvas(31, 30, Silver);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, false);

    const QRect sign(1, 0, 29, 29);
    fillOctagon(painter, sign, 8, Grey);
    fillOctagon(painter, sign.adjusted(1, 1, -1, -1), 8, White);
    fillOctagon(painter, sign.adjusted(2, 2, -2, -2), 7, Red);

    // Three by five pixel letters: the smallest that still spell the word.
    paintPixels(painter, QPoint(8, 12),
                {
                    "### ### ### ###",
                    "#    #  # # # #",
                    "###  #  # # ###",
                    "  #  #  # # #  ",
                    "###  #  ### #  ",
                },
                {{'#', White}});

    painter.end();
    return toSixteenColours(image);
}

QImage playPicture()
{
    QImage image = canvas(31, 30, Silver);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, false);

    // Two pixels of width per row keep the edges even; the triangle's centre of mass, a third
    // of the way from its base, lands on the middle of the face.
    const int top = 6, rows = 18, base = 10;
    for (int row = 0; row < rows; ++row) {
        const int reach = std::min(row, rows - 1 - row);
        painter.fillRect(base, top + row, 2 * reach + 1, 1, QColor::fromRgb(Black));
    }

    painter.end();
    return toSixteenColours(image);
}

QImage bathtubPicture()
{
    QImage image = canvas(128, 128, Black);
    QPainter painter(&image);
    whiteShapes(painter);
    drawFrame(painter, 128);

    // The bather: head, and shoulders leaning back against the left end of the tub.
    painter.drawEllipse(QPoint(38, 46), 10, 10);
    painter.drawRoundedRect(QRect(26, 60, 26, 18), 8, 8);
    // A bent leg whose knee breaks the surface towards the other end.
    painter.setPen(QPen(QColor::fromRgb(White), 10, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(56, 72, 80, 58);
    painter.drawLine(80, 58, 94, 74);
    painter.setPen(Qt::NoPen);

    // The tub: a rim over a deep, rounded body on two small feet.
    painter.drawRect(QRect(14, 80, 100, 6));
    painter.drawRoundedRect(QRect(20, 89, 88, 18), 10, 10);
    painter.drawRect(QRect(20, 89, 88, 8));
    painter.drawRect(QRect(30, 107, 8, 8));
    painter.drawRect(QRect(90, 107, 8, 8));

    // The tap over the right end.
    painter.drawRect(QRect(106, 54, 5, 26));
    painter.drawRect(QRect(96, 54, 12, 5));
    painter.drawRect(QRect(96, 59, 4, 6));

    // Bubbles, drawn as rings so that they read as foam and not as more of the bather.
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor::fromRgb(White), 2));
    painter.drawEllipse(QPoint(62, 40), 6, 6);
    painter.drawEllipse(QPoint(76, 28), 8, 8);
    painter.drawEllipse(QPoint(58, 20), 4, 4);

    painter.end();
    return toTwoColours(image);
}

QImage ironingPicture()
{
    QImage image = canvas(128, 128, Black);
    QPainter painter(&image);
    whiteShapes(painter);
    drawFrame(painter, 128);

    // The person stands at the narrow end of the board, seen from the side.
    painter.drawEllipse(QPoint(30, 24), 10, 10);
    painter.drawRoundedRect(QRect(20, 38, 20, 38), 6, 6);
    painter.drawRect(QRect(21, 72, 8, 40));
    painter.drawRect(QRect(31, 72, 8, 40));
    painter.drawRect(QRect(17, 110, 12, 5));
    painter.drawRect(QRect(31, 110, 12, 5));
    // The arm reaching forward to the handle of the iron.
    painter.drawPolygon(
        QPolygon({QPoint(32, 39), QPoint(40, 39), QPoint(72, 45), QPoint(72, 51), QPoint(34, 50)}));

    // The board: a long plate with a rounded nose, on crossed legs.
    painter.drawRect(QRect(46, 68, 62, 6));
    painter.drawEllipse(QRect(98, 68, 16, 6));
    painter.setPen(QPen(QColor::fromRgb(White), 4, Qt::SolidLine, Qt::FlatCap));
    painter.drawLine(58, 76, 94, 112);
    painter.drawLine(94, 76, 58, 112);
    painter.setPen(Qt::NoPen);
    painter.drawRect(QRect(52, 110, 12, 4));
    painter.drawRect(QRect(88, 110, 12, 4));

    // The iron: a flat sole, an upright back and a top that slopes to the point, under a loop
    // of handle that the hand holds.
    painter.drawPolygon(QPolygon({QPoint(56, 65), QPoint(56, 56), QPoint(78, 56), QPoint(96, 65)}));
    painter.drawRect(QRect(60, 45, 18, 4));
    painter.drawRect(QRect(60, 45, 4, 11));
    painter.drawRect(QRect(74, 45, 4, 11));

    // Steam over the point, so that the iron reads as hot.
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor::fromRgb(White), 3));
    for (int x : {86, 95}) {
        QPolygon wave;
        for (int y = 28; y <= 48; ++y)
            wave << QPoint(x + int(std::lround(3 * std::sin((y - 28) * M_PI / 5))), y);
        painter.drawPolyline(wave);
    }

    painter.end();
    return toTwoColours(image);
}

} // namespace Artwork
