#include "common/look.h"

#include <QApplication>
#include <QFontDatabase>
#include <QWidget>

#include <cmath>
#include <initializer_list>

namespace {

QString firstInstalled(std::initializer_list<const char *> families)
{
    const QStringList installed = QFontDatabase::families();
    for (const char *family : families) {
        if (installed.contains(QLatin1String(family)))
            return QLatin1String(family);
    }
    return QFont().defaultFamily();
}

QFont boldFont(const QString &family, QFont::StyleHint hint, double points)
{
    QFont font(family);
    font.setStyleHint(hint);
    font.setPixelSize(int(std::lround(points * 96.0 / 72.0)));
    font.setBold(true);
    return font;
}

} // namespace

void useKitStyle()
{
    QApplication::setStyle(QStringLiteral("Fusion"));
}

// Where the original faces are missing, Liberation Sans and Serif come nearest in width (they
// have Arial's and Times's metrics), then DejaVu; the captions were sized for the narrow
// originals, so the narrower face keeps "Lägg till/Ta bort" inside its button.
QFont sansFont(double points, bool italic, bool underline)
{
    static const QString family = firstInstalled(
        {"MS Sans Serif", "Microsoft Sans Serif", "Liberation Sans", "Arimo", "DejaVu Sans"});
    QFont font = boldFont(family, QFont::SansSerif, points);
    font.setItalic(italic);
    font.setUnderline(underline);
    return font;
}

QFont serifFont(double points)
{
    static const QString family =
        firstInstalled({"Times New Roman", "Liberation Serif", "Tinos", "DejaVu Serif"});
    return boldFont(family, QFont::Serif, points);
}

void fill(QWidget *widget, QPalette::ColorRole role, const QColor &colour)
{
    QPalette pal = widget->palette();
    pal.setColor(role, colour);
    widget->setPalette(pal);
    if (role == QPalette::Window)
        widget->setAutoFillBackground(true);
}
