#include "common/twips.h"

#include "common/runtimeerror.h"

#include <cmath>
#include <limits>

float fittedZoom(float target, float width)
{
    if (width == 0.0f) {
        throw RuntimeError(ErrorNumber::DivisionByZero,
                           QStringLiteral("Videofönstret har bredden 0, så videon kan inte "
                                          "anpassas (division med noll)."));
    }
    const double zoom = double(target) / double(width) * double(100.0f);
    if (!std::isfinite(zoom) || std::fabs(zoom) > double(std::numeric_limits<float>::max())) {
        throw RuntimeError(ErrorNumber::Overflow,
                           QStringLiteral("Videons förstoring blir för stor (spill)."));
    }
    return float(zoom);
}
