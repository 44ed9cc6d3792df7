// A number as tvconv's messages write it: six significant digits.
#pragma once

#include <cstdio>
#include <string>

namespace tvconv {

inline std::string numberText(double value)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.6g", value);
    return buf;
}

} // namespace tvconv
