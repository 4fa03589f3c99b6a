#include "common/runtimeerror.h"

RuntimeError::RuntimeError(int number, QString text, QString nextStep)
    : m_number(number), m_text(std::move(text)), m_nextStep(std::move(nextStep)),
      m_utf8(m_text.toUtf8())
{}

void checkIndex(int index, int upper)
{
    if (index < 0 || index > upper) {
        throw RuntimeError(ErrorNumber::SubscriptOutOfRange,
                           QStringLiteral("Programmet räknade fel: plats %1 finns inte i en "
                                          "lista med platserna 0 till %2.")
                               .arg(index)
                               .arg(upper));
    }
}
