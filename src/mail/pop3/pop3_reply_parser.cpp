#include "mail/pop3/pop3_reply_parser.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kingyo {

namespace {

// The next "\n." in the text: the only place a block can end or be stuffed.
// Message bodies pass through here whole, so it looks at 16 bytes at a time.
std::size_t findLineStartingWithDot(std::string_view text)
{
    const char *bytes = text.data();
    const std::size_t size = text.size();
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128i lineFeed = _mm_set1_epi8('\n');
    const __m128i dot = _mm_set1_epi8('.');
    for (; i + 17 <= size; i += 16) {
        const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i *>(bytes + i));
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i *>(bytes + i + 1));
        const int hits = _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(here, lineFeed), _mm_cmpeq_epi8(next, dot)));
        if (hits != 0)
            return i + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(hits)));
    }
#endif
    for (; i + 1 < size; ++i) {
        if (bytes[i] == '\n' && bytes[i + 1] == '.')
            return i;
    }
    return std::string_view::npos;
}

std::string_view withoutCr(std::string_view line)
{
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    return line;
}

} // namespace

void Pop3ReplyParser::start(Shape shape)
{
    shape_ = shape;
    state_ = State::StatusLine;
    statusLine_.clear();
}

std::size_t Pop3ReplyParser::feed(std::string_view input, Sink &sink)
{
    std::size_t used = 0;
    while (used < input.size() && state_ != State::Done) {
        const std::string_view rest = input.substr(used);
        if (state_ == State::StatusLine || state_ == State::SkipStatusRest)
            used += feedStatus(rest, sink);
        else
            used += feedBlock(rest, sink);
    }
    return used;
}

std::size_t Pop3ReplyParser::feedStatus(std::string_view input, Sink &sink)
{
    const std::size_t end = input.find('\n');
    const std::string_view part = input.substr(0, end);
    if (state_ == State::StatusLine) {
        // One byte beyond the limit keeps a CR that belongs to the line end.
        const std::size_t room = kMaxStatusText + 1 - statusLine_.size();
        statusLine_.append(part.substr(0, room));
        if (part.size() > room)
            state_ = State::SkipStatusRest;
    }
    if (end == std::string_view::npos)
        return input.size();
    finishStatus(sink);
    return end + 1;
}

void Pop3ReplyParser::finishStatus(Sink &sink)
{
    std::string_view line = withoutCr(statusLine_);
    if (line.size() > kMaxStatusText)
        line = line.substr(0, kMaxStatusText);
    Status status = Status::Invalid;
    std::string_view text = line;
    if (line.starts_with("+OK")) {
        status = Status::Ok;
        text.remove_prefix(3);
    } else if (line.starts_with("-ERR")) {
        status = Status::Err;
        text.remove_prefix(4);
    } else if (line == "+" || line.starts_with("+ ")) { // RFC 5034: the challenge, in base64
        status = Status::Challenge;
        text.remove_prefix(1);
    }
    if (status != Status::Invalid && !text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    sink.status(status, text);
    const bool blockFollows = status == Status::Ok && shape_ == Shape::MultiLine;
    state_ = blockFollows ? State::LineStart : State::Done;
}

std::size_t Pop3ReplyParser::feedBlock(std::string_view input, Sink &sink)
{
    switch (state_) {
    case State::LineStart:
        if (input.front() == '.') {
            state_ = State::AfterDot; // the dot is stuffing or the terminator: never data
            return 1;
        }
        state_ = State::InLine;
        return 0;
    case State::AfterDot:
    case State::AfterDotCr:
        if (input.front() == '\n') {
            state_ = State::Done;
            return 1;
        }
        if (state_ == State::AfterDot && input.front() == '\r') {
            state_ = State::AfterDotCr;
            return 1;
        }
        if (state_ == State::AfterDotCr)
            sink.data("\r"); // ".\r" followed by more text: a stuffed line that holds a CR
        state_ = State::InLine;
        return 0;
    default: {
        const std::size_t hit = findLineStartingWithDot(input);
        if (hit == std::string_view::npos) {
            sink.data(input);
            state_ = input.back() == '\n' ? State::LineStart : State::InLine;
            return input.size();
        }
        sink.data(input.substr(0, hit + 1));
        state_ = State::AfterDot;
        return hit + 2;
    }
    }
}

void Pop3LineSplitter::append(std::string_view part)
{
    if (line_.size() < maxLength_ + 1)
        line_.append(part.substr(0, maxLength_ + 1 - line_.size()));
}

std::string Pop3LineSplitter::takeLine()
{
    std::string line = std::string(withoutCr(line_).substr(0, maxLength_));
    line_.clear();
    return line;
}

} // namespace kingyo
