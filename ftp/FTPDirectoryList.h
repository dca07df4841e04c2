#pragma once

// Listing parsers: TFTPDirectoryList splits a listing line into blank-
// separated words; TFTPUnixList reads a Unix long-listing line into its
// permissions, name, date and size columns, counting words from the end.

#include "platform/Classes.h"

#include <array>
#include <cstdint>
#include <string>

namespace kivftp {

class TFTPDirectoryList {
public:
    static constexpr int kMaxWords = 25;
    static constexpr std::size_t kMaxWordLength = 255;

    TFTPDirectoryList() = default;
    virtual ~TFTPDirectoryList() = default;

    // Fills Words and WordCount from Line.
    virtual void ParseLine(const std::string& Line);
    // Empties the four lists; Words and WordCount stay.
    void Clear();

    // Word k of the last line, counted from 1 as in the listing (1..25).
    const std::string& Word(int k) const;

    platform::TStringList Attributes;
    platform::TStringList Names;
    platform::TStringList Dates;
    platform::TStringList Sizes;
    std::array<std::string, kMaxWords> Words; // Words[0] is word 1
    std::int32_t WordCount = 0;
};

class TFTPUnixList : public TFTPDirectoryList {
public:
    // Splits the line, then appends its columns when it has more than seven words.
    void ParseLine(const std::string& Line) override;
};

} // namespace kivftp
