#include "ftp/FTPDirectoryList.h"

namespace kivftp {

const std::string& TFTPDirectoryList::Word(int k) const
{
    static const std::string empty;
    if (k < 1 || k > kMaxWords)
        return empty;
    return Words[static_cast<std::size_t>(k - 1)];
}

// "a  b c" -> a | b | c (3 words); " a" -> "" | a; "a " -> a | ""; "" -> "".
// Words past the 25th are not stored, but still counted in WordCount, so the
// columns counted from the end of a long line are simply not there to read.
void TFTPDirectoryList::ParseLine(const std::string& Line)
{
    for (auto& w : Words)
        w.clear();
    std::int32_t w = 1;
    std::size_t p = 0;
    while (p < Line.size()) {
        if (Line[p] == ' ') {
            ++w;
            if (w <= kMaxWords)
                Words[static_cast<std::size_t>(w - 1)].clear();
            while (p < Line.size() && Line[p] == ' ')
                ++p;
        } else {
            if (w <= kMaxWords) {
                std::string& word = Words[static_cast<std::size_t>(w - 1)];
                if (word.size() < kMaxWordLength)
                    word.push_back(Line[p]);
            }
            ++p;
        }
    }
    WordCount = w;
}

void TFTPDirectoryList::Clear()
{
    Attributes.Clear();
    Names.Clear();
    Sizes.Clear();
    Dates.Clear();
}

void TFTPUnixList::ParseLine(const std::string& Line)
{
    TFTPDirectoryList::ParseLine(Line);
    const int n = WordCount;
    if (n <= 7)
        return;
    // A line of more than 25 words has no stored last words: it cannot be
    // read from the end, so it is not taken into the columns.
    if (n > kMaxWords)
        return;
    Names.Add(Word(n));
    Sizes.Add(Word(n - 4));
    Dates.Add(Word(n - 3) + " " + Word(n - 2) + " " + Word(n - 1));
    Attributes.Add(Word(1));
}

} // namespace kivftp
