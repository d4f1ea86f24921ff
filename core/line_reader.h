#pragma once
// Lines of text from outside (a data log, a capture, a recording, commands on standard
// input), read in bounded memory: a file without line breaks, or one line of gigabytes,
// costs no more than the longest line kept.

#include <cstddef>
#include <istream>
#include <string>
#include <vector>

namespace qvin {

class LineReader {
public:
    enum class End {
        None,     // nothing more to read
        Whole,    // a line ended by LF (or CR LF)
        Unended,  // the last line, which the stream ends before any LF
        TooLong,  // longer than the limit: its first `maxLine` characters are kept, and the
                  // rest of it is read (and dropped) only when the next line is asked for
    };
    LineReader(std::istream& in, std::size_t maxLine) : in_(in), maxLine_(maxLine), block_(1 << 16) {}
    // The next line into `line`, without its LF and a CR before it.
    End Next(std::string& line);
    // Lines read so far: the number of the last one.
    std::size_t number() const { return number_; }

private:
    bool Fill();
    bool SkipRest();
    std::istream& in_;
    std::size_t maxLine_;
    std::vector<char> block_;
    std::size_t at_ = 0, end_ = 0, number_ = 0;
    bool skipping_ = false;
};

}  // namespace qvin
