#include "common/twips.h"

#include "common/runtimeerror.h"

#include <cmath>
#include <limits>

float fittedZoom(float target, float width)
{
    if (width == 0.0f) {
        throw RuntimeError(ErrorNumber::DivisionByZero,
                           QStringLiteral("Videon har bredden 0, så den kan inte förstoras "
                                          "till rätt storlek."));
    }
    const double zoom = double(target) / double(width) * double(100.0f);
    if (!std::isfinite(zoom) || std::fabs(zoom) > double(std::numeric_limits<float>::max())) {
        throw RuntimeError(ErrorNumber::Overflow,
                           QStringLiteral("Videons förstoring blir för stor för att räknas "
                                          "ut."));
    }
    return float(zoom);
}
