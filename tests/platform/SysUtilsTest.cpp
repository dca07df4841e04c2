#include "platform/SysUtils.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

namespace {

using platform::EConvertError;
using platform::StrToInt;

struct IntCase {
    const char* name;
    std::string text;
    std::optional<std::int32_t> value; // none: the text is refused
};

class StrToIntTest : public testing::TestWithParam<IntCase> { };

TEST_P(StrToIntTest, ConvertsOrRefusesWithTheExactText)
{
    const IntCase& c = GetParam();
    if (c.value) {
        EXPECT_EQ(StrToInt(c.text), *c.value);
        return;
    }
    try {
        StrToInt(c.text);
        FAIL() << "no exception for \"" << c.text << "\"";
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message, "'" + c.text + "' 不是一个有效的整形值");
        EXPECT_STREQ(e.what(), e.Message.c_str());
    }
}

INSTANTIATE_TEST_SUITE_P(Table, StrToIntTest,
    testing::Values(
        IntCase { "Decimal", "21", 21 },
        IntCase { "Zero", "0", 0 },
        IntCase { "LeadingZeros", "007", 7 },
        IntCase { "Plus", "+5", 5 },
        IntCase { "Minus", "-42", -42 },
        IntCase { "LeadingBlanks", "   8080", 8080 },
        IntCase { "BlanksBeforeSign", "  -3", -3 },
        IntCase { "DollarHex", "$1F", 31 },
        IntCase { "XHex", "x1f", 31 },
        IntCase { "ZeroXUpperHex", "0X10", 16 },
        IntCase { "ZeroXLowerHex", "0xff", 255 },
        IntCase { "Max", "2147483647", 2147483647 },
        IntCase { "Min", "-2147483648", INT32_MIN },
        IntCase { "Empty", "", std::nullopt },
        IntCase { "OnlyBlanks", "   ", std::nullopt },
        IntCase { "Letters", "abc", std::nullopt },
        IntCase { "TrailingJunk", "12a", std::nullopt },
        IntCase { "TrailingBlank", "12 ", std::nullopt },
        IntCase { "InnerBlank", "1 2", std::nullopt },
        IntCase { "SignOnly", "-", std::nullopt },
        IntCase { "TwoSigns", "--1", std::nullopt },
        IntCase { "BlankAfterSign", "- 1", std::nullopt },
        IntCase { "DollarOnly", "$", std::nullopt },
        IntCase { "ZeroXOnly", "0x", std::nullopt },
        IntCase { "HexDigitInDecimal", "1F", std::nullopt },
        IntCase { "BadHexDigit", "$1G", std::nullopt },
        IntCase { "DecimalPoint", "1.5", std::nullopt },
        IntCase { "AboveMax", "2147483648", std::nullopt },
        IntCase { "BelowMin", "-2147483649", std::nullopt },
        IntCase { "FarOutOfRange", "99999999999999999999", std::nullopt },
        IntCase { "HexBeyond32Bits", "$100000000", std::nullopt }),
    [](const testing::TestParamInfo<IntCase>& info) { return std::string(info.param.name); });

TEST(StrToIntTest, ErrorTextQuotesTheWholeText)
{
    try {
        StrToInt("abc");
        FAIL() << "no exception";
    } catch (const platform::Exception& e) {
        EXPECT_EQ(e.Message, "'abc' 不是一个有效的整形值");
    }
}

TEST(ExtractFileNameTest, TakesWhatFollowsTheLastSeparator)
{
    struct Case {
        const char* path;
        const char* name;
    };
    const Case cases[] = {
        { "readme.txt", "readme.txt" },
        { "/home/user/file.bin", "file.bin" },
        { "C:\\dir\\sub\\file.txt", "file.txt" },
        { "C:file.txt", "file.txt" },
        { "mixed/dir\\name", "name" },
        { "dir/", "" },
        { "", "" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(platform::ExtractFileName(c.path), c.name);
    }
}

}
