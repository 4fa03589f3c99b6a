#include "common/swedish.h"

#include <QLocale>

#include <cerrno>
#include <cmath>

QString systemCause(int error, FileAccess access)
{
    const bool reading = access == FileAccess::Read;
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return QStringLiteral("filen finns inte");
    case EACCES:
    case EPERM:
        return reading ? QStringLiteral("du har inte behörighet att läsa filen")
                       : QStringLiteral("du har inte behörighet att skriva filen");
    case ENOSPC:
        return QStringLiteral("disken är full");
    case EDQUOT:
        return QStringLiteral("din del av disken är full (diskkvoten är slut)");
    case EROFS:
        return QStringLiteral("disken är skrivskyddad");
    case EIO:
        return reading ? QStringLiteral("disken gav ett läsfel")
                       : QStringLiteral("disken gav ett skrivfel");
    case ELOOP:
        return QStringLiteral("filen är en symbolisk länk som leder runt i en ring");
    case ENAMETOOLONG:
        return QStringLiteral("namnet är för långt");
    case EISDIR:
        return QStringLiteral("det är en mapp, inte en fil");
    case EINVAL:
    case ENXIO:
    case ENODEV:
        return QStringLiteral("det är ingen vanlig fil");
    case EMFILE:
    case ENFILE:
        return QStringLiteral("för många filer är öppna på en gång");
    case ENOMEM:
        return QStringLiteral("datorns minne räckte inte till");
    case EBUSY:
    case ETXTBSY:
        return QStringLiteral("filen används av ett annat program");
    case EFBIG:
    case EOVERFLOW:
        return QStringLiteral("filen är för stor");
    case EAGAIN:
    case EINTR:
        return QStringLiteral("filen var upptagen just då");
    case ESTALE:
    case ENOTCONN:
    case ETIMEDOUT:
    case EHOSTDOWN:
    case EHOSTUNREACH:
        return QStringLiteral("nätverksdisken svarar inte");
    default:
        // The number helps whoever looks further; the system's own text would not be Swedish.
        return QStringLiteral("ett okänt fel hindrade det (systemets felnummer %1)").arg(error);
    }
}

QString pictureCause(QImageReader::ImageReaderError error)
{
    switch (error) {
    case QImageReader::UnsupportedFormatError:
        return QStringLiteral("filen är ingen bild i formatet BMP, GIF, JPEG eller PNG");
    case QImageReader::InvalidDataError:
        return QStringLiteral("bilden är skadad, ofullständig eller för stor");
    case QImageReader::FileNotFoundError:
        return QStringLiteral("filen finns inte");
    case QImageReader::DeviceError:
        return QStringLiteral("filen gick inte att läsa");
    case QImageReader::UnknownError:
        break;
    }
    return QStringLiteral("bilden gick inte att tolka");
}

QString swedishNumber(double value)
{
    if (std::isnan(value))
        return QStringLiteral("inget tal");
    if (std::isinf(value))
        return value > 0 ? QStringLiteral("oändligt") : QStringLiteral("minus oändligt");
    static const QLocale swedish(QLocale::Swedish, QLocale::Sweden);
    if (std::fabs(value) >= 1e9)
        return swedish.toString(value, 'g', 3);
    QString text = swedish.toString(std::round(value * 10.0) / 10.0, 'f', 1);
    if (text.endsWith(QLatin1String(",0")))
        text.chop(2);
    return text;
}

QString countOf(qint64 count, const QString &one, const QString &many)
{
    return QStringLiteral("%1 %2").arg(QString::number(count), count == 1 ? one : many);
}
