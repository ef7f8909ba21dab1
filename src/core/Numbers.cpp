#include "core/Numbers.h"

std::optional<int32_t> ParseInt(const std::string& text) {
    size_t b = text.find_first_not_of(' ');
    const size_t e = text.find_last_not_of(' ');
    if (b == std::string::npos) return std::nullopt;
    bool negative = false;
    if (text[b] == '-' || text[b] == '+') {
        negative = text[b] == '-';
        ++b;
    }
    if (b > e) return std::nullopt;
    int64_t value = 0;
    for (size_t i = b; i <= e; ++i) {
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
        value = value * 10 + (text[i] - '0');
        if (value > (negative ? 2147483648LL : 2147483647LL)) return std::nullopt;
    }
    return static_cast<int32_t>(negative ? -value : value);
}
