// The listing parsers: words of a line, and the four columns a Unix long
// listing line gives, counted from the end of the line.

#include "ftp/FTPDirectoryList.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using kivftp::TFTPDirectoryList;
using kivftp::TFTPUnixList;

struct ColumnsCase {
    const char* name;
    std::string line;
    int wordCount;
    bool accepted;
    // Attributes, Names, Dates, Sizes when accepted.
    std::string attributes, fileName, date, size;
};

void PrintTo(const ColumnsCase& c, std::ostream* os)
{
    *os << c.name;
}

class UnixListColumns : public testing::TestWithParam<ColumnsCase> { };

TEST_P(UnixListColumns, ReadsColumnsFromTheEnd)
{
    const ColumnsCase& c = GetParam();
    TFTPUnixList list;
    list.ParseLine(c.line);
    EXPECT_EQ(list.WordCount, c.wordCount);
    if (!c.accepted) {
        EXPECT_EQ(list.Names.Count(), 0);
        EXPECT_EQ(list.Attributes.Count(), 0);
        EXPECT_EQ(list.Dates.Count(), 0);
        EXPECT_EQ(list.Sizes.Count(), 0);
        return;
    }
    ASSERT_EQ(list.Names.Count(), 1);
    ASSERT_EQ(list.Attributes.Count(), 1);
    ASSERT_EQ(list.Dates.Count(), 1);
    ASSERT_EQ(list.Sizes.Count(), 1);
    EXPECT_EQ(list.Attributes[0], c.attributes);
    EXPECT_EQ(list.Names[0], c.fileName);
    EXPECT_EQ(list.Dates[0], c.date);
    EXPECT_EQ(list.Sizes[0], c.size);
}

const std::string kNine = "-rw-r--r--   1 owner    group        1234 Jan  5 12:00 readme.txt";

INSTANTIATE_TEST_SUITE_P(
    Lines, UnixListColumns,
    testing::Values(
        ColumnsCase { "NineWordsWithRunsOfBlanks", kNine, 9, true, "-rw-r--r--", "readme.txt", "Jan 5 12:00", "1234" },
        ColumnsCase { "EightWordsWithoutGroup", "-rw-r--r-- 1 owner 1234 Jan 5 2001 a.txt", 8, true, "-rw-r--r--",
                      "a.txt", "Jan 5 2001", "1234" },
        ColumnsCase { "Directory", "drwxr-xr-x 2 owner group 512 Mar 3 09:15 docs", 9, true, "drwxr-xr-x", "docs",
                      "Mar 3 09:15", "512" },
        ColumnsCase { "TotalLineIgnored", "total 12", 2, false, "", "", "", "" },
        ColumnsCase { "SevenWordsIgnored", "-rw-r--r-- 1 owner 1234 Jan 5 a.txt", 7, false, "", "", "", "" },
        ColumnsCase { "NameWithBlankKeepsLastWord", "-rw-r--r-- 1 u g 10 Jan 1 12:00 my file.txt", 10, true,
                      "-rw-r--r--", "file.txt", "1 12:00 my", "Jan" },
        ColumnsCase { "SymbolicLinkShiftsColumns", "lrwxrwxrwx 1 root root 7 Jan 1 2000 bin -> usr/bin", 11, true,
                      "lrwxrwxrwx", "usr/bin", "2000 bin ->", "1" },
        ColumnsCase { "TrailingBlankGivesEmptyName", kNine + " ", 10, true, "-rw-r--r--", "", "5 12:00 readme.txt",
                      "Jan" },
        ColumnsCase { "LeadingBlankGivesEmptyPermissions", " " + kNine, 10, true, "", "readme.txt", "Jan 5 12:00",
                      "1234" },
        ColumnsCase { "TabsAloneMakeOneWord", "-rw-r--r--\t1\towner\tgroup\t1234\tJan\t5\t12:00\treadme.txt", 1, false,
                      "", "", "", "" },
        ColumnsCase { "TabInsideAWordStays", "-rw-r--r-- 1 owner group 1234 Jan 5 12:00 a\tb.txt", 9, true,
                      "-rw-r--r--", "a\tb.txt", "Jan 5 12:00", "1234" },
        ColumnsCase { "EmptyLineIsOneEmptyWord", "", 1, false, "", "", "", "" }),
    [](const testing::TestParamInfo<ColumnsCase>& info) { return std::string(info.param.name); });

// Words of a line: blanks separate, runs count once, empty words at the
// ends; at most 255 characters of a word are kept.
TEST(DirectoryListWords, SplitsAtBlanksOnly)
{
    TFTPDirectoryList list;
    list.ParseLine("  a\tb  c ");
    EXPECT_EQ(list.WordCount, 4);
    EXPECT_EQ(list.Word(1), "");
    EXPECT_EQ(list.Word(2), "a\tb");
    EXPECT_EQ(list.Word(3), "c");
    EXPECT_EQ(list.Word(4), "");

    // The base class keeps no columns.
    list.ParseLine(kNine);
    EXPECT_EQ(list.WordCount, 9);
    EXPECT_EQ(list.Names.Count(), 0);
}

TEST(DirectoryListWords, LongWordKeepsFirst255Characters)
{
    TFTPUnixList list;
    const std::string longName(300, 'n');
    std::string expected(255, 'n');
    list.ParseLine("-rw-r--r-- 1 owner group 1234 Jan 5 12:00 " + longName);
    EXPECT_EQ(list.Word(9), expected);
    ASSERT_EQ(list.Names.Count(), 1);
    EXPECT_EQ(list.Names[0], expected);
}

// More than 25 words: the first 25 are kept, nothing is written past them
// (the sanitizers watch), WordCount tells the whole count, and the line is
// not taken into the columns, which cannot be read from its end.
TEST(DirectoryListWords, LineOfMoreThan25WordsStaysWithinWords)
{
    TFTPUnixList list;
    std::string line;
    for (int i = 1; i <= 40; ++i)
        line += "w" + std::to_string(i) + " ";
    list.ParseLine(line);
    EXPECT_EQ(list.WordCount, 41); // the trailing blank adds an empty word
    EXPECT_EQ(list.Word(1), "w1");
    EXPECT_EQ(list.Word(25), "w25");
    EXPECT_EQ(list.Word(26), ""); // beyond the array: read as empty
    EXPECT_EQ(list.Names.Count(), 0);

    // A following short line is read normally: nothing of the long one stays.
    list.ParseLine("a b");
    EXPECT_EQ(list.WordCount, 2);
    EXPECT_EQ(list.Word(2), "b");
    EXPECT_EQ(list.Word(3), "");
}

TEST(DirectoryListWords, ClearEmptiesColumnsButKeepsWords)
{
    TFTPUnixList list;
    list.ParseLine(kNine);
    list.ParseLine("drwxr-xr-x 2 owner group 512 Mar 3 09:15 docs");
    ASSERT_EQ(list.Names.Count(), 2);
    list.Clear();
    EXPECT_EQ(list.Names.Count(), 0);
    EXPECT_EQ(list.Attributes.Count(), 0);
    EXPECT_EQ(list.Dates.Count(), 0);
    EXPECT_EQ(list.Sizes.Count(), 0);
    EXPECT_EQ(list.WordCount, 9);
    EXPECT_EQ(list.Word(9), "docs");
    list.ParseLine(kNine);
    ASSERT_EQ(list.Names.Count(), 1);
    EXPECT_EQ(list.Names[0], "readme.txt");
}

} // namespace
