#pragma once

// The kit's own Swedish words for what went wrong, in one place.
//
// A report names its cause in words a teacher knows. Neither strerror() nor Qt's errorString()
// is ever shown: they speak English under most locales, and under a Swedish one the system's
// own vocabulary ("katalog", "Ogiltigt argument"). So every errno value and image-reader error
// the kit can meet has its words here, and any other is told by its number alone. The numbers
// a user reads (a zoom, a count of rows) are written the Swedish way here too.

#include <QImageReader>
#include <QString>

enum class FileAccess { Read, Write };

// Why a read or a write failed, as a clause that follows a colon or "eftersom":
// "disken är full", "du har inte behörighet att läsa filen".
QString systemCause(int error, FileAccess access);

// Why the image reader gave no picture, as such a clause.
QString pictureCause(QImageReader::ImageReaderError error);

// 83.3333 as "83,3": a decimal comma and one decimal at most.
QString swedishNumber(double value);

// "1 rad", "3 rader".
QString countOf(qint64 count, const QString &one, const QString &many);
