#include "number_text.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

namespace morvel {

std::string format_number(double value) {
    // Longest text: "-1.797e+308", 11 characters.
    char text[32];
    char* end = text;
    if (std::isnan(value)) {
        end = std::copy_n("nan", 3, text);
    } else {
        // Shortest-digits conversion with precision 4 behaves exactly like printf's "%.4g".
        end = std::to_chars(text, text + sizeof text, value, std::chars_format::general, 4).ptr;
        // Widen a two-digit exponent to three digits: "e+06" becomes "e+006".
        char* mark = std::find(text, end, 'e');
        if (mark != end && end - mark == 4) {
            std::memmove(mark + 3, mark + 2, 2);
            mark[2] = '0';
            ++end;
        }
    }
    const auto length = static_cast<std::size_t>(end - text);
    std::string result(length < NUMBER_WIDTH ? NUMBER_WIDTH - length : 0, ' ');
    result.append(text, length);
    return result;
}

}  // namespace morvel
