#pragma once

// A form variable array with index bounds 0 to 5, indexed with (i) like the handlers name it.
// Every access checks the index, since a computed index outside the bounds must be reported as
// a run-time error rather than read or write past the array.

#include "common/runtimeerror.h"

#include <array>

template <class T> class FormArray
{
public:
    static constexpr int Upper = 5;

    T &operator()(int index)
    {
        checkIndex(index, Upper);
        return m_items[std::size_t(index)];
    }
    const T &operator()(int index) const
    {
        checkIndex(index, Upper);
        return m_items[std::size_t(index)];
    }

private:
    std::array<T, Upper + 1> m_items{};
};
