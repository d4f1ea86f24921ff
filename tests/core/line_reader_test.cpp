#include "core/line_reader.h"

#include <sstream>
#include <stdexcept>
#include <streambuf>

#include <gtest/gtest.h>

namespace qvin {
namespace {

using End = LineReader::End;

TEST(LineReader, EndsOfLinesAndTheLastLineWithoutOne) {
    std::istringstream in("one\r\ntwo\n\nthree\rx\nlast");
    LineReader r(in, 100);
    std::string line;
    EXPECT_EQ(r.Next(line), End::Whole);
    EXPECT_EQ(line, "one");
    EXPECT_EQ(r.Next(line), End::Whole);
    EXPECT_EQ(line, "two");
    EXPECT_EQ(r.Next(line), End::Whole);
    EXPECT_EQ(line, "");
    EXPECT_EQ(r.Next(line), End::Whole);
    EXPECT_EQ(line, "three\rx");  // only a CR before the LF ends with it
    EXPECT_EQ(r.Next(line), End::Unended);
    EXPECT_EQ(line, "last");
    EXPECT_EQ(r.number(), 5u);
    EXPECT_EQ(r.Next(line), End::None);
    EXPECT_EQ(r.number(), 5u);
}

// At the limit a line is whole; one character more is too long, keeps the limit's worth,
// and the next line starts where it should. Lines longer than the reader's block too.
TEST(LineReader, TheLimitExactlyAndLinesLongerThanABlock) {
    const std::string atLimit(10, 'a'), over(11, 'b'), huge(200'000, 'c');
    std::istringstream in(atLimit + "\n" + over + "\n" + huge + "\nafter\n" + huge);
    LineReader r(in, 10);
    std::string line;
    EXPECT_EQ(r.Next(line), End::Whole);
    EXPECT_EQ(line, atLimit);
    EXPECT_EQ(r.Next(line), End::TooLong);
    EXPECT_EQ(line, std::string(10, 'b'));
    EXPECT_EQ(r.Next(line), End::TooLong);
    EXPECT_EQ(line, std::string(10, 'c'));
    EXPECT_EQ(r.Next(line), End::Whole);
    EXPECT_EQ(line, "after");
    EXPECT_EQ(r.Next(line), End::TooLong);
    EXPECT_EQ(r.number(), 5u);
    EXPECT_EQ(r.Next(line), End::None);
}

// A terminal or a pipe: the reader hands over a typed line without asking the stream for
// anything past its LF, where a real terminal would wait for the next line to be typed.
class Typed : public std::streambuf {
public:
    explicit Typed(std::string text) : text_(std::move(text)) {}

protected:
    int_type underflow() override {
        if (at_ >= text_.size()) throw std::runtime_error("read past what was typed");
        c_ = text_[at_++];
        setg(&c_, &c_, &c_ + 1);
        return traits_type::to_int_type(c_);
    }

private:
    std::string text_;
    std::size_t at_ = 0;
    char c_ = 0;
};

TEST(LineReader, NeverWaitsForMoreThanTheLineTyped) {
    Typed typed("read Supply_Out\nwrite Incl_Null 5\n");
    std::istream in(&typed);
    LineReader r(in, 4096);
    std::string line;
    EXPECT_EQ(r.Next(line), End::Whole);
    EXPECT_EQ(line, "read Supply_Out");
    EXPECT_EQ(r.Next(line), End::Whole);
    EXPECT_EQ(line, "write Incl_Null 5");
}

// A line past the limit is handed over as soon as the limit is passed: a program that
// stops there (a batch refused) never waits on, or reads, the gigabytes behind it.
TEST(LineReader, ATooLongLineIsHandedOverWithoutItsRest) {
    Typed typed("info\n" + std::string(20, 'x'));  // the rest of the line not yet typed
    std::istream in(&typed);
    LineReader r(in, 8);
    std::string line;
    EXPECT_EQ(r.Next(line), End::Whole);
    EXPECT_EQ(r.Next(line), End::TooLong);
    EXPECT_EQ(line, std::string(8, 'x'));
    EXPECT_EQ(r.number(), 2u);
}

}  // namespace
}  // namespace qvin
