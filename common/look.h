#pragma once

// The look both programs share: the same style whatever the desktop's theme, the kit's colours,
// and the interface fonts at the sizes the windows were drawn for.

#include <QColor>
#include <QFont>
#include <QPalette>

class QWidget;

inline constexpr QColor LightYellow{255, 255, 128};
inline constexpr QColor PanelGrey{192, 192, 192};

// Chooses the one style both programs are drawn in, so that check boxes, scroll bars and
// buttons do not follow the desktop's theme; call it in main() right after the application.
void useKitStyle();

// The bold sans-serif face the windows were drawn in ("MS Sans Serif"), or the nearest installed,
// and its serif companion ("Times New Roman"). Sizes are given in points and set in pixels at
// 96 dots per inch, the density the layout in twips assumes, so that text keeps fitting its box
// on a screen that reports another density.
QFont sansFont(double points, bool italic = false, bool underline = false);
QFont serifFont(double points);

// Sets one colour of the widget's palette; a window colour is also filled in.
void fill(QWidget *widget, QPalette::ColorRole role, const QColor &colour);
