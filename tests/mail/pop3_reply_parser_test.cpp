#include "mail/pop3/pop3_reply_parser.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace kingyo {
namespace {

using Shape = Pop3ReplyParser::Shape;
using Status = Pop3ReplyParser::Status;

struct Outcome {
    bool complete = false;
    std::size_t used = 0;
    int statusCalls = 0;
    Status status = Status::Invalid;
    std::string text;
    std::string data;

    bool operator==(const Outcome &) const = default;
};

class RecordingSink : public Pop3ReplyParser::Sink {
public:
    explicit RecordingSink(Outcome &outcome) : outcome_(outcome) {}
    void status(Status status, std::string_view text) override
    {
        ++outcome_.statusCalls;
        outcome_.status = status;
        outcome_.text = text;
    }
    void data(std::string_view chunk) override { outcome_.data += chunk; }

private:
    Outcome &outcome_;
};

// Feeds the input in pieces of the given sizes (the last piece takes the rest),
// the way bytes come off a socket.
Outcome parseInPieces(Shape shape, std::string_view input, const std::vector<std::size_t> &pieces)
{
    Outcome outcome;
    RecordingSink sink(outcome);
    Pop3ReplyParser parser;
    parser.start(shape);
    std::size_t offset = 0;
    for (std::size_t i = 0; offset < input.size() && !parser.complete(); ++i) {
        const std::size_t size = i < pieces.size() ? pieces[i] : input.size() - offset;
        const std::string_view piece = input.substr(offset, size);
        const std::size_t used = parser.feed(piece, sink);
        EXPECT_LE(used, piece.size());
        EXPECT_TRUE(used == piece.size() || parser.complete()) << "stopped early inside a reply";
        offset += used;
    }
    outcome.complete = parser.complete();
    outcome.used = offset;
    return outcome;
}

struct ParserCase {
    const char *name;
    Shape shape;
    std::string input;
    bool complete;
    Status status;
    std::string text;
    std::string data;
    std::size_t used; // where the reply ends in the input
};

// Names the case in test listings.
void PrintTo(const ParserCase &c, std::ostream *out)
{
    *out << c.name;
}

class ReplyParser : public ::testing::TestWithParam<ParserCase> {};

TEST_P(ReplyParser, GivesTheSameReplyHoweverTheBytesAreSplit)
{
    const ParserCase &c = GetParam();
    const int statusCalls = c.input.find('\n') != std::string::npos ? 1 : 0;
    const Outcome expected{c.complete, c.used, statusCalls, c.status, c.text, c.data};
    EXPECT_EQ(parseInPieces(c.shape, c.input, {}), expected) << "whole";
    EXPECT_EQ(parseInPieces(c.shape, c.input, std::vector<std::size_t>(c.input.size(), 1)), expected) << "byte by byte";
    for (std::size_t split = 1; split < c.input.size(); ++split)
        EXPECT_EQ(parseInPieces(c.shape, c.input, {split}), expected) << "split at " << split;
}

const std::string kLongStatus = "+OK " + std::string(2000, 'a') + "\r\n";

INSTANTIATE_TEST_SUITE_P(
    Pop3, ReplyParser,
    ::testing::Values(
        ParserCase{"ok", Shape::SingleLine, "+OK hello there\r\n", true, Status::Ok, "hello there", "", 17},
        ParserCase{"bare_ok", Shape::SingleLine, "+OK\r\n", true, Status::Ok, "", "", 5},
        ParserCase{"err", Shape::SingleLine, "-ERR no such message\r\n", true, Status::Err, "no such message", "", 22},
        ParserCase{"err_ends_multiline", Shape::MultiLine, "-ERR no\r\n.\r\n", true, Status::Err, "no", "", 9},
        ParserCase{"not_pop3", Shape::SingleLine, "* OK IMAP\r\n", true, Status::Invalid, "* OK IMAP", "", 11},
        ParserCase{"bare_challenge_ends_multiline", Shape::MultiLine, "+\r\n.\r\n", true, Status::Challenge, "", "", 3},
        ParserCase{"plus_and_a_word", Shape::SingleLine, "+go on\r\n", true, Status::Invalid, "+go on", "", 8},
        ParserCase{"bare_lf", Shape::MultiLine, "+OK\nA\n\nB\n.\n", true, Status::Ok, "", "A\n\nB\n", 11},
        ParserCase{"empty_block", Shape::MultiLine, "+OK 0 messages\r\n.\r\n", true, Status::Ok, "0 messages", "", 19},
        ParserCase{"unstuffing", Shape::MultiLine, "+OK\r\n..\r\n...x\r\n.y\r\n.\r\n", true, Status::Ok, "",
                   ".\r\n..x\r\ny\r\n", 22},
        ParserCase{"dot_inside_lines", Shape::MultiLine, "+OK\r\na.\r\nb .\r\n.\r\n", true, Status::Ok, "",
                   "a.\r\nb .\r\n", 17},
        ParserCase{"dot_then_cr_inside_line", Shape::MultiLine, "+OK\r\n.\rX\r\n.\r\n", true, Status::Ok, "", "\rX\r\n",
                   13},
        ParserCase{"stops_at_reply_end", Shape::MultiLine, "+OK\r\nbody\r\n.\r\n+OK next\r\n", true, Status::Ok, "",
                   "body\r\n", 14},
        ParserCase{"single_stops_at_line_end", Shape::SingleLine, "+OK a\r\n+OK b\r\n", true, Status::Ok, "a", "", 7},
        ParserCase{"eight_bit", Shape::MultiLine, std::string("+OK\r\n\xe9\x87\x91\xff\x00z\r\n.\r\n", 16), true, Status::Ok, "",
                   std::string("\xe9\x87\x91\xff\x00z\r\n", 8), 16},
        ParserCase{"cut_in_block", Shape::MultiLine, "+OK\r\nabc\r\n.", false, Status::Ok, "", "abc\r\n", 11},
        ParserCase{"cut_in_status", Shape::SingleLine, "+OK no line end", false, Status::Invalid, "", "", 15},
        ParserCase{"long_status_is_cut", Shape::SingleLine, kLongStatus, true, Status::Ok,
                   std::string(Pop3ReplyParser::kMaxStatusText - 4, 'a'), "", kLongStatus.size()}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(ReplyParser, ReadsRepliesOneAfterAnother)
{
    const std::string input = "+OK 2 20\r\n+OK\r\n1 10\r\n2 10\r\n.\r\n";
    Outcome stat;
    Outcome list;
    RecordingSink statSink(stat);
    RecordingSink listSink(list);
    Pop3ReplyParser parser;
    parser.start(Shape::SingleLine);
    const std::size_t used = parser.feed(input, statSink);
    parser.start(Shape::MultiLine);
    const std::size_t rest = parser.feed(std::string_view(input).substr(used), listSink);
    EXPECT_EQ(stat.text, "2 20");
    EXPECT_EQ(list.data, "1 10\r\n2 10\r\n");
    EXPECT_EQ(used + rest, input.size());
    EXPECT_TRUE(parser.complete());
}

TEST(LineSplitter, SplitsAcrossChunksDropsLineEndsAndCutsLongLines)
{
    Pop3LineSplitter splitter(8);
    std::vector<std::string> lines;
    const auto keep = [&](std::string_view line) { lines.emplace_back(line); };
    splitter.feed("ST", keep);
    splitter.feed("LS\r\nPIPELINING\r\nUS", keep);
    splitter.feed("ER\n\r\n", keep);
    EXPECT_EQ(lines, (std::vector<std::string>{"STLS", "PIPELINI", "USER", ""}));
}

} // namespace
} // namespace kingyo
