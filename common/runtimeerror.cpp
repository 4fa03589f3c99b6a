#include "common/runtimeerror.h"

RuntimeError::RuntimeError(int number, QString text)
    : m_number(number), m_text(std::move(text)), m_utf8(m_text.toUtf8())
{}

void checkIndex(int index, int upper, const char *arrayName)
{
    if (index < 0 || index > upper) {
        throw RuntimeError(ErrorNumber::SubscriptOutOfRange,
                           QStringLiteral("Index %1 ligger utanför %2 (0 till %3).")
                               .arg(index)
                               .arg(QLatin1String(arrayName))
                               .arg(upper));
    }
}
