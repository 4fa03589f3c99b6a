#pragma once

// The pictures both programs carry, drawn in code so that the team can change them.

#include <QImage>

namespace Artwork {
QImage quizIcon();       // 32 x 32: a grey hand with raised fingers before a yellow starburst
QImage stopPicture();    // 31 x 30: red octagonal stop sign with the white word STOP
QImage playPicture();    // 31 x 30: black triangle pointing right
QImage bathtubPicture(); // 128 x 128: white pictogram of a person in a bathtub, on black
QImage ironingPicture(); // 128 x 128: white pictogram of a person ironing, on black
} // namespace Artwork
