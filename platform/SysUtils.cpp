#include "platform/SysUtils.h"

#include <chrono>
#include <limits>

namespace platform {

namespace {

int DigitValue(char c, int base)
{
    int v = -1;
    if (c >= '0' && c <= '9')
        v = c - '0';
    else if (c >= 'a' && c <= 'f')
        v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
        v = c - 'A' + 10;
    return v < base ? v : -1;
}

} // namespace

// "  -42" -> -42, "$1F" -> 31, "0x10" -> 16, "x10" -> 16, "" -> failure,
// "12 " -> failure (nothing may follow the digits).
bool TryStrToInt(const std::string& text, std::int32_t& value)
{
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    int base = 10;
    if (i < text.size() && text[i] == '$') {
        base = 16;
        ++i;
    } else if (i < text.size() && (text[i] == 'x' || text[i] == 'X')) {
        base = 16;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= text.size())
        return false;
    // Hexadecimal texts may name the full 32-bit pattern ($FFFFFFFF is -1).
    const std::uint64_t limit = base == 16 ? 0xFFFFFFFFull
                                           : (negative ? 2147483648ull : 2147483647ull);
    std::uint64_t acc = 0;
    for (; i < text.size(); ++i) {
        const int d = DigitValue(text[i], base);
        if (d < 0)
            return false;
        acc = acc * static_cast<unsigned>(base) + static_cast<unsigned>(d);
        if (acc > limit)
            return false;
    }
    std::int64_t v = base == 16 ? static_cast<std::int64_t>(static_cast<std::int32_t>(static_cast<std::uint32_t>(acc)))
                                : static_cast<std::int64_t>(acc);
    if (negative)
        v = -v;
    if (v < std::numeric_limits<std::int32_t>::min() || v > std::numeric_limits<std::int32_t>::max())
        return false;
    value = static_cast<std::int32_t>(v);
    return true;
}

std::int32_t StrToInt(const std::string& text)
{
    std::int32_t value = 0;
    if (!TryStrToInt(text, value))
        throw EConvertError("'" + text + "' 不是一个有效的整形值");
    return value;
}

std::string ExtractFileName(const std::string& path)
{
    const auto pos = path.find_last_of("/\\:");
    return pos == std::string::npos ? path : path.substr(pos + 1);
}

double Now()
{
    using namespace std::chrono;
    const auto sinceEpoch = duration<double>(system_clock::now().time_since_epoch()).count();
    return 25569.0 + sinceEpoch / 86400.0; // 25569 days from 1899-12-30 to 1970-01-01
}

} // namespace platform
