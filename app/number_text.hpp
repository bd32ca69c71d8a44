// The text of a real number as every report line and the density file show it.
#pragma once

#include <string>

namespace morvel {

// "%12.4g" with a three-digit exponent: four significant digits (exact decimal ties round to
// even), fixed notation for decimal exponents -4 to 3 and exponent notation otherwise,
// trailing zeros and then a trailing point dropped, right-aligned in 12 characters.
// Exponents always have a sign and three digits ("1.235e+006", "8e-005"). Not-a-number is
// "nan" whatever its sign bit; infinities are "inf" and "-inf".
std::string format_number(double value);

inline constexpr int NUMBER_WIDTH = 12;

}  // namespace morvel
