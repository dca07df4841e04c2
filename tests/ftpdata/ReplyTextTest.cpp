// Texts the data connections are built from: the port of a PASV reply, the
// server system of a SYST reply and the expected size of a transfer.

#include "ftp/KivFtp.h"
#include "platform/SysUtils.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

using kivftp::ParsePassivePort;

struct PassiveCase {
    const char* name;
    std::string reply;
    std::int32_t port; // 0: the conversion error
    std::string message = {};
};

void PrintTo(const PassiveCase& c, std::ostream* os)
{
    *os << c.name;
}

class PassivePort : public testing::TestWithParam<PassiveCase> { };

TEST_P(PassivePort, ReadsFieldsFiveAndSix)
{
    const PassiveCase& c = GetParam();
    if (c.port != 0) {
        EXPECT_EQ(ParsePassivePort(c.reply), c.port);
        return;
    }
    try {
        ParsePassivePort(c.reply);
        ADD_FAILURE() << "no exception for " << c.reply;
    } catch (const platform::EConvertError& e) {
        if (!c.message.empty()) {
            EXPECT_EQ(e.Message, c.message);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Replies, PassivePort,
    testing::Values(
        PassiveCase { "Usual", "227 Entering Passive Mode (192,168,1,2,19,136).\r\n", 5000 },
        PassiveCase { "AddressIsNotRead", "227 Entering Passive Mode (0,0,0,0,4,1)\r\n", 1025 },
        PassiveCase { "HighAndLowAbove255", "227 Entering Passive Mode (127,0,0,1,1,300)\r\n", 556 },
        PassiveCase { "BlanksBeforeNumbers", "227 Entering Passive Mode (127,0,0,1, 4, 1)\r\n", 1025 },
        PassiveCase { "SeventhFieldIgnored", "227 (127,0,0,1,4,1),9\r\n", 1025 },
        PassiveCase { "NegativeLowStillAPort", "227 (127,0,0,1,4,-1)\r\n", 1023 },
        PassiveCase { "MissingParenthesis", "227 Entering Passive Mode (192,168,1,2,19,136.\r\n", 0,
                      "'' 不是一个有效的整形值" },
        PassiveCase { "ExtraCommaShiftsFields", "227 Passive mode, ok (10,0,0,1,4,1)\r\n", 0,
                      "'' 不是一个有效的整形值" },
        PassiveCase { "NoCommasIn425", "425 Can't open passive connection\r\n", 0, "'' 不是一个有效的整形值" },
        PassiveCase { "EmptyReply", "", 0 },
        PassiveCase { "LettersInHighByte", "227 (127,0,0,1,ab,1)\r\n", 0, "'ab' 不是一个有效的整形值" },
        PassiveCase { "PortAbove65535", "227 (127,0,0,1,256,0)\r\n", 0, "'65536' is not a valid port number" },
        PassiveCase { "PortZero", "227 (127,0,0,1,0,0)\r\n", 0, "'0' is not a valid port number" },
        PassiveCase { "NegativePort", "227 (127,0,0,1,-1,0)\r\n", 0, "'-256' is not a valid port number" },
        PassiveCase { "HugeNumbersDoNotOverflow", "227 (1,1,1,1,2147483647,2147483647)\r\n", 0,
                      "'551903297279' is not a valid port number" },
        PassiveCase { "NumberBeyond32Bits", "227 (1,1,1,1,99999999999,1)\r\n", 0,
                      "'99999999999' 不是一个有效的整形值" }),
    [](const testing::TestParamInfo<PassiveCase>& info) { return std::string(info.param.name); });

TEST(PassivePort, HostileLongReplyEndsInConversionError)
{
    const std::string reply = "227 " + std::string(100000, ',') + "\r\n";
    EXPECT_THROW(ParsePassivePort(reply), platform::EConvertError);
    const std::string digits = "227 (1,2,3,4," + std::string(5000, '9') + ",1)\r\n";
    EXPECT_THROW(ParsePassivePort(digits), platform::EConvertError);
}

TEST(VendorFromSyst, FirstTextFoundDecides)
{
    struct Row {
        const char* reply;
        std::int32_t vendor;
    };
    const Row rows[] = {
        { "215 UNIX Type: L8\r\n", 2400 },
        { "215 Windows_NT\r\n", 2410 },
        { "215 Unix\r\n", 2410 },
        { "215 NETWARE\r\n", 2416 },
        { "215 MS-DOS and UNIX\r\n", 2400 },
        { "215 DOS\r\n", 2401 },
        { "215 VMS\r\n", 2406 },
        { "215 MVS\r\n", 2408 },
        { "215 VM/CMS\r\n", 2402 },
        { "215 MACOS\r\n", 2404 },
        { "215 OS/400\r\n", 2414 },
        { "500 Command refused\r\n", 2410 },
        { "", 2410 },
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.reply);
        EXPECT_EQ(kivftp::VendorFromSystReply(r.reply), r.vendor);
    }
}

// Sizes of 2 GiB and more are read whole, not wrapped.
TEST(ExpectedSize, SizesAbove31BitsAreRead)
{
    EXPECT_EQ(kivftp::ParseByteCount("150 Opening BINARY mode data connection for big.iso (3000000000 bytes).\r\n"),
              3000000000LL);
    EXPECT_EQ(kivftp::ParseByteCount("150 big (9223372036854775807 bytes)\r\n"), INT64_MAX);
    EXPECT_EQ(kivftp::ParseByteCount("150 big (9223372036854775808 bytes)\r\n"), 0);
}

} // namespace
